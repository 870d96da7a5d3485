// Conformance of the URL cracker and canonicaliser the URI model stands on
// (hosts are compared with a browser's parser in UriDifferentialTest).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/WinError.h"
#include "platform/WinInet.h"

namespace {

// Cracks url into ample buffers and writes what came back as
// "scheme|number|user|password|host|port|path|extra", or, on failure,
// "error|scheme|number" (sentinels show what the cracker left alone).
std::wstring Crack(const std::wstring& url, DWORD flags = ICU_DECODE) {
  const DWORD n = static_cast<DWORD>(url.size() + 8);
  std::vector<std::vector<wchar_t>> buffers(6, std::vector<wchar_t>(n, L'#'));
  URL_COMPONENTSW c{};
  c.dwStructSize = sizeof c;
  LPWSTR* texts[] = {&c.lpszScheme,   &c.lpszUserName, &c.lpszPassword,
                     &c.lpszHostName, &c.lpszUrlPath,  &c.lpszExtraInfo};
  DWORD* lengths[] = {&c.dwSchemeLength,   &c.dwUserNameLength, &c.dwPasswordLength,
                      &c.dwHostNameLength, &c.dwUrlPathLength,  &c.dwExtraInfoLength};
  for (int i = 0; i < 6; ++i) *texts[i] = buffers[i].data(), *lengths[i] = n;
  c.nScheme = static_cast<INTERNET_SCHEME>(77), c.nPort = 7;  // sentinels
  const auto text = [&](int i) {
    return *lengths[i] < n ? std::wstring(*texts[i], *lengths[i]) : L"#";
  };
  if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), flags, &c))
    return std::to_wstring(GetLastError()) + L"|" + text(0) + L"|" + std::to_wstring(c.nScheme);
  std::wstring out = text(0) + L"|" + std::to_wstring(c.nScheme);
  for (int i = 1; i < 6; ++i)
    out += L"|" + text(i) + (i == 3 ? L"|" + std::to_wstring(c.nPort) : L"");
  return out;
}

}  // namespace

TEST(UrlCrackTest, SplitsUrlsIntoDecodedComponents) {
  const std::pair<const wchar_t*, const wchar_t*> rows[] = {
      {L"http://www.example.com/", L"http|3|||www.example.com|80|/|"},
      {L"HTTPS://User:Pw@WWW.Example.com:8443/a/b?q=1#frag",
       L"HTTPS|4|User|Pw|www.example.com|8443|/a/b|?q=1#frag"},
      {L"http://a.example?x=/y", L"http|3|||a.example|80||?x=/y"},
      {L"http://a.example:/x#top", L"http|3|||a.example|80|/x|#top"},
      {L"http://a.example/p%41th%20x?q=%26%zz", L"http|3|||a.example|80|/pAth x|?q=&%zz"},
      {L"http://u@h:p@a.example/", L"http|3|u@h|p|a.example|80|/|"},
      // Read as browsers read it: controls and spaces trimmed, tabs and
      // newlines dropped, "\" as "/" before the query.
      {L" \x01ht\ttp:\\\\u@Evil.test:0080\\a\n\\b?q\\#f\\ \x1f",
       L"http|3|u||evil.test|80|/a/b|?q\\#f\\"},
      // A decoded "%5C" is no separator: only "\" as written becomes "/".
      {L"http://a.example\\p%5Cq%2F\\r%", L"http|3|||a.example|80|/p\\q//r%|"},
      {L"ftp://a\\b@files.example/pub", L"ftp|1|a\\b||files.example|21|/pub|"},
      {L"about:blank", L"about|-1||||0|blank|"},
  };
  for (const auto& [url, parts] : rows) EXPECT_EQ(Crack(url), parts);
  EXPECT_EQ(Crack(L"http://a.example/%41?%41", 0), L"http|3|||a.example|80|/%41|?%41");
  EXPECT_EQ(Crack(L"http://a.example/%e9"), L"http|3|||a.example|80|/\u00e9|");
  const std::wstring path(2'000'000, L'p');  // any length
  EXPECT_EQ(Crack(L"http://a.example/" + path), L"http|3|||a.example|80|/" + path + L"|");
}

// The user information ends at the authority's last "@", however far from
// its end; hosts are lower-cased in one pass, "x" at a label's start too.
TEST(UrlCrackTest, LongAuthoritiesSplitAtTheirLastAtSign) {
  for (std::size_t far : {0, 1, 255, 256, 257, 5000}) {
    const std::wstring host = std::wstring(far, L'h') + L"X.Xn-a.XBOX.example";
    const std::wstring lower = std::wstring(far, L'h') + L"x.xn-a.xbox.example";
    EXPECT_EQ(Crack(L"http://u@" + std::wstring(far, L'@') + L"p@" + host + L"/"),
              L"http|3|u@" + std::wstring(far, L'@') + L"p||" + lower + L"|80|/|")
        << far;
    EXPECT_EQ(Crack(L"http://" + host + L":81/@"), L"http|3|||" + lower + L"|81|/@|") << far;
  }
}

