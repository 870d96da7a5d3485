#include "platform/ByteFile.h"

#include <ios>

#include "platform/ByteFileSystem.h"

namespace ostrel::platform {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

}  // namespace

ByteFileBuf::ByteFileBuf() = default;

ByteFileBuf::~ByteFileBuf() { Discard(); }

bool ByteFileBuf::IsOpen() const { return m_fd >= 0; }

bool ByteFileBuf::Fail(const std::string& reason) {
  m_error = reason;
  return false;
}

const std::string& ByteFileBuf::GetErrorText() const { return m_error; }

bool ByteFileBuf::Open(const std::wstring& path, Mode mode, Origin origin) {
  if (IsOpen()) return Fail("the buffer already holds an open file");
  if (path.empty()) return Fail("no file name");
  m_mode = mode;
  m_failed = false;
  m_error.clear();
  m_position = 0;
  setg(nullptr, nullptr, nullptr);
  setp(nullptr, nullptr);
  if (mode == Mode::Read) {
    m_fd = byte_file::OpenForReading(path, origin == Origin::Person, &m_error);
    return IsOpen();
  }
  std::wstring temporary;
  m_fd = byte_file::CreateBeside(path, origin == Origin::System, &temporary, &m_error);
  if (!IsOpen()) return false;
  m_target = path;
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
  if (!byte_file::WriteAll(m_fd, m_bytes.data(), count, &m_error)) m_failed = true;
  setp(m_chars.data(), m_chars.data() + m_chars.size());
  return !m_failed;
}

void ByteFileBuf::Discard() {
  if (m_mode == Mode::Read) {
    Close();
    return;
  }
  if (m_fd >= 0) byte_file::Close(m_fd);
  m_fd = -1;
  if (!m_temporary.empty()) byte_file::Remove(m_temporary);
  m_temporary.clear();
  m_target.clear();
  setp(nullptr, nullptr);
}

bool ByteFileBuf::Close() {
  if (!IsOpen()) return false;
  if (m_mode == Mode::Read) {
    byte_file::Close(m_fd);
    m_fd = -1;
    setg(nullptr, nullptr, nullptr);
    return true;
  }
  if (!FlushPending()) {
    Discard();
    return false;
  }
  const int fd = m_fd;
  m_fd = -1;  // Commit closes it whatever happens
  if (!byte_file::Commit(fd, m_temporary, m_target, &m_error)) {
    Discard();
    return false;
  }
  m_temporary.clear();
  m_target.clear();
  setp(nullptr, nullptr);
  return true;
}

ByteFileBuf::int_type ByteFileBuf::underflow() {
  if (m_mode != Mode::Read || !IsOpen()) return traits_type::eof();
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  m_bytes.resize(kChunk);
  const long long n = byte_file::Read(m_fd, m_bytes.data(), m_bytes.size(), &m_error);
  if (n < 0) {
    // Not the end of the file: the stream reading this records it as an
    // error (badbit), so a failing disk never reads as a short file.
    throw std::ios_base::failure("cannot read the file: " + m_error);
  }
  if (n == 0) return traits_type::eof();
  const std::size_t count = static_cast<std::size_t>(n);
  m_chars.resize(count);
  for (std::size_t i = 0; i < count; ++i)
    m_chars[i] = static_cast<wchar_t>(static_cast<unsigned char>(m_bytes[i]));
  m_position += n;
  setg(m_chars.data(), m_chars.data(), m_chars.data() + count);
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
  if (!byte_file::Seek(m_fd, target)) return pos_type(-1);
  m_position = target;
  setg(nullptr, nullptr, nullptr);
  return pos_type(target);
}

ByteFileBuf::pos_type ByteFileBuf::seekpos(pos_type pos, std::ios_base::openmode which) {
  return seekoff(off_type(pos), std::ios_base::beg, which);
}

}  // namespace ostrel::platform
