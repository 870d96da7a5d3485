// Modules over the dynamic loader: a module handle is the loader's own
// handle (glibc's handle is the object's link map, which is what dladdr1
// reports for an address, so both routes give the same value).
#include <dlfcn.h>
#include <link.h>

#include <string>

#include "platform/LibLoaderApi.h"
#include "platform/Utf8.h"

namespace {
thread_local std::wstring t_lastLoadError;
}

namespace ostrel::platform {
std::wstring LastLibraryLoadError() { return t_lastLoadError; }
}  // namespace ostrel::platform

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
  if (!lpLibFileName || !*lpLibFileName) {
    t_lastLoadError = L"no module name";
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string path = ostrel::platform::ToUtf8(lpLibFileName);
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    t_lastLoadError = ostrel::platform::FromUtf8(reason ? reason : "cannot load " + path);
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  t_lastLoadError.clear();
  return static_cast<HMODULE>(handle);
}

BOOL FreeLibrary(HMODULE hLibModule) {
  if (!hLibModule || dlclose(hLibModule) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (!hModule || !lpProcName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* symbol = dlsym(hModule, lpProcName);
  if (!symbol) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule) {
  if (!phModule || !(dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)) {
    // Only the lookup by address is provided.
    if (phModule) *phModule = nullptr;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *phModule = nullptr;
  Dl_info info{};
  link_map* map = nullptr;
  if (!dladdr1(lpModuleName, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) || !map) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) {
    // No loader call: this is safe inside the module's own load hook.
    *phModule = reinterpret_cast<HMODULE>(map);
    return TRUE;
  }
  const bool program = !map->l_name || !*map->l_name;
  void* handle = dlopen(program ? nullptr : map->l_name, RTLD_LAZY | RTLD_NOLOAD);
  if (!handle) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  *phModule = static_cast<HMODULE>(handle);
  return TRUE;
}

BOOL DisableThreadLibraryCalls(HMODULE hLibModule) {
  if (!hLibModule) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
