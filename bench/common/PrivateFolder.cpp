#include "common/PrivateFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

std::string* g_root = nullptr;
pid_t g_owner = 0;

void RemoveRoot() {
  if (getpid() != g_owner || !g_root) return;
  std::error_code ec;
  std::filesystem::remove_all(*g_root, ec);
}

__attribute__((constructor(101))) void Isolate() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base == '/' ? base : "/tmp") + "/ostrel-bench-XXXXXX";
  if (!mkdtemp(pattern.data())) {
    std::perror("ostrel-bench: cannot create a private folder");
    std::_Exit(1);
  }
  g_root = new std::string(pattern);
  g_owner = getpid();
  std::atexit(RemoveRoot);
  const char* names[][2] = {{"HOME", "/home"},
                            {"XDG_CONFIG_HOME", "/config"},
                            {"XDG_RUNTIME_DIR", "/runtime"},
                            {"TMPDIR", "/tmp"}};
  for (auto& n : names) {
    const std::string dir = *g_root + n[1];
    mkdir(dir.c_str(), 0700);
    setenv(n[0], dir.c_str(), 1);
  }
}

}  // namespace

namespace ostrel::bench {

const std::string& PrivateFolder() { return *g_root; }

}  // namespace ostrel::bench
