#include "platform/ByteFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ios>
#include <random>

#include "platform/Utf8.h"
#include "platform/WinError.h"

namespace ostrel::platform {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// A new file beside target, under a name nobody can have chosen first;
// the file-creation mask narrows permissions. Its descriptor, or -1.
int CreateBeside(const std::string& target, mode_t permissions, std::string* created) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".new-%08x%08x", random(), random());
    const std::string name = target + suffix;
    const int fd =
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions);
    if (fd >= 0) {
      *created = name;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

const char* NotAFile(mode_t mode) {
  if (S_ISLNK(mode)) return "it is a symbolic link";
  if (S_ISDIR(mode)) return "it is a folder";
  return "it is not a regular file";
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

ByteFileBuf::ByteFileBuf() = default;

ByteFileBuf::~ByteFileBuf() { Discard(); }

bool ByteFileBuf::IsOpen() const { return m_fd >= 0; }

bool ByteFileBuf::Fail(int error) {
  m_error = std::strerror(error);
  return false;
}

bool ByteFileBuf::Fail(const char* reason) {
  m_error = reason;
  return false;
}

const std::string& ByteFileBuf::GetErrorText() const { return m_error; }

bool ByteFileBuf::Open(const std::wstring& path, Mode mode, Origin origin) {
  if (IsOpen()) return Fail("the buffer already holds an open file");
  if (path.empty()) return Fail("no file name");
  const std::string name = ToUtf8(path);
  m_mode = mode;
  m_failed = false;
  m_error.clear();
  m_position = 0;
  setg(nullptr, nullptr, nullptr);
  setp(nullptr, nullptr);
  if (mode == Mode::Read) {
    // Without blocking, so a FIFO cannot hold the open (and every lock its
    // caller holds); only a regular file is read, and then normally.
    const int noFollow = origin == Origin::System ? O_NOFOLLOW : 0;
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | noFollow);
    if (fd < 0) return errno == ELOOP && noFollow ? Fail("it is a symbolic link") : Fail(errno);
    struct stat st;
    if (::fstat(fd, &st) != 0) {
      const int error = errno;
      ::close(fd);
      return Fail(error);
    }
    if (!S_ISREG(st.st_mode)) {
      ::close(fd);
      return Fail(NotAFile(st.st_mode));
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
      const int error = errno;
      ::close(fd);
      return Fail(error);
    }
    m_fd = fd;
    return true;
  }
  // Replace: refuse a target that is a link or not a regular file, keep an
  // existing target's permissions, write beside it.
  mode_t permissions = origin == Origin::System ? 0600 : 0666;  // the mask narrows a new file
  bool replacing = false;
  struct stat st;
  if (::lstat(name.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return Fail(NotAFile(st.st_mode));
    permissions = st.st_mode & 07777;
    replacing = true;
  } else if (errno != ENOENT) {
    return Fail(errno);
  }
  std::string temporary;
  m_fd = CreateBeside(name, permissions, &temporary);
  if (m_fd < 0) return Fail(errno);
  if (replacing) ::fchmod(m_fd, permissions);  // exactly the old file's, whatever the mask
  m_target = name;
  m_temporary = temporary;
  m_chars.resize(kChunk);
  setp(m_chars.data(), m_chars.data() + m_chars.size());
  return true;
}

bool ByteFileBuf::FlushPending() {
  const std::size_t count = static_cast<std::size_t>(pptr() - pbase());
  if (count == 0) return !m_failed;
  m_bytes.resize(count);
  for (std::size_t i = 0; i < count; ++i) m_bytes[i] = static_cast<char>(pbase()[i] & 0xFF);
  if (!WriteAll(m_fd, m_bytes.data(), count)) {
    Fail(errno);
    m_failed = true;
  }
  setp(m_chars.data(), m_chars.data() + m_chars.size());
  return !m_failed;
}

void ByteFileBuf::Discard() {
  if (m_mode == Mode::Read) {
    Close();
    return;
  }
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  if (!m_temporary.empty()) ::unlink(m_temporary.c_str());
  m_temporary.clear();
  m_target.clear();
  setp(nullptr, nullptr);
}

bool ByteFileBuf::Close() {
  if (!IsOpen()) return false;
  if (m_mode == Mode::Read) {
    ::close(m_fd);
    m_fd = -1;
    setg(nullptr, nullptr, nullptr);
    return true;
  }
  if (!FlushPending() || ::fsync(m_fd) != 0) {
    if (!m_failed) Fail(errno);
    Discard();
    return false;
  }
  if (::close(m_fd) != 0) {
    Fail(errno);
    m_fd = -1;
    Discard();
    return false;
  }
  m_fd = -1;
  if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
    Fail(errno);
    Discard();
    return false;
  }
  SyncFolder(FolderOf(m_target));
  m_temporary.clear();
  m_target.clear();
  setp(nullptr, nullptr);
  return true;
}

ByteFileBuf::int_type ByteFileBuf::underflow() {
  if (m_mode != Mode::Read || !IsOpen()) return traits_type::eof();
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  m_bytes.resize(kChunk);
  ssize_t n;
  do {
    n = ::read(m_fd, m_bytes.data(), m_bytes.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    // Not the end of the file: the stream reading this records it as an
    // error (badbit), so a failing disk never reads as a short file.
    Fail(errno);
    throw std::ios_base::failure("cannot read the file: " + m_error);
  }
  if (n == 0) return traits_type::eof();
  m_chars.resize(static_cast<std::size_t>(n));
  for (ssize_t i = 0; i < n; ++i)
    m_chars[static_cast<std::size_t>(i)] = static_cast<wchar_t>(static_cast<unsigned char>(m_bytes[i]));
  m_position += n;
  setg(m_chars.data(), m_chars.data(), m_chars.data() + n);
  return traits_type::to_int_type(*gptr());
}

ByteFileBuf::int_type ByteFileBuf::overflow(int_type c) {
  if (m_mode != Mode::Replace || !IsOpen() || !FlushPending()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

int ByteFileBuf::sync() {
  if (m_mode == Mode::Replace && IsOpen()) return FlushPending() ? 0 : -1;
  return 0;
}

ByteFileBuf::pos_type ByteFileBuf::seekoff(off_type off, std::ios_base::seekdir dir,
                                           std::ios_base::openmode which) {
  if (m_mode != Mode::Read || !IsOpen() || !(which & std::ios_base::in)) return pos_type(-1);
  const long long current = m_position - (egptr() - gptr());
  long long target;
  if (dir == std::ios_base::beg)
    target = off;
  else if (dir == std::ios_base::cur)
    target = current + off;
  else
    return pos_type(-1);
  if (target < 0) return pos_type(-1);
  if (off == 0 && dir == std::ios_base::cur) return pos_type(current);
  if (::lseek(m_fd, static_cast<off_t>(target), SEEK_SET) < 0) return pos_type(-1);
  m_position = target;
  setg(nullptr, nullptr, nullptr);
  return pos_type(target);
}

ByteFileBuf::pos_type ByteFileBuf::seekpos(pos_type pos, std::ios_base::openmode which) {
  return seekoff(off_type(pos), std::ios_base::beg, which);
}

}  // namespace ostrel::platform

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
