// Native messaging framing and the messages on it: what goes out comes back
// whole however the bytes are split; the limit holds both ways; input that
// ends early or is no object is told apart from the input's end; and a
// well-formed object of the wrong shape is only ignored. Which of a batch's
// events are worth firing, and the list's rules as the extension receives
// them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "webext/HostName.h"
#include "webext/MessageBatch.h"
#include "webext/MessageReader.h"
#include "webext/MessageWriter.h"
#include "webext/Messages.h"
#include "webext/RulesMessages.h"

using namespace ostrel::webext;

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

TEST(Messages, ABlockedNavigationAndAFrameAreDecoded) {
  Message m;
  std::string why;
  ASSERT_EQ(Decode(R"({"type":"blocked","tabId":3,"frameId":5,"url":"http://a.test/",)"
                   R"("truncated":true})",
                   &m, &why),
            DecodeResult::Ok);
  EXPECT_EQ(m.type, MessageType::Blocked);
  EXPECT_EQ(m.tabId, 3);
  EXPECT_EQ(m.frameId, 5);
  EXPECT_EQ(m.url, L"http://a.test/");
  EXPECT_TRUE(m.truncated);
  // Without a frameId the event is the tab's own, whatever was decoded before.
  ASSERT_EQ(Decode(R"({"type":"completed","tabId":3,"url":"http://a.test/"})", &m, &why),
            DecodeResult::Ok);
  EXPECT_EQ(m.frameId, 0);
  ASSERT_EQ(Decode(R"({"type":"window","windowId":1,"rulesDigest":"0123abcd"})", &m, &why),
            DecodeResult::Ok);
  EXPECT_EQ(m.rulesDigest, "0123abcd");

  // A frame that cannot be told from the tab is not taken for the tab.
  for (const char* frameId : {"\"2\"", "1.5", "null", "true", "18446744073709551615"}) {
    why.clear();
    const std::string text =
        std::string(R"({"type":"committed","tabId":1,"url":"a","frameId":)") + frameId + "}";
    EXPECT_EQ(Decode(text, &m, &why), DecodeResult::Ignored) << text;
    EXPECT_NE(why.find("frameId"), std::string::npos) << why;
  }
  EXPECT_EQ(Decode(R"({"type":"blocked","tabId":1,"frameId":0})", &m, &why), DecodeResult::Ignored);
}

namespace {

Message Event(MessageType type, std::int64_t tab, std::int64_t frame = 0) {
  Message m;
  m.type = type;
  m.tabId = tab;
  m.frameId = frame;
  m.url = L"http://a.test/";
  return m;
}

// The batch's flags as text, one character a message: 'x' superseded.
std::string Flags(const std::vector<Message>& batch) {
  std::string flags;
  for (const bool superseded : Superseded(batch)) flags += superseded ? 'x' : '.';
  return flags;
}

}  // namespace

TEST(MessageBatch, ATabsOlderEventsGiveWayOnlyToItsOwnNewerNavigation) {
  using T = MessageType;
  const struct {
    const char* what;
    std::vector<Message> batch;
    std::string flags;
  } cases[] = {
      {"a lone event", {Event(T::BeforeNavigate, 1)}, "."},
      {"a queue of navigations: only the newest counts",
       {Event(T::BeforeNavigate, 1), Event(T::BeforeNavigate, 1), Event(T::BeforeNavigate, 1)},
       "xx."},
      {"a blocked navigation is a newer one too",
       {Event(T::BeforeNavigate, 1), Event(T::Committed, 1), Event(T::Blocked, 1)}, "xx."},
      {"a navigation's own later events supersede nothing",
       {Event(T::BeforeNavigate, 1), Event(T::Committed, 1), Event(T::Completed, 1)}, "..."},
      {"a frame's navigation does not supersede the tab's",
       {Event(T::BeforeNavigate, 1), Event(T::Committed, 1), Event(T::BeforeNavigate, 1, 3),
        Event(T::Blocked, 1, 4)},
       "...."},
      {"the tab's navigation supersedes its frames'",
       {Event(T::BeforeNavigate, 1, 3), Event(T::Committed, 1, 3), Event(T::BeforeNavigate, 1)},
       "xx."},
      {"another tab's navigation supersedes nothing",
       {Event(T::BeforeNavigate, 1), Event(T::BeforeNavigate, 2), Event(T::Blocked, 3)}, "..."},
      {"messages that are no navigation are always handled",
       {Event(T::TabRemoved, 1), Event(T::Window, 1), Event(T::BeforeNavigate, 1),
        Event(T::BeforeNavigate, 1)},
       "..x."},
      {"tabs interleaved",
       {Event(T::BeforeNavigate, 1), Event(T::BeforeNavigate, 2), Event(T::Committed, 1),
        Event(T::BeforeNavigate, 2), Event(T::BeforeNavigate, 1), Event(T::Completed, 2)},
       "xxx..."},
      {"an empty batch", {}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Flags(c.batch), c.flags) << c.what;
}

namespace {

using nlohmann::json;

std::vector<json> Parts(const std::vector<std::string>& messages) {
  std::vector<json> parts;
  for (const std::string& m : messages) parts.push_back(json::parse(m, nullptr, false));
  return parts;
}

}  // namespace

TEST(RulesMessages, AListOfAnySizeArrivesInPartsUnderTheLimitEachHostOnce) {
  // A large feed's worth: well over one message.
  std::vector<std::string> hosts;
  std::vector<json> paths;
  std::wstring text = L"marker\t\\([0-9a-f]{16,}\\)$\n";
  for (int i = 0; i < 60000; ++i) {
    hosts.push_back("phish-" + std::to_string(i) + ".some-long-domain-name.example");
    text += L"host\t" + std::wstring(hosts.back().begin(), hosts.back().end()) + L"\n";
    if (i % 30 == 0) {
      const std::string path = "/login\"" + std::to_string(i) + "\\";  // escaped in JSON
      paths.push_back(json::array({hosts.back(), path}));
      text += L"path\t" + std::wstring(hosts.back().begin(), hosts.back().end()) + L"\t" +
              std::wstring(path.begin(), path.end()) + L"\n";
    }
    if (i % 1000 == 0)  // kinds this host does not know, and lines of a wrong shape
      text += L"regex\t^x\nhost\nhost\ta.test\tb\npath\tb.test\n\nhost\tc.test\t\n";
  }
  text.pop_back();  // the last line unterminated

  const std::vector<std::string> messages = EncodeRules(text);
  const std::vector<json> parts = Parts(messages);
  ASSERT_GT(parts.size(), 3u);
  std::vector<std::string> gotHosts;
  std::vector<json> gotPaths;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const json& part = parts[i];
    ASSERT_TRUE(part.is_object()) << "part " << i << " is no JSON object";
    EXPECT_LE(messages[i].size(), kMaxMessageBytes) << "part " << i;
    EXPECT_EQ(part.value("type", ""), "rules");
    EXPECT_EQ(part.value("digest", ""), RulesDigest(text));
    EXPECT_EQ(part.value("part", -1), static_cast<int>(i));
    EXPECT_EQ(part.value("parts", -1), static_cast<int>(parts.size()));
    EXPECT_EQ(part.contains("marker"), i == 0) << "part " << i;
    EXPECT_FALSE(part["hosts"].empty() && part["paths"].empty()) << "part " << i << " is empty";
    for (const json& host : part["hosts"]) gotHosts.push_back(host.get<std::string>());
    for (const json& path : part["paths"]) gotPaths.push_back(path);
  }
  EXPECT_EQ(parts[0].value("marker", ""), "\\([0-9a-f]{16,}\\)$");
  EXPECT_EQ(gotHosts, hosts);  // in list order, each once, and nothing from the unknown lines
  EXPECT_EQ(gotPaths, paths);

  // A small budget: every entry still goes out once, an entry over the
  // budget alone in its part and never after an empty one.
  const std::vector<json> small =
      Parts(EncodeRules(L"host\ta.test\nhost\ta-much-longer-name.test\nhost\tb.test", 16));
  ASSERT_EQ(small.size(), 3u);
  EXPECT_EQ(small[0]["hosts"], json::array({"a.test"}));
  EXPECT_EQ(small[1]["hosts"], json::array({"a-much-longer-name.test"}));
  EXPECT_EQ(small[2]["hosts"], json::array({"b.test"}));
  EXPECT_EQ(small[0].value("marker", "?"), "");
}

TEST(RulesMessages, NoRulesIsOneEmptyPartAndEachTextHasItsOwnDigest) {
  const std::vector<json> none = Parts(EncodeRules(L""));
  ASSERT_EQ(none.size(), 1u);
  EXPECT_EQ(none[0], json({{"type", "rules"}, {"digest", RulesDigest(L"")}, {"part", 0},
                           {"parts", 1}, {"hosts", json::array()}, {"paths", json::array()},
                           {"marker", ""}}));

  const std::wstring texts[] = {
      L"", L"host\ta.test\n", L"host\tb.test\n", L"host\ta.test\nhost\tb.test\n",
      L"host\tb.test\nhost\ta.test\n", L"host\t\u0101.test\n", L"host\t\u0201.test\n",
      L"marker\tx\nhost\ta.test\n",
  };
  std::vector<std::string> digests;
  for (const std::wstring& text : texts) digests.push_back(RulesDigest(text));
  std::sort(digests.begin(), digests.end());
  EXPECT_EQ(std::unique(digests.begin(), digests.end()), digests.end())
      << "two different rule texts would look the same to the extension";
}
