// Platform layer: loading modules (shared libraries) and the module entry
// notifications.
// Promises: LoadLibraryW loads a module by path (resolving all its symbols
// at once, keeping them to itself) and returns its handle, the same handle
// for every load of one module, each load counted; FreeLibrary drops one
// count and unloads the module at zero. GetProcAddress finds an exported
// symbol. GetModuleHandleExW with GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS
// gives the handle of the module holding an address, counted unless
// GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT is given; it may be called
// from within the module's own load notification. A handle from any of
// these names its module to GetModuleFileNameW (platform/ProcessFacts.h).
// A module's DllMain is called by the module itself, from its load and
// unload hooks, with DLL_PROCESS_ATTACH and DLL_PROCESS_DETACH; there are
// no thread notifications, so DisableThreadLibraryCalls has nothing to turn
// off and succeeds. Failures return null or FALSE and set the last error;
// LastLibraryLoadError gives the loader's own words for this thread's last
// failed load. Thread-safe.
#pragma once

#include <string>

#include "platform/WinError.h"
#include "platform/WinTypes.h"

using FARPROC = void (*)();

constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;

constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT = 0x2;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 0x4;

constexpr DWORD ERROR_PROC_NOT_FOUND = 127;

HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
BOOL FreeLibrary(HMODULE hLibModule);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule);
BOOL DisableThreadLibraryCalls(HMODULE hLibModule);

namespace ostrel::platform {
// The loader's message for this thread's last failed LoadLibraryW (empty
// when the last load succeeded or none was made).
std::wstring LastLibraryLoadError();
}  // namespace ostrel::platform
