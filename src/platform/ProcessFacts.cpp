#include "platform/ProcessFacts.h"

#include <dlfcn.h>
#include <link.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/Testing.h"
#include "platform/UserFolders.h"
#include "platform/Utf8.h"

namespace {

namespace folders = ostrel::platform::folders;

std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return std::string();
  std::string result = resolved;
  std::free(resolved);
  return result;
}

// The folder, resolved, when it is private to this user; else empty.
std::string PrivateFolder(const std::string& path) {
  const std::string real = RealPath(path);
  return !real.empty() && folders::IsPrivateFolder(real) ? real : std::string();
}

// The temporary folder, or empty with *error set.
std::string TempFolder(DWORD* error) {
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir && tmpdir[0] == '/') {
    // A shared folder (/tmp, or anyone else's) or a missing one is not
    // used: fall through to our own.
    const std::string chosen = PrivateFolder(tmpdir);
    if (!chosen.empty()) return chosen;
  }
  const std::string cache = folders::CacheHome();
  if (cache.empty()) {
    *error = ERROR_FILE_NOT_FOUND;
    return std::string();
  }
  const std::string ours = cache + "/ostrel/tmp";
  if (folders::MakePrivateFolders(ours) != 0) {
    *error = ERROR_ACCESS_DENIED;
    return std::string();
  }
  // Our own folder: tighten it if its mode was widened since.
  struct stat st {};
  if (lstat(ours.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid())
    chmod(ours.c_str(), 0700);
  const std::string chosen = PrivateFolder(ours);
  if (chosen.empty()) *error = ERROR_ACCESS_DENIED;
  return chosen;
}

bool UserName(std::string* name) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  int rc = 0;
  while ((rc = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE)
    buffer.resize(buffer.size() * 2);
  if (rc != 0 || !found || !found->pw_name) return false;
  *name = found->pw_name;
  return true;
}

std::mutex g_programPathMutex;
std::string g_programPath;  // a test's stand-in; empty: the real one

std::string ProgramPath() {
  {
    std::lock_guard<std::mutex> lock(g_programPathMutex);
    if (!g_programPath.empty()) return g_programPath;
  }
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

struct LoadedObject {
  std::string name;     // as the loader has it; "" for the program
  std::uintptr_t base;  // where its ELF header is mapped
};

int CollectObject(dl_phdr_info* info, std::size_t, void* data) {
  std::uintptr_t base = 0;
  bool found = false;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type == PT_LOAD && ph.p_offset == 0) {
      base = info->dlpi_addr + ph.p_vaddr;
      found = true;
      break;
    }
  }
  if (found) {
    static_cast<std::vector<LoadedObject>*>(data)->push_back(
        {info->dlpi_name ? info->dlpi_name : "", base});
  }
  return 0;
}

bool IsHandleOf(const char* name, void* handle) {
  // Asking the loader for an object it already has gives that object's
  // handle; a made-up handle is only compared, never followed.
  void* own = dlopen(name, RTLD_LAZY | RTLD_NOLOAD);
  if (!own) return false;
  const bool same = own == handle;
  dlclose(own);
  return same;
}

// The path of the module, or empty when it is no loaded module.
std::string ModulePath(HMODULE module) {
  if (!module) return ProgramPath();
  std::vector<LoadedObject> objects;
  dl_iterate_phdr(CollectObject, &objects);  // the loader's lock is held only in here
  const auto address = reinterpret_cast<std::uintptr_t>(module);
  for (const LoadedObject& object : objects) {
    const bool program = object.name.empty();
    if (object.base == address || IsHandleOf(program ? nullptr : object.name.c_str(), module)) {
      if (program) return ProgramPath();
      const std::string real = RealPath(object.name);
      return real.empty() ? object.name : real;
    }
  }
  return std::string();
}

}  // namespace

namespace ostrel::platform::testing {
void SetProgramPath(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_programPathMutex);
  g_programPath = path;
}
}  // namespace ostrel::platform::testing

DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
  try {
    DWORD error = ERROR_SUCCESS;
    const std::string folder = TempFolder(&error);
    if (folder.empty()) {
      SetLastError(error);
      return 0;
    }
    std::wstring path = ostrel::platform::FromUtf8(folder);
    if (path.empty() || path.back() != L'/') path += L'/';
    if (!lpBuffer || path.size() >= nBufferLength) return static_cast<DWORD>(path.size() + 1);
    std::wmemcpy(lpBuffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

BOOL GetUserNameW(LPWSTR lpBuffer, LPDWORD pcbBuffer) {
  if (!pcbBuffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  try {
    std::string name;
    if (!UserName(&name)) {
      SetLastError(ERROR_NONE_MAPPED);
      return FALSE;
    }
    const std::wstring wide = ostrel::platform::FromUtf8(name);
    const DWORD needed = static_cast<DWORD>(wide.size() + 1);
    if (!lpBuffer || *pcbBuffer < needed) {
      *pcbBuffer = needed;
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::wmemcpy(lpBuffer, wide.c_str(), needed);
    *pcbBuffer = needed;
    return TRUE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  try {
    const std::string path = ModulePath(hModule);
    if (path.empty()) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    if (!lpFilename && nSize) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    const std::wstring wide = ostrel::platform::FromUtf8(path);
    if (wide.size() < nSize) {
      std::wmemcpy(lpFilename, wide.c_str(), wide.size() + 1);
      return static_cast<DWORD>(wide.size());
    }
    // Too small: cut to nSize characters with the terminator.
    if (nSize) {
      std::wmemcpy(lpFilename, wide.c_str(), nSize - 1);
      lpFilename[nSize - 1] = L'\0';
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}
