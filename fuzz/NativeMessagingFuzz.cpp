// The Chromium host's input: bytes as they come down the pipe, read as
// framed messages (in chunks of a size taken from the first byte, so
// lengths and bodies split anywhere) and each decoded; or, with the first
// byte odd, the rest decoded as one message. Reading must end in a result,
// never overrun; a decoded address must survive the host's answer
// unchanged; a framed body must read back as it was.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "webext/MessageReader.h"
#include "webext/MessageWriter.h"
#include "webext/Messages.h"

using namespace ostrel::webext;

namespace {

void DecodeOne(const std::string& body) {
  Message message;
  std::string why;
  if (Decode(body, &message, &why) != DecodeResult::Ok) {
    if (why.empty()) std::abort();  // every refusal says why
    return;
  }
  // The address the host would send back, read again as the extension's
  // message: the same text.
  std::string answer = EncodeNavigate(message.tabId, message.url);
  answer.replace(answer.find("\"navigate\""), 10, "\"committed\"");
  Message back;
  if (Decode(answer, &back, &why) != DecodeResult::Ok || back.url != message.url ||
      back.tabId != message.tabId)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] & 1) {
    DecodeOne(rest);
    return 0;
  }
  CMessageReader reader(StringSource(rest, data[0] / 2 + 1));
  std::string body;
  while (reader.Next(&body) == ReadResult::Message) {
    DecodeOne(body);
    CMessageReader again(StringSource(Frame(body), 7));
    std::string copy;
    if (again.Next(&copy) != ReadResult::Message || copy != body ||
        again.Next(&copy) != ReadResult::End)
      std::abort();
  }
  return 0;
}
