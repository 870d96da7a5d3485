#include "webext/MessageWriter.h"

#include <cstdint>

#include "webext/HostName.h"

namespace ostrel::webext {

std::string Frame(const std::string& body) {
  const std::uint32_t length = static_cast<std::uint32_t>(body.size());
  std::string framed(reinterpret_cast<const char*>(&length), sizeof length);
  return framed + body;
}

WriteResult CMessageWriter::Write(const std::string& body) {
  if (body.size() > kMaxMessageBytes) return WriteResult::TooLong;
  const std::string framed = Frame(body);
  return m_sink(framed.data(), framed.size()) ? WriteResult::Sent : WriteResult::Closed;
}

}  // namespace ostrel::webext
