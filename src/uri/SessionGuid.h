// CSessionGuid: the GUID created once per process that keys every hash key,
// so a key verifies only in the process that made it. Created on first use;
// a thread that asks while it is being created waits and gets the same
// text. If no GUID can be created, a fixed fallback text stands in for the
// whole process. All operations are static and thread-safe.
#pragma once

#include <string>

#include "platform/ObjBase.h"

class CSessionGuid {
 public:
  virtual ~CSessionGuid();

  // The 38 upper-case hexadecimal digits of this process's GUID (its
  // registry form with braces and hyphens replaced by digits), or the
  // fallback text as stored when no GUID could be created.
  static std::wstring GetGuidText();
  static std::wstring FormatGuid(const GUID& guid);
  // s + GUID text + s, and GUID text + s + GUID text.
  static std::wstring TextGuidText(const std::wstring& s);
  static std::wstring GuidTextGuid(const std::wstring& s);

  static const wchar_t* const FallbackGuidText;
};
