#include "common/FuzzInput.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace ostrel::fuzz {
namespace {

std::string MakeRoot() {
  // Memory-backed where there is one: the registry store syncs every write.
  const bool shm = access("/dev/shm", W_OK) == 0;
  std::string pattern = std::string(shm ? "/dev/shm" : "/tmp") + "/ostrel-fuzz-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create the fuzz folder");
  static const pid_t owner = getpid();
  std::atexit([] {
    if (getpid() != owner) return;
    std::error_code ec;
    std::filesystem::remove_all(FuzzRoot(), ec);
  });
  return pattern;
}

// Ahead of the system's static objects, which read the environment.
__attribute__((constructor(101))) void Isolate() {
  const char* names[][2] = {{"HOME", "/home"},
                            {"XDG_CONFIG_HOME", "/config"},
                            {"XDG_CACHE_HOME", "/cache"},
                            {"XDG_RUNTIME_DIR", "/runtime"},
                            {"TMPDIR", "/tmp"}};
  for (auto& n : names) {
    const std::string dir = FuzzRoot() + n[1];
    mkdir(dir.c_str(), 0700);
    setenv(n[0], dir.c_str(), 1);
  }
}

}  // namespace

const std::string& FuzzRoot() {
  static const std::string* root = new std::string(MakeRoot());
  return *root;
}

std::wstring WideFromBytes(const std::uint8_t* data, std::size_t size) {
  std::wstring out;
  out.reserve(size);
  for (std::size_t i = 0; i < size;) {
    const std::uint8_t b = data[i];
    const std::size_t n = b >= 0xF0 && b < 0xF5 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 1;
    char32_t cp = n == 4 ? b & 0x07 : n == 3 ? b & 0x0F : n == 2 ? b & 0x1F : b;
    bool ok = n > 1 && i + n <= size;
    for (std::size_t k = 1; ok && k < n; ++k) {
      ok = (data[i + k] & 0xC0) == 0x80;
      cp = (cp << 6) | (data[i + k] & 0x3F);
    }
    if (ok && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
      out += static_cast<wchar_t>(cp);
      i += n;
    } else {
      out += static_cast<wchar_t>(b);
      ++i;
    }
  }
  return out;
}

std::wstring CharsFromBytes(const std::uint8_t* data, std::size_t size) {
  return std::wstring(data, data + size);
}

}  // namespace ostrel::fuzz
