// Hash keys, their markers and the session GUID behind them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cwctype>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "uri/SessionGuid.h"
#include "uri/Uri.h"
#include "platform/Utf8.h"
#include "support/TraceCapture.h"

namespace {

std::wstring KeyOf(const std::wstring& uri) { return CUri(uri).GetHashKey(); }

bool IsHex(const std::wstring& s, const wchar_t* letters) {
  return s.find_first_not_of(std::wstring(L"0123456789") + letters) == std::wstring::npos;
}

// Runs the probe program: a fresh process with its own session GUID.
std::vector<std::string> Probe(const std::string& args) {
  std::vector<std::string> lines;
  FILE* out = popen((std::string(OSTREL_GUID_PROBE) + " " + args).c_str(), "r");
  for (char line[4096]; out && std::fgets(line, sizeof line, out);)
    lines.emplace_back(line, std::strcspn(line, "\n"));
  if (out) pclose(out);
  return lines;
}

}  // namespace

TEST(HashKeyTest, KeyDependsOnTheHostAloneAndItsLengthOnTheHostLength) {
  const std::wstring key = KeyOf(L"http://www.example.com/");
  EXPECT_TRUE(key.size() == 374 && IsHex(key, L"abcdef")) << key;
  const std::pair<std::size_t, std::size_t> lengths[] = {{107, 6}, {108, 2}, {109, 510}, {0, 434}};
  for (const auto& [hostLength, digits] : lengths) {
    const std::wstring host = hostLength ? std::wstring(hostLength - 5, L'h') + L".test" : L"";
    EXPECT_EQ(KeyOf(L"http://" + host + L"/").size(), digits) << hostLength;
  }
  // The host as the browser reads it, so every way of writing it has one key.
  for (const wchar_t* same : {L"http://WWW.Example.com:8080/a?b", L"https://user@www.example.com/x",
                              L"http:\\\\www.%65xample.com\\x", L"http://www.example.com/"})
    EXPECT_EQ(KeyOf(same), key) << same;
  EXPECT_EQ(CUri(L"http://www.example.com/").GetHashKeyMarker(), L"(" + key + L")");
}

TEST(HashKeyTest, KeyMixesTheHostAndGuidTextsInTheirOrder) {
  CTraceCapture capture;
  const std::wstring key = CUri::GenerateHash(L"www.example.com");
  const std::wstring guid = CSessionGuid::GetGuidText();
  const std::wstring a = L"www.example.com" + guid + L"www.example.com";
  const std::wstring b = guid + L"WWW.EXAMPLE.COM" + guid;
  EXPECT_TRUE(capture.Contains(L"Hashing GUID '" + a + L"'\r\n"));
  EXPECT_TRUE(capture.Contains(L"Hashing URI '" + b + L"'\r\n"));
  // The first unit is the first characters of both texts, XORed.
  wchar_t first[3];
  std::swprintf(first, 3, L"%02x", static_cast<unsigned>(a[0] ^ b[0]) & 0xFF);
  EXPECT_EQ(key.substr(0, 2), first);
  EXPECT_EQ(CUri::ToHex(std::wstring(L"\x1ff\x0a")), L"ff0a");
  EXPECT_EQ(CUri::ToHex(L""), L"");
}

TEST(HashKeyTest, OnlyAMarkerThatVerifiesIsRemovedAndRemembered) {
  const std::wstring key = KeyOf(L"http://www.example.com/");
  std::wstring upper = key;
  for (auto& c : upper) c = std::towupper(c);
  struct Row {
    std::wstring in, held;  // held empty: the URI stays as it came
    bool http;
  };
  const Row rows[] = {
      {L"http://www.example.com/(" + key + L")", L"http://www.example.com", true},
      {L"http://www.example.com/(" + key + L")/", L"http://www.example.com", true},
      {L"http://www.example.com/a.html(" + key + L")", L"http://www.example.com/a.html", true},
      {L"http://www.example.com/(" + upper + L")", L"http://www.example.com", true},
      {L"https://WWW.example.com/a?q=1(" + key + L")", L"https://WWW.example.com/a?q=1", true},
      {L"http://www.example.com/(" + KeyOf(L"http://www.example.org/") + L")", L"", true},
      {L"http://www.example.com/()", L"", true},
      {L"http://www.example.com/x)", L"", true},
      {L"http://www.example.com/(" + key + L")//", L"", true},
      {L"ftp://www.example.com/(" + key + L")", L"", false},
      {L"www.example.com/(" + key + L")", L"", false},
      {L"", L"", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.in.substr(0, 40));
    const CUri uri(row.in);
    EXPECT_EQ(uri.GetUri(), row.held.empty() ? row.in : row.held);
    EXPECT_EQ(uri.GetFoundHashKey(), row.held.empty() ? L"" : key);
    EXPECT_EQ(uri.HasValidHashKey(), !row.held.empty());
    EXPECT_EQ(uri.GetHashKey(), row.http ? key : L"");  // the host's key as usual
  }
}

TEST(SessionGuidTest, FormatsTheRegistryFormAsDigitsNumberedFromTheRight) {
  const GUID g = {0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
  EXPECT_EQ(CSessionGuid::FormatGuid(g), L"5012345674" L"89AB3CDEF2" L"01231456789ABCDEF0");
  EXPECT_EQ(CSessionGuid::TextGuidText(L"s"), L"s" + CSessionGuid::GetGuidText() + L"s");
  EXPECT_EQ(CSessionGuid::GuidTextGuid(L"s"),
            CSessionGuid::GetGuidText() + L"s" + CSessionGuid::GetGuidText());
}

TEST(SessionGuidTest, IsCreatedOnceForAllThreads) {
  std::vector<std::wstring> texts(8);
  std::vector<std::thread> threads;
  for (auto& text : texts) threads.emplace_back([&text] { text = CSessionGuid::GetGuidText(); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(std::set<std::wstring>(texts.begin(), texts.end()).size(), 1u);
  EXPECT_EQ(texts[0].size(), 38u);
  EXPECT_TRUE(IsHex(texts[0], L"ABCDEF"));
}

TEST(SessionGuidTest, EachProcessHasItsOwnGuidAndKeys) {
  const std::vector<std::string> first = Probe("http://www.example.com/");
  const std::vector<std::string> second = Probe("http://www.example.com/");
  ASSERT_EQ(first.size() + second.size(), 4u);
  EXPECT_NE(first[0], second[0]);
  EXPECT_NE(first[1], second[1]);
  EXPECT_EQ(first[1].size(), 374u);
  EXPECT_NE(ostrel::platform::FromUtf8(first[1]), KeyOf(L"http://www.example.com/"));
}

TEST(SessionGuidTest, FallbackTextStandsInWhenNoGuidCanBeCreated) {
  const std::vector<std::string> lines = Probe("--fail-guid http://www.example.com/");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(ostrel::platform::FromUtf8(lines[0]), CSessionGuid::FallbackGuidText);
  EXPECT_EQ(lines[1].size(), 374u);
  // The fallback is the same in every process, so so are its keys.
  EXPECT_EQ(Probe("--fail-guid http://www.example.com/"), lines);
}
