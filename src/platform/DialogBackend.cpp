// Finds the on-screen dialog backend: only where a display is named, from
// the library beside this one, once per process; the thread that first
// opens it owns it, since the toolkit takes calls from one thread only.
#include "platform/DialogBackend.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace ostrel::platform::dialogs {

namespace {

std::mutex g_mutex;
bool g_tried = false;
const Backend* g_backend = nullptr;
std::thread::id g_owner;

bool DisplayNamed() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

// The backend library sits in the folder of the library holding this code.
std::string LibraryPath() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ScreenBackend), &info) || !info.dli_fname) return "";
  std::string path = info.dli_fname;
  const std::size_t slash = path.rfind('/');
  path = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  return path + kBackendLibrary;
}

const Backend* Load() {
  const std::string path = LibraryPath();
  void* library = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    std::fprintf(stderr, "[dialogs] no window can be shown: %s\n", dlerror());
    return nullptr;
  }
  // Never unloaded: the toolkit cannot be started twice in one process.
  auto entry = reinterpret_cast<const Backend* (*)()>(dlsym(library, kBackendEntry));
  const Backend* backend = entry ? entry() : nullptr;
  if (!backend || !backend->open()) {
    std::fprintf(stderr, "[dialogs] no window can be shown: the display cannot be opened\n");
    return nullptr;
  }
  return backend;
}

}  // namespace

const Backend* ScreenBackend() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_tried) {
    if (!DisplayNamed()) return nullptr;  // asked again once one is named
    g_tried = true;
    g_backend = Load();
    g_owner = std::this_thread::get_id();
  }
  return g_owner == std::this_thread::get_id() ? g_backend : nullptr;
}

}  // namespace ostrel::platform::dialogs
