// Owning holders for what COM hands out: CComPtr keeps one reference on an
// interface and releases it when replaced or destroyed; CVariant clears its
// VARIANT and CBstr frees its BSTR on every way out. Used on one thread, by
// the module's objects.
#pragma once

#include "platform/OleAuto.h"

template <class T>
class CComPtr {
 public:
  CComPtr() = default;
  CComPtr(const CComPtr&) = delete;
  CComPtr& operator=(const CComPtr&) = delete;
  ~CComPtr() { Reset(); }

  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }

  // Takes the interface of iid from source (null source or no such
  // interface: holds null). The previous reference is released after the
  // query, so a source that is the held object stays alive for it.
  HRESULT QueryFrom(IUnknown* source, REFIID iid) {
    T* found = nullptr;
    const HRESULT hr =
        source ? source->QueryInterface(iid, reinterpret_cast<void**>(&found)) : E_NOINTERFACE;
    T* previous = m_p;
    m_p = SUCCEEDED(hr) ? found : nullptr;
    if (previous) previous->Release();
    return source ? hr : E_POINTER;
  }

  // Holds a new reference on p.
  void Assign(T* p) {
    if (p) p->AddRef();
    T* previous = m_p;
    m_p = p;
    if (previous) previous->Release();
  }

  // For out-parameters: drops the held reference and lends the slot.
  T** Receive() {
    Reset();
    return &m_p;
  }

  void Reset() {
    T* previous = m_p;
    m_p = nullptr;
    if (previous) previous->Release();
  }

 private:
  T* m_p = nullptr;
};

class CVariant {
 public:
  CVariant() { VariantInit(&m_v); }
  CVariant(const CVariant&) = delete;
  CVariant& operator=(const CVariant&) = delete;
  ~CVariant() { VariantClear(&m_v); }
  VARIANT* operator&() { return &m_v; }
  const VARIANT& Get() const { return m_v; }

 private:
  VARIANT m_v;
};

class CBstr {
 public:
  CBstr() = default;
  CBstr(const CBstr&) = delete;
  CBstr& operator=(const CBstr&) = delete;
  ~CBstr() { SysFreeString(m_s); }
  BSTR Get() const { return m_s; }
  BSTR* Receive() {
    SysFreeString(m_s);
    m_s = nullptr;
    return &m_s;
  }

 private:
  BSTR m_s = nullptr;
};
