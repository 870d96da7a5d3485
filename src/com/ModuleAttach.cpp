// The module's load and unload hooks, which call DllMain. Built into a
// library of its own that is linked after everything else in the module, so
// that its load hook runs after every static object of the module (the
// query strings, setting names and defaults, the module state) has been
// built: the loader runs a module's initialisers in link order. The unload
// hook is registered at the end of loading, so it runs before any of those
// objects is destroyed, whether the module is unloaded or the process ends.
#include <cstdlib>

#include "com/Exports.h"
#include "platform/LibLoaderApi.h"

namespace {

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

void OnUnload() { DllMain(ThisModule(), DLL_PROCESS_DETACH, nullptr); }

__attribute__((constructor)) void OnLoad() {
  DllMain(ThisModule(), DLL_PROCESS_ATTACH, nullptr);
  std::atexit(OnUnload);  // runs at unload, before the static objects' destructors
}

}  // namespace
