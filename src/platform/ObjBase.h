// Platform layer: GUIDs and their text form.
// Promises: CoCreateGuid fills a random (version 4) GUID from the kernel's
// random source and returns S_OK, or a failure HRESULT leaving the GUID
// untouched; StringFromGUID2 writes the 38-character registry form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper-case digits) and returns
// the characters written including the terminator (39), or 0 when the
// buffer holds fewer than 39 characters. CLSIDFromString (and IIDFromString)
// read that form back, digits in either case, and nothing else (no spaces,
// no missing braces): CO_E_CLASSSTRING for anything else, the GUID then
// untouched.
// Class objects for hosts (implemented in platform/ComServer.cpp):
// CoGetClassObject finds the class under
// HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 (default value: the
// module's path), loads that module once per process (LoadLibraryW) and asks
// its DllGetClassObject; only CLSCTX_INPROC_SERVER is served. A class that
// is not registered gives REGDB_E_CLASSNOTREG, a module that cannot be
// loaded CO_E_DLLNOTFOUND (the loader's reason from
// ostrel::platform::LastLibraryLoadError, platform/LibLoaderApi.h), a module
// without DllGetClassObject CO_E_ERRORINDLL; otherwise the module's own
// answer. CoCreateInstance is CoGetClassObject for IClassFactory, then
// CreateInstance. CoFreeUnusedLibraries unloads every module so loaded whose
// DllCanUnloadNow answers S_OK. Thread-safe.
#pragma once

#include "platform/WinError.h"
#include "platform/WinTypes.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using CLSID = GUID;
using IID = GUID;
using REFGUID = const GUID&;
using REFCLSID = const GUID&;
using REFIID = const GUID&;
using OLECHAR = wchar_t;
using LPOLESTR = OLECHAR*;

inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }

using LPCOLESTR = const OLECHAR*;
using LPCLSID = CLSID*;
using LPIID = IID*;

HRESULT CoCreateGuid(GUID* pguid);
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid);

// Class contexts; only the in-process server is provided.
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;

constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3u);
constexpr HRESULT CO_E_DLLNOTFOUND = static_cast<HRESULT>(0x800401F8u);
constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9u);

struct IUnknown;
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid,
                         LPVOID* ppv);
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv);
void CoFreeUnusedLibraries();

// The entry points an in-process server exports, as the hosts call them.
using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using LPFNCANUNLOADNOW = HRESULT (*)();
