// The browser's helpers as the registry lists them: every class under
// HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\Browser Helper
// Objects, created through the registry like any in-process class (its
// module loaded once per process). Creation happens on the window's thread,
// which is the helper's apartment. Errors come back as messages a user can
// act on. Thread-safe.
#pragma once

#include <string>
#include <vector>

#include "platform/OCIdl.h"

namespace ostrel::host {

// The class ids listed (names that are no GUID are skipped).
std::vector<CLSID> RegisteredHelpers();

// Creates one helper; on failure returns null and says why in *error.
IObjectWithSite* CreateHelper(const CLSID& clsid, std::wstring* error);

// The module file that serves a class (its InprocServer32), empty when the
// class is not registered.
std::wstring ModuleOf(const CLSID& clsid);

// The settings the stand-in reports beside a navigation, read as the filter
// reads them (HKCU\SOFTWARE\Ostrel\AntiPhish; a missing value is its default).
bool FilterPaused();
bool FilterActive();

}  // namespace ostrel::host
