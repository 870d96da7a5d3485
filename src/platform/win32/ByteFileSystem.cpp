// Windows side of ByteFileBuf: CreateFileW without following a reparse
// point, only disk files; a new file beside the target, flushed, then moved
// over it with MoveFileExW. Descriptors are the C runtime's over the
// system's handles.
#include "platform/ByteFileSystem.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <random>

#include "platform/WinTypes.h"

namespace ostrel::platform::byte_file {
namespace {

std::string SystemMessage(DWORD code) {
  char text[512];
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                     text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == '.'))
    message.pop_back();
  return message.empty() ? "error " + std::to_string(code) : message;
}

int Fail(const std::string& reason, std::string* error) {
  *error = reason;
  return -1;
}

const char* NotAFile(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return "it is a symbolic link";
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder";
  return "it is not a regular file";
}

// A descriptor owning handle, or -1 (the handle closed) with the reason.
int Adopt(HANDLE handle, int flags, std::string* error) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return Fail(std::strerror(errno), error);
  }
  return fd;
}

}  // namespace

int OpenForReading(const std::wstring& path, bool followLink, std::string* error) {
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      return Fail(NotAFile(attributes), error);
    return Fail(SystemMessage(code), error);
  }
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(handle, &info) != FALSE;
  if (!known || GetFileType(handle) != FILE_TYPE_DISK ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    const std::string reason = known ? NotAFile(info.dwFileAttributes) : SystemMessage(GetLastError());
    CloseHandle(handle);
    return Fail(reason, error);
  }
  return Adopt(handle, _O_RDONLY, error);
}

int CreateBeside(const std::wstring& target, bool, std::wstring* created, std::string* error) {
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
    return Fail(NotAFile(attributes), error);
  // A new file takes the folder's permissions, as every file there does.
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    wchar_t suffix[32];
    swprintf(suffix, 32, L".new-%08x%08x", random(), random());
    const std::wstring candidate = target + suffix;
    HANDLE handle = CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      *created = candidate;
      return Adopt(handle, _O_WRONLY, error);
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return Fail(SystemMessage(GetLastError()), error);
  }
  return Fail(SystemMessage(ERROR_FILE_EXISTS), error);
}

long long Read(int fd, char* buffer, std::size_t size, std::string* error) {
  const int n = _read(fd, buffer, static_cast<unsigned>(size > INT_MAX ? INT_MAX : size));
  if (n < 0) return Fail(std::strerror(errno), error);
  return n;
}

bool WriteAll(int fd, const char* data, std::size_t size, std::string* error) {
  while (size > 0) {
    const int n = _write(fd, data, static_cast<unsigned>(size > INT_MAX ? INT_MAX : size));
    if (n <= 0) {
      Fail(std::strerror(errno), error);
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool Seek(int fd, long long position) { return _lseeki64(fd, position, SEEK_SET) >= 0; }

bool Commit(int fd, const std::wstring& created, const std::wstring& target, std::string* error) {
  if (_commit(fd) != 0) {
    Fail(std::strerror(errno), error);
    _close(fd);
    return false;
  }
  if (_close(fd) != 0) {
    Fail(std::strerror(errno), error);
    return false;
  }
  if (!MoveFileExW(created.c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Fail(SystemMessage(GetLastError()), error);
    return false;
  }
  return true;
}

void Close(int fd) { _close(fd); }

void Remove(const std::wstring& path) { DeleteFileW(path.c_str()); }

}  // namespace ostrel::platform::byte_file
