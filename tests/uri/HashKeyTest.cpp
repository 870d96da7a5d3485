// Hash keys, their markers and the per-process secret behind them. Built
// for Windows too (HashKeyProcessTest.cpp: a key of another process, Linux).
#include <gtest/gtest.h>

#include <cwctype>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "uri/SessionKey.h"
#include "uri/Uri.h"

namespace {

std::wstring KeyOf(const std::wstring& uri) { return CUri(uri).GetHashKey(); }

bool Verifies(const std::wstring& uri, const std::wstring& key) {
  return CUri(uri + L"(" + key + L")").HasValidHashKey();
}

bool IsLowerHex(const std::wstring& s) {
  return s.find_first_not_of(L"0123456789abcdef") == std::wstring::npos;
}

std::wstring Upper(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towupper(c));
  return s;
}

}  // namespace

TEST(HashKeyTest, IsTheMacOfTheHostAndEveryWayOfWritingTheHostVerifies) {
  const std::wstring key = KeyOf(L"http://www.example.com/");
  EXPECT_TRUE(key.size() == 64 && IsLowerHex(key)) << key;
  EXPECT_EQ(CUri(L"http://www.example.com/").GetHashKeyMarker(), L"(" + key + L")");
  // The host as the browser reads it: one key, verifying in every way of writing it.
  for (const wchar_t* same : {L"http://WWW.Example.com:8080/a?b", L"https://user@www.example.com/x",
                              L"http:\\\\www.%65xample.com\\x", L"HTTP://WWW.EXAMPLE.COM"}) {
    EXPECT_EQ(KeyOf(same), key) << same;
    EXPECT_TRUE(Verifies(same, key)) << same;
  }
  // Any other host has a key of its own, as long, which this one's never opens.
  const std::wstring others[] = {L"http://www.example.org/", L"http://example.com/",
                                 L"http://www.example.com.evil.test/", L"http://ww.example.com/",
                                 L"http://" + std::wstring(300, L'h') + L".test/"};
  for (const std::wstring& other : others) {
    EXPECT_EQ(KeyOf(other).size(), 64u) << other;
    EXPECT_FALSE(Verifies(other, key)) << other;
  }
}

TEST(HashKeyTest, AKeyChangedByHandNeverVerifies) {
  const std::wstring key = KeyOf(L"http://login.grey.test/");
  std::wstring flipped = key;
  flipped[10] = flipped[10] == L'0' ? L'1' : L'0';
  for (const std::wstring& wrong : {flipped, key.substr(0, 63), key + L"0", std::wstring()})
    EXPECT_FALSE(Verifies(L"http://login.grey.test/", wrong)) << wrong;
}

TEST(HashKeyTest, SessionKeyIsHmacSha256OfTheTextsUtf8) {
  // The published HMAC-SHA-256 test case with key "Jefe".
  const CSessionKey jefe(std::vector<unsigned char>{'J', 'e', 'f', 'e'});
  const std::wstring mac = L"5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843";
  EXPECT_EQ(jefe.Sign(L"what do ya want for nothing?"), mac);
  EXPECT_TRUE(jefe.Verify(L"what do ya want for nothing?", Upper(mac)));
  EXPECT_FALSE(jefe.Verify(L"what do ya want for nothing!", mac));
  // Text beyond ASCII is signed whole (as UTF-8), never cut to its low
  // bytes; what is no code point has no key.
  EXPECT_EQ(jefe.Sign(L"\u0161.test").size(), 64u);
  EXPECT_NE(jefe.Sign(L"\u0161.test"), jefe.Sign(L"a.test"));
  EXPECT_EQ(jefe.Sign(std::wstring(1, static_cast<wchar_t>(0xD800))), L"");
  EXPECT_FALSE(jefe.Verify(std::wstring(1, static_cast<wchar_t>(0xD800)), L""));
  // Without a secret nothing is signed or verified.
  const CSessionKey none(std::vector<unsigned char>{});
  EXPECT_EQ(none.Sign(L"www.example.com"), L"");
  EXPECT_FALSE(none.Verify(L"www.example.com", L""));
}

TEST(HashKeyTest, OnlyAMarkerThatVerifiesIsRemovedAndRemembered) {
  const std::wstring key = KeyOf(L"http://www.example.com/");
  struct Row {
    std::wstring in, held;  // held empty: the URI stays as it came
    bool http;
  };
  const Row rows[] = {
      {L"http://www.example.com/(" + key + L")", L"http://www.example.com", true},
      {L"http://www.example.com/(" + key + L")/", L"http://www.example.com", true},
      {L"http://www.example.com/a.html(" + key + L")", L"http://www.example.com/a.html", true},
      {L"http://www.example.com/(" + Upper(key) + L")", L"http://www.example.com", true},
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

TEST(HashKeyTest, AllThreadsShareTheProcesssSecret) {
  std::vector<std::wstring> keys(8);
  std::vector<std::thread> threads;
  for (auto& key : keys) threads.emplace_back([&key] { key = KeyOf(L"http://www.example.com/"); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(std::set<std::wstring>(keys.begin(), keys.end()).size(), 1u);
  EXPECT_EQ(keys[0].size(), 64u);
}
