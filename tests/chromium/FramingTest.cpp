// Native messaging framing and the messages on it: what goes out comes back
// whole however the bytes are split; the limit holds both ways; input that
// ends early or is no object is told apart from the input's end; and a
// well-formed object of the wrong shape is only ignored.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "chromium/HostName.h"
#include "chromium/MessageReader.h"
#include "chromium/MessageWriter.h"
#include "chromium/Messages.h"

using namespace ostrel::chromium;

namespace {

std::string Length(std::uint32_t n) { return std::string(reinterpret_cast<const char*>(&n), 4); }

}  // namespace

TEST(Framing, MessagesComeBackWholeUpToTheLimit) {
  const std::vector<std::string> bodies = {
      "{}", std::string(), std::string("{\"a\":\"\0\xff\"}", 10), std::string(kMaxMessageBytes, 'x')};
  std::string wire;
  CMessageWriter writer([&](const char* bytes, std::size_t size) {
    wire.append(bytes, size);
    return true;
  });
  for (const std::string& body : bodies) EXPECT_EQ(writer.Write(body), WriteResult::Sent);
  EXPECT_EQ(writer.Write(std::string(kMaxMessageBytes + 1, 'x')), WriteResult::TooLong);

  for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{1} << 20}) {
    CMessageReader reader(StringSource(wire, chunk));
    std::string body;
    for (const std::string& expected : bodies) {
      ASSERT_EQ(reader.Next(&body), ReadResult::Message) << chunk;
      EXPECT_EQ(body, expected) << chunk;
    }
    EXPECT_EQ(reader.Next(&body), ReadResult::End);
    EXPECT_EQ(reader.Next(&body), ReadResult::End);
  }

  CMessageWriter closed([](const char*, std::size_t) { return false; });
  EXPECT_EQ(closed.Write("{}"), WriteResult::Closed);
}

TEST(Framing, InputEndingEarlyOrOverTheLimitIsAnError) {
  struct Case {
    std::string wire;
    ReadResult result;
  };
  const Case cases[] = {
      {"", ReadResult::End},
      {Length(2) + "{}" + "\x05", ReadResult::Truncated},  // inside the next length
      {Length(10) + "{\"a\"", ReadResult::Truncated},      // inside a body
      {Length(kMaxMessageBytes + 1) + "{}", ReadResult::TooLong},
      {Length(0xFFFFFFFFu), ReadResult::TooLong},
  };
  for (const Case& c : cases) {
    CMessageReader reader(StringSource(c.wire));
    std::string body;
    ReadResult result = reader.Next(&body);
    if (result == ReadResult::Message) result = reader.Next(&body);
    EXPECT_EQ(result, c.result) << testing::PrintToString(c.wire);
    if (result != ReadResult::Message) {
      EXPECT_TRUE(body.empty());
    }
  }
  CMessageReader oversized(StringSource(Length(0x7FFFFFFF)));
  std::string body;
  ASSERT_EQ(oversized.Next(&body), ReadResult::TooLong);
  EXPECT_EQ(oversized.AnnouncedLength(), 0x7FFFFFFFu);

  CMessageReader failing([](char*, std::size_t) { return -1L; });
  EXPECT_EQ(failing.Next(&body), ReadResult::Failed);
}

TEST(Messages, DecodesEachTypeAndIgnoresWrongShapes) {
  Message m;
  std::string why;
  ASSERT_EQ(Decode(R"({"type":"before-navigate","tabId":7,"url":"http://\u00e9.test/\ud83d\ude00"})",
                   &m, &why),
            DecodeResult::Ok);
  EXPECT_EQ(m.type, MessageType::BeforeNavigate);
  EXPECT_EQ(m.tabId, 7);
  EXPECT_EQ(m.url, L"http://\u00e9.test/\U0001F600");
  EXPECT_FALSE(m.truncated);
  ASSERT_EQ(Decode(R"({"type":"committed","tabId":-1,"url":"a","truncated":true,"x":[1]})", &m,
                   &why),
            DecodeResult::Ok);
  EXPECT_EQ(m.type, MessageType::Committed);
  EXPECT_EQ(m.tabId, -1);
  EXPECT_TRUE(m.truncated);
  ASSERT_EQ(Decode(R"({"type":"window","windowId":12})", &m, &why), DecodeResult::Ok);
  EXPECT_EQ(m.windowId, 12);
  ASSERT_EQ(Decode(R"({"type":"window-removed"})", &m, &why), DecodeResult::Ok);
  EXPECT_EQ(m.type, MessageType::WindowRemoved);

  const char* ignored[] = {
      R"({})",
      R"({"type":7})",
      R"({"type":"navigate","tabId":1,"url":"x"})",  // the host's own kind
      R"({"type":"before-navigate","url":"http://a.test/"})",
      R"({"type":"before-navigate","tabId":"1","url":"http://a.test/"})",
      R"({"type":"before-navigate","tabId":1.5,"url":"http://a.test/"})",
      R"({"type":"before-navigate","tabId":18446744073709551615,"url":"http://a.test/"})",
      R"({"type":"committed","tabId":1,"url":null})",
      R"({"type":"tab-removed"})",
      R"({"type":"window","windowId":true})",
  };
  for (const char* text : ignored) {
    why.clear();
    EXPECT_EQ(Decode(text, &m, &why), DecodeResult::Ignored) << text;
    EXPECT_FALSE(why.empty()) << text;
  }

  const std::string broken[] = {
      "", "[1]", "\"type\"", "3", "null", "{\"type\":\"tools\"", "{\"type\":\"tools\"} x",
      "{\"type\":\"a\xff\"}",  // not UTF-8
      std::string(1000000, '['),
      std::string(400000, '[') + std::string(400000, ']'),
  };
  for (const std::string& text : broken) {
    why.clear();
    EXPECT_EQ(Decode(text, &m, &why), DecodeResult::NotAnObject) << text.substr(0, 40);
    EXPECT_FALSE(why.empty());
  }
}

TEST(Messages, AnAnswerIsValidJsonWhateverTheHelperAskedFor) {
  // A wide value that is no code point is replaced, never an invalid
  // message (or a throw inside the host).
  std::string odd = EncodeNavigate(42, std::wstring(L"\"a") + wchar_t(0xD800) + L"\U0001F600");
  odd.replace(odd.find("\"navigate\""), 10, "\"committed\"");  // read back as the extension's kind
  Message m;
  std::string why;
  ASSERT_EQ(Decode(odd, &m, &why), DecodeResult::Ok) << odd;
  EXPECT_EQ(m.tabId, 42);
  EXPECT_EQ(m.url, L"\"a\uFFFD\U0001F600");
}
