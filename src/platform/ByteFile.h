// Platform layer: a file read or rewritten as raw bytes through a wide
// stream buffer, one character per byte (the byte in the character's low 8
// bits; only those bits are written).
// Promises: opening never follows a symbolic link in the last path element
// (a link there fails the open) and never blocks: only regular files are
// read or replaced, so a FIFO or device at the path fails the open. A read
// that fails is an error, never an early end of the file: the buffer throws
// std::ios_base::failure, which a stream reading it turns into badbit
// without eofbit. A file opened for replacement is written under a new name
// beside its target and takes the target's place only when Close succeeds
// (data flushed to disk, then renamed over the target), so a reader sees
// the old content or the new, never a part; if any write fails, or the
// buffer is destroyed without Close, the target stays as it was and the new
// file is removed. Reading supports seeking back to any absolute position.
// Names are wide strings, UTF-8 on disk. Every failure leaves a reason for
// people in GetErrorText. One thread at a time.
#pragma once

#include <streambuf>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace ostrel::platform {

class ByteFileBuf : public std::wstreambuf {
 public:
  enum class Mode { Read, Replace };
  // Whose file it is. System: the filter's own files, as promised above, a
  // new file private to the user. Person: a file a person names to a tool:
  // read through a link as any program reads (a replacement still refuses
  // a link, which it would cut), a new file given the permissions the
  // process's file-creation mask allows, as any program's output.
  enum class Origin { System, Person };

  ByteFileBuf();
  ByteFileBuf(const ByteFileBuf&) = delete;
  ByteFileBuf& operator=(const ByteFileBuf&) = delete;
  ~ByteFileBuf() override;

  bool Open(const std::wstring& path, Mode mode, Origin origin = Origin::System);
  bool IsOpen() const;
  // Read: closes. Replace: commits the new content; false (target kept) when
  // anything failed along the way.
  bool Close();
  // Replace: drops the new content, keeping the target as it was.
  void Discard();
  // Why the last Open, read, write or Close failed ("No such file or
  // directory", "it is a symbolic link"); empty after a successful Open.
  const std::string& GetErrorText() const;

 protected:
  int_type underflow() override;
  int_type overflow(int_type c) override;
  int sync() override;
  pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;

 private:
  bool FlushPending();
  // Record why something failed; answers false.
  bool Fail(const std::string& reason);

  int m_fd = -1;
  Mode m_mode = Mode::Read;
  bool m_failed = false;
  std::string m_error;
  std::wstring m_target;     // replace mode: the file to be replaced
  std::wstring m_temporary;  // replace mode: the new file beside it
  long long m_position = 0;  // read mode: file offset of the buffer's end
  std::vector<char> m_bytes;
  std::vector<wchar_t> m_chars;
};

}  // namespace ostrel::platform
