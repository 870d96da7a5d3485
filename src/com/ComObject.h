// The module's COM object plumbing: identity, reference counting and
// aggregation for its classes, and the module lock each live object holds
// (so DllCanUnloadNow says S_FALSE while any exists). A class T derives from
// its interfaces, declares none of IUnknown's methods itself, and provides
//   void* GetInterface(REFIID iid)   its interface for iid, IID_IUnknown
//                                    included, or null; no reference taken.
// CreateComObject<T> builds T stand-alone (CComObject: its own count) or
// inside an outer object (CComAggObject: the outer gets a private,
// non-delegating IUnknown, and T's interfaces forward IUnknown to the outer).
// Counting is single-threaded: an object is used on the thread that made it.
#pragma once

#include <new>

#include "com/Module.h"
#include "platform/ObjBase.h"
#include "platform/Unknwn.h"

template <class T>
class CComObject final : public T {
 public:
  CComObject() { g_module.Lock(); }
  ~CComObject() override { g_module.Unlock(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = T::GetInterface(iid);
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_references;
    if (left == 0) delete this;
    return left;
  }

 private:
  ULONG m_references = 0;
};

// T inside an aggregate: every IUnknown call of its interfaces goes to the
// outer object, which holds it.
template <class T>
class CComContainedObject final : public T {
 public:
  explicit CComContainedObject(IUnknown* outer) : m_outer(outer) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return m_outer->QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return m_outer->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return m_outer->Release(); }

 private:
  IUnknown* m_outer;  // not counted: the outer owns us
};

template <class T>
class CComAggObject final : public IUnknown {
 public:
  explicit CComAggObject(IUnknown* outer) : m_contained(outer), m_outer(outer) { g_module.Lock(); }
  virtual ~CComAggObject() { g_module.Unlock(); }

  // The non-delegating IUnknown: only the outer object calls these.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    *out = m_contained.GetInterface(iid);
    if (!*out) return E_NOINTERFACE;
    m_outer->AddRef();  // what the inner hands out counts on the outer
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_references;
    if (left == 0) delete this;
    return left;
  }

 private:
  CComContainedObject<T> m_contained;
  IUnknown* m_outer;
  ULONG m_references = 0;
};

// Makes one object of T for a class factory. An outer object may only ask
// for IUnknown (CLASS_E_NOAGGREGATION otherwise). Nothing raised while
// building the object leaves here: it reports E_OUTOFMEMORY.
inline HRESULT HandOutNewObject(IUnknown* object, REFIID iid, void** out) {
  object->AddRef();
  const HRESULT hr = object->QueryInterface(iid, out);
  object->Release();  // deletes the object when the query failed
  return hr;
}

template <class T>
HRESULT CreateComObject(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  try {
    if (outer) return HandOutNewObject(new CComAggObject<T>(outer), iid, out);
    auto* object = new CComObject<T>();
    return HandOutNewObject(static_cast<IUnknown*>(object->GetInterface(IID_IUnknown)), iid, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
