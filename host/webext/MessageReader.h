// CMessageReader: Chrome's native messaging framing on the way in: a 32-bit
// length in native byte order, then that many bytes (the JSON text, not
// looked at here). Reads from any byte source (standard input in the host,
// memory in tests and the fuzz target). One reader per source; not shared
// between threads.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace ostrel::webext {

enum class ReadResult {
  Message,    // *body holds one whole message
  End,        // the input ended between messages
  Truncated,  // the input ended inside a length or a message
  TooLong,    // the length is over the limit; the body was not read
  Failed,     // the source reported an error
};

class CMessageReader {
 public:
  // Fills up to `size` bytes; returns how many, 0 at the end of the input,
  // a negative number on error.
  using Source = std::function<long(char* into, std::size_t size)>;

  explicit CMessageReader(Source source) : m_source(std::move(source)) {}

  ReadResult Next(std::string* body);
  // The length the last TooLong result announced.
  unsigned long AnnouncedLength() const { return m_announced; }

 private:
  // Reads exactly size bytes: Message when all came, else why not.
  ReadResult Fill(char* into, std::size_t size, bool* none);

  Source m_source;
  unsigned long m_announced = 0;
};

// A source over a string, for tests and fuzzing: hands out at most `chunk`
// bytes a call, so messages are also seen split across reads.
CMessageReader::Source StringSource(std::string bytes, std::size_t chunk = 4096);

}  // namespace ostrel::webext
