#include "platform/UserFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace ostrel::platform::folders {
namespace {

std::string AbsoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  // The base-directory rules say a relative value is to be ignored.
  return (value && value[0] == '/') ? std::string(value) : std::string();
}

std::string UnderHome(const char* relative) {
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : home + relative;
}

}  // namespace

std::string HomeFolder() {
  std::string home = AbsoluteEnv("HOME");
  if (!home.empty()) return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  while (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE)
    buffer.resize(buffer.size() * 2);
  if (found && found->pw_dir && found->pw_dir[0] == '/') home = found->pw_dir;
  return home;
}

std::string ConfigHome() {
  const std::string value = AbsoluteEnv("XDG_CONFIG_HOME");
  return value.empty() ? UnderHome("/.config") : value;
}

std::string CacheHome() {
  const std::string value = AbsoluteEnv("XDG_CACHE_HOME");
  return value.empty() ? UnderHome("/.cache") : value;
}

int MakePrivateFolders(const std::string& path) {
  const std::string::size_type end = path.find_last_not_of('/');
  if (end == std::string::npos) return path.empty() ? ENOENT : 0;  // "" or the root
  const std::string folder = path.substr(0, end + 1);
  struct stat st {};
  if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (errno != ENOENT) return errno;
  const std::string::size_type slash = folder.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    const int parent = MakePrivateFolders(folder.substr(0, slash));
    if (parent != 0) return parent;
  }
  if (mkdir(folder.c_str(), 0700) == 0) return 0;
  const int error = errno;
  // Another process may have made it in the meantime.
  if (error == EEXIST && stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  return error;
}

bool IsPrivateFolder(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

}  // namespace ostrel::platform::folders
