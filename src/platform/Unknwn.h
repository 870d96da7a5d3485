// Platform layer: the root COM interface, interface identifiers and the
// class-object interface.
// Promises: the IUnknown contract as the system relies on it:
// QueryInterface hands out an interface with a reference taken (or
// E_NOINTERFACE and a null pointer), AddRef and Release count references
// and return the new count, and an object deletes itself at zero. No
// apartments or marshalling: calls are direct C++ virtual calls.
// IClassFactory::CreateInstance makes one object of its class (aggregated
// when an outer object is given, which must then ask for IUnknown);
// LockServer(TRUE/FALSE) keeps the serving module loaded in between.
#pragma once

#include "platform/ObjBase.h"

// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000,
                                     {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;  // objects are destroyed through Release
};

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }

// {00000001-0000-0000-C000-000000000046}
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000,
                                          {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  virtual HRESULT LockServer(BOOL fLock) = 0;

 protected:
  ~IClassFactory() = default;
};
