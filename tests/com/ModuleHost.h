// The real module, loaded as the hosts load it: registered by its own
// DllRegisterServer, its helpers found under the Browser Helper Objects key
// and created through the registry (CoCreateInstance). Paths and values of
// the registry as the tests read them back.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/LibLoaderApi.h"
#include "platform/OCIdl.h"
#include "platform/ObjBase.h"
#include "platform/Utf16.h"
#include "platform/Utf8.h"
#include "platform/WinReg.h"

namespace ostrel::test {

inline const wchar_t kHelpersKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";

inline std::wstring ModulePath() { return platform::FromUtf8(OSTREL_MODULE); }

// One entry point of the module, loading it (each call counts a load).
template <typename Function>
Function ModuleEntry(const char* name, HMODULE* loaded = nullptr) {
  HMODULE module = LoadLibraryW(ModulePath().c_str());
  if (loaded) *loaded = module;
  return module ? reinterpret_cast<Function>(GetProcAddress(module, name)) : nullptr;
}

inline HRESULT CallModule(const char* name) {
  HMODULE module = nullptr;
  auto entry = ModuleEntry<HRESULT (*)()>(name, &module);
  const HRESULT hr = entry ? entry() : E_FAIL;
  if (module) FreeLibrary(module);
  return hr;
}

inline bool KeyExists(HKEY hive, const std::wstring& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

// A REG_SZ value, or nothing when the key or value is missing (or of
// another type).
inline std::optional<std::wstring> StringValue(HKEY hive, const std::wstring& key,
                                               const wchar_t* name) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return std::nullopt;
  BYTE data[8192];
  DWORD size = sizeof data, type = 0;
  const LSTATUS status = RegQueryValueExW(opened, name, nullptr, &type, data, &size);
  RegCloseKey(opened);
  if (status != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
  return platform::FromUtf16Le(data, size);
}

inline std::vector<std::wstring> Subkeys(HKEY hive, const std::wstring& key) {
  std::vector<std::wstring> names;
  HKEY opened = nullptr;
  if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(opened, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    names.emplace_back(name, length);
  }
  RegCloseKey(opened);
  return names;
}

// Every helper registered under the Browser Helper Objects key, created as
// the browser creates them.
inline std::vector<IObjectWithSite*> CreateHelpers() {
  std::vector<IObjectWithSite*> helpers;
  for (const std::wstring& name : Subkeys(HKEY_LOCAL_MACHINE, kHelpersKey)) {
    CLSID clsid;
    void* helper = nullptr;
    if (CLSIDFromString(name.c_str(), &clsid) == S_OK &&
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IObjectWithSite, &helper) ==
            S_OK)
      helpers.push_back(static_cast<IObjectWithSite*>(helper));
  }
  return helpers;
}

}  // namespace ostrel::test
