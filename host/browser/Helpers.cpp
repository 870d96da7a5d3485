#include "browser/Helpers.h"

#include <cstdio>

#include "platform/LibLoaderApi.h"
#include "platform/Utf16.h"
#include "platform/WinReg.h"

namespace ostrel::host {

namespace {

const wchar_t kHelpersKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
const wchar_t kSettingsKey[] = L"SOFTWARE\\Ostrel\\AntiPhish";

std::wstring Text(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring Hex(HRESULT hr) {
  wchar_t text[16];
  std::swprintf(text, 16, L"0x%08X", static_cast<unsigned>(hr));
  return text;
}

DWORD Flag(const wchar_t* name, DWORD fallback) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
    return fallback;
  BYTE data[4] = {};
  DWORD size = sizeof data;
  const LSTATUS status = RegQueryValueExW(opened, name, nullptr, nullptr, data, &size);
  RegCloseKey(opened);
  if (status != ERROR_SUCCESS) return fallback;
  return data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24;
}

}  // namespace

std::vector<CLSID> RegisteredHelpers() {
  std::vector<CLSID> helpers;
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHelpersKey, 0, KEY_READ, &opened) != ERROR_SUCCESS)
    return helpers;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(opened, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    CLSID clsid;
    if (CLSIDFromString(name, &clsid) == S_OK) helpers.push_back(clsid);
  }
  RegCloseKey(opened);
  return helpers;
}

IObjectWithSite* CreateHelper(const CLSID& clsid, std::wstring* error) {
  void* helper = nullptr;
  const HRESULT hr =
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IObjectWithSite, &helper);
  if (SUCCEEDED(hr) && helper) return static_cast<IObjectWithSite*>(helper);
  const std::wstring name = L"helper " + Text(clsid);
  switch (hr) {
    case REGDB_E_CLASSNOTREG:
      *error = name + L" is listed but its class is not registered";
      break;
    case CO_E_DLLNOTFOUND:
      *error = name + L": its module " + ModuleOf(clsid) + L" cannot be loaded: " +
               platform::LastLibraryLoadError();
      break;
    case CO_E_ERRORINDLL:
      *error = name + L": " + ModuleOf(clsid) + L" is not an in-process server";
      break;
    case E_NOINTERFACE:
      *error = name + L" is not a helper object (no IObjectWithSite)";
      break;
    default:
      *error = name + L" could not be created (" + Hex(hr) + L")";
      break;
  }
  return nullptr;
}

std::wstring ModuleOf(const CLSID& clsid) {
  const std::wstring key = L"CLSID\\" + Text(clsid) + L"\\InprocServer32";
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
    return L"";
  BYTE data[8192];
  DWORD size = sizeof data;
  std::wstring path;
  if (RegQueryValueExW(opened, nullptr, nullptr, nullptr, data, &size) == ERROR_SUCCESS)
    path = platform::FromUtf16Le(data, size);
  RegCloseKey(opened);
  return path;
}

bool FilterPaused() { return Flag(L"BHOPaused", 0) != 0; }

bool FilterActive() { return Flag(L"BHOActive", 1) != 0; }

}  // namespace ostrel::host
