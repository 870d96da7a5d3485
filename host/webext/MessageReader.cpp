#include "webext/MessageReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "webext/HostName.h"

namespace ostrel::webext {

ReadResult CMessageReader::Fill(char* into, std::size_t size, bool* none) {
  std::size_t got = 0;
  while (got < size) {
    const long n = m_source(into + got, size - got);
    if (n < 0) return ReadResult::Failed;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  *none = got == 0;
  return got == size ? ReadResult::Message : ReadResult::Truncated;
}

ReadResult CMessageReader::Next(std::string* body) {
  body->clear();
  std::uint32_t length = 0;
  bool none = false;
  ReadResult result = Fill(reinterpret_cast<char*>(&length), sizeof length, &none);
  if (result == ReadResult::Truncated && none) return ReadResult::End;
  if (result != ReadResult::Message) return result;
  if (length > kMaxMessageBytes) {
    m_announced = length;
    return ReadResult::TooLong;
  }
  body->resize(length);
  result = Fill(body->data(), length, &none);
  if (result != ReadResult::Message) body->clear();
  return result;
}

CMessageReader::Source StringSource(std::string bytes, std::size_t chunk) {
  auto state = std::make_shared<std::pair<std::string, std::size_t>>(std::move(bytes), 0);
  chunk = std::max<std::size_t>(chunk, 1);
  return [state, chunk](char* into, std::size_t size) -> long {
    const std::size_t n = std::min({size, chunk, state->first.size() - state->second});
    std::memcpy(into, state->first.data() + state->second, n);
    state->second += n;
    return static_cast<long>(n);
  };
}

}  // namespace ostrel::webext
