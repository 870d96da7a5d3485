// ostrel-regsvr: registers an in-process server (runs its DllRegisterServer)
// or, with /u, unregisters it (DllUnregisterServer), in the registry of the
// user who runs it.
//
//   ostrel-regsvr [/u] MODULE
//
// Exit status: 0 done, 2 wrong command line, 3 the module cannot be loaded,
// 4 it has no such entry point, 5 the entry point reported a failure.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "platform/LibLoaderApi.h"
#include "platform/Utf8.h"

using ostrel::platform::FromUtf8;
using ostrel::platform::ToUtf8;

namespace {

const char kUsage[] =
    "usage: ostrel-regsvr [/u] MODULE\n"
    "  Registers the in-process server MODULE (its DllRegisterServer), or with\n"
    "  /u unregisters it (DllUnregisterServer), in your registry.\n";

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false;
  std::string module;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "/u" || arg == "/U" || arg == "-u") {
      unregister = true;
    } else if (arg == "--help" || arg == "-h" || arg == "/?") {
      std::cout << kUsage;
      return 0;
    } else if (module.empty() && !arg.empty() && arg[0] != '-') {
      module = arg;
    } else {
      std::cerr << "ostrel-regsvr: unexpected argument " << arg << "\n" << kUsage;
      return 2;
    }
  }
  if (module.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  // A module is always loaded by its full path, never looked up elsewhere.
  std::error_code ec;
  const std::string path = std::filesystem::absolute(module, ec).lexically_normal().string();
  HMODULE loaded = LoadLibraryW(FromUtf8(ec ? module : path).c_str());
  if (!loaded) {
    std::cerr << "ostrel-regsvr: cannot load " << module << ": "
              << ToUtf8(ostrel::platform::LastLibraryLoadError()) << "\n";
    return 3;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  using Entry = HRESULT (*)();
  const auto function = reinterpret_cast<Entry>(GetProcAddress(loaded, entry));
  if (!function) {
    std::cerr << "ostrel-regsvr: " << module << " has no " << entry
              << " (not a self-registering module)\n";
    FreeLibrary(loaded);
    return 4;
  }
  const HRESULT hr = function();
  FreeLibrary(loaded);
  if (FAILED(hr)) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    std::cerr << "ostrel-regsvr: " << entry << " in " << module << " failed: " << code << "\n";
    return 5;
  }
  std::cout << entry << " in " << path << " succeeded.\n";
  return 0;
}
