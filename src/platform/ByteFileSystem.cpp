// POSIX side of ByteFileBuf: open(2) without following links or blocking,
// a new file beside the target, fsync and rename(2) over it.
#include "platform/ByteFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/FileApi.h"
#include "platform/Utf8.h"
#include "platform/WinError.h"

namespace ostrel::platform::byte_file {
namespace {

int Fail(int code, std::string* error) {
  *error = std::strerror(code);
  return -1;
}

int Fail(const char* reason, std::string* error) {
  *error = reason;
  return -1;
}

const char* NotAFile(mode_t mode) {
  if (S_ISLNK(mode)) return "it is a symbolic link";
  if (S_ISDIR(mode)) return "it is a folder";
  return "it is not a regular file";
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

int OpenForReading(const std::wstring& path, bool followLink, std::string* error) {
  // Without blocking, so a FIFO cannot hold the open (and every lock its
  // caller holds); only a regular file is read, and then normally.
  const int noFollow = followLink ? 0 : O_NOFOLLOW;
  const int fd = ::open(ToUtf8(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | noFollow);
  if (fd < 0)
    return errno == ELOOP && noFollow ? Fail("it is a symbolic link", error) : Fail(errno, error);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int code = errno;
    ::close(fd);
    return Fail(code, error);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return Fail(NotAFile(st.st_mode), error);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int code = errno;
    ::close(fd);
    return Fail(code, error);
  }
  return fd;
}

int CreateBeside(const std::wstring& target, bool systemFile, std::wstring* created,
                 std::string* error) {
  const std::string name = ToUtf8(target);
  mode_t permissions = systemFile ? 0600 : 0666;  // the mask narrows a new file
  bool replacing = false;
  struct stat st;
  if (::lstat(name.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return Fail(NotAFile(st.st_mode), error);
    permissions = st.st_mode & 07777;
    replacing = true;
  } else if (errno != ENOENT) {
    return Fail(errno, error);
  }
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".new-%08x%08x", random(), random());
    const std::string candidate = name + suffix;
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          permissions);
    if (fd >= 0) {
      if (replacing) ::fchmod(fd, permissions);  // exactly the old file's, whatever the mask
      *created = FromUtf8(candidate);
      return fd;
    }
    if (errno != EEXIST) return Fail(errno, error);
  }
  return Fail(EEXIST, error);
}

long long Read(int fd, char* buffer, std::size_t size, std::string* error) {
  ssize_t n;
  do {
    n = ::read(fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return Fail(errno, error);
  return n;
}

bool WriteAll(int fd, const char* data, std::size_t size, std::string* error) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno, error);
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool Seek(int fd, long long position) {
  return ::lseek(fd, static_cast<off_t>(position), SEEK_SET) >= 0;
}

bool Commit(int fd, const std::wstring& created, const std::wstring& target, std::string* error) {
  if (::fsync(fd) != 0) {
    Fail(errno, error);
    ::close(fd);
    return false;
  }
  if (::close(fd) != 0) {
    Fail(errno, error);
    return false;
  }
  const std::string name = ToUtf8(target);
  if (::rename(ToUtf8(created).c_str(), name.c_str()) != 0) {
    Fail(errno, error);
    return false;
  }
  SyncFolder(FolderOf(name));
  return true;
}

void Close(int fd) { ::close(fd); }

void Remove(const std::wstring& path) { ::unlink(ToUtf8(path).c_str()); }

}  // namespace ostrel::platform::byte_file

DWORD GetFileAttributesW(LPCWSTR lpFileName) {
  if (!lpFileName || !*lpFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat st;
  if (::lstat(ostrel::platform::ToUtf8(lpFileName).c_str(), &st) != 0) {
    SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  DWORD attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (S_ISLNK(st.st_mode)) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode))
    attributes |= FILE_ATTRIBUTE_DEVICE;
  if (!(st.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}
