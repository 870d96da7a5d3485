// CMessageWriter: Chrome's native messaging framing on the way out: each
// message is sent as its 32-bit native-order length and its bytes in one
// piece, so the reader on the other side never sees half a message. A
// message over the limit is refused, not cut. Writes to any byte sink (the
// host's protocol channel, memory in tests). Not shared between threads.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace ostrel::webext {

enum class WriteResult { Sent, TooLong, Closed };

class CMessageWriter {
 public:
  // Writes all `size` bytes; false when the other side is gone.
  using Sink = std::function<bool(const char* bytes, std::size_t size)>;

  explicit CMessageWriter(Sink sink) : m_sink(std::move(sink)) {}

  WriteResult Write(const std::string& body);

 private:
  Sink m_sink;
};

// The framed bytes of one message (no limit applied).
std::string Frame(const std::string& body);

}  // namespace ostrel::webext
