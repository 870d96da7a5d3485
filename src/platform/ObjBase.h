// Platform layer: GUIDs and their text form.
// Promises: CoCreateGuid fills a random (version 4) GUID from the kernel's
// random source and returns S_OK, or a failure HRESULT leaving the GUID
// untouched; StringFromGUID2 writes the 38-character registry form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper-case digits) and returns
// the characters written including the terminator (39), or 0 when the
// buffer holds fewer than 39 characters.
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

HRESULT CoCreateGuid(GUID* pguid);
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