TEST(UrlCrackTest, RejectsStringsWithoutASchemeAndAddressesBrowsersRefuse) {
  for (const wchar_t* url : {L"www.example.com", L"www.example.com/a:b", L"1http://x", L"://x",
                             L"http", L" \t"})
    EXPECT_EQ(Crack(url), L"12006|#|77") << url;
  // The scheme stays readable, so an http address that cannot be read is
  // still known as one.
  for (const wchar_t* url : {L"http://a.example:99999/", L"http://a.example:8x/", L"http://",
                             L"http://u@/", L"http://a b/", L"http://a%00b/", L"http://[::1/",
                             L"http://1.2.3.256/", L"http://x.09/"})
    EXPECT_EQ(Crack(url), L"12005|http|3") << url;
}

TEST(UrlCrackTest, RefusesBuffersThatCannotHoldAComponentAndSaysWhatItNeeds) {
  wchar_t host[8];
  URL_COMPONENTSW c{};
  c.dwStructSize = sizeof c;
  c.lpszHostName = host;
  c.dwHostNameLength = 4;
  EXPECT_FALSE(InternetCrackUrlW(L"http://abcd/", 0, 0, &c));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(c.dwHostNameLength, 5u);
  // A host can be longer than it was written.
  c.dwHostNameLength = 8;
  EXPECT_TRUE(InternetCrackUrlW(L"http:1", 0, 0, &c));
  EXPECT_EQ(std::wstring(host), L"0.0.0.1");
  EXPECT_EQ(c.dwHostNameLength, 7u);

  c.dwStructSize = 0;
  EXPECT_FALSE(InternetCrackUrlW(L"http://abc/", 0, 0, &c));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

namespace {

// The canonical form of url in a buffer of capacity characters, or the
// error and the size reported.
std::wstring Canonical(const std::wstring& url, DWORD capacity = 4096) {
  std::vector<wchar_t> buffer(capacity + 1, L'#');
  DWORD length = capacity;
  if (InternetCanonicalizeUrlW(url.c_str(), buffer.data(), &length, 0))
    return std::wstring(buffer.data(), length);
  return L"error " + std::to_wstring(GetLastError()) + L", size " + std::to_wstring(length);
}

}  // namespace

TEST(UrlCanonicalizeTest, ResolvesDotSegmentsEscapesAndFailsWhenTheResultDoesNotFit) {
  const std::pair<const wchar_t*, const wchar_t*> rows[] = {
      {L"http://a.example/b/../c", L"http://a.example/c"},
      {L"HTTP://WWW.Example.COM", L"http://www.example.com/"},
      {L"http://a.example/x y", L"http://a.example/x%20y"},
      {L"http://a.example/\u00e9\u4e2d", L"http://a.example/%C3%A9%E4%B8%AD"},
      {L"http://a.example/q?x=<1>&y=a/../b#f g", L"http://a.example/q?x=%3C1%3E&y=a/../b#f%20g"},
      {L"http://a.example/x&y+z", L"http://a.example/x&y+z"},
      {L"\thttp:\\\\u:@3232235521:80\\a\\..\\b", L"http://u@192.168.0.1/b"},
      {L"http://a.example\\a\\.\\b\\..\\c%5C..%2F\\", L"http://a.example/a/c%5C..%2F/"},
      {L"ftp://a.example/a\\..\\b/x/..", L"ftp://a.example/a%5C..%5Cb/"},
      {L"https://:@[0:0::1]:443", L"https://[::1]/"},
      {L"ftp://a.example:021/x", L"ftp://a.example:021/x"},
      {L"about:blank", L"about:blank"},
      {L"www.example.com", L"error 12006, size 4096"},
      {L"http://a%00b/", L"error 12005, size 4096"},
  };
  for (const auto& [in, out] : rows) EXPECT_EQ(Canonical(in), out) << in;
  // "http://a.example/c" is 18 characters: 19 with the terminator.
  EXPECT_EQ(Canonical(L"http://a.example/b/../c", 19), L"http://a.example/c");
  EXPECT_EQ(Canonical(L"http://a.example/b/../c", 18), L"error 122, size 19");
  DWORD length = 10;
  EXPECT_FALSE(InternetCanonicalizeUrlW(L"http://a.example/", nullptr, &length, 0x10000000));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}
