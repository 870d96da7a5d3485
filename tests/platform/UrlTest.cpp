// Conformance of the URL cracker and canonicaliser the URI model stands on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/WinError.h"
#include "platform/WinInet.h"

namespace {

struct Cracked {
  BOOL ok;
  DWORD error;
  std::wstring scheme, host, user, password, path, extra;
  int schemeNumber;
  int port;
};

Cracked Crack(const std::wstring& url, DWORD flags = ICU_DECODE) {
  const std::size_t n = url.size() + 1;
  std::vector<wchar_t> scheme(n, L'#'), host(n, L'#'), user(n, L'#'), password(n, L'#'),
      path(n, L'#'), extra(n, L'#');
  URL_COMPONENTSW c{};
  c.dwStructSize = sizeof c;
  c.lpszScheme = scheme.data();
  c.lpszHostName = host.data();
  c.lpszUserName = user.data();
  c.lpszPassword = password.data();
  c.lpszUrlPath = path.data();
  c.lpszExtraInfo = extra.data();
  c.dwSchemeLength = c.dwHostNameLength = c.dwUserNameLength = c.dwPasswordLength =
      c.dwUrlPathLength = c.dwExtraInfoLength = static_cast<DWORD>(n);
  c.nScheme = static_cast<INTERNET_SCHEME>(77);  // sentinels
  c.nPort = 7;
  SetLastError(0xDEAD);
  Cracked r{};
  r.ok = InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), flags, &c);
  r.error = GetLastError();
  if (r.ok) {
    r.scheme.assign(scheme.data(), c.dwSchemeLength);
    r.host.assign(host.data(), c.dwHostNameLength);
    r.user.assign(user.data(), c.dwUserNameLength);
    r.password.assign(password.data(), c.dwPasswordLength);
    r.path.assign(path.data(), c.dwUrlPathLength);
    r.extra.assign(extra.data(), c.dwExtraInfoLength);
    r.schemeNumber = c.nScheme;
    r.port = c.nPort;
  }
  return r;
}

}  // namespace

TEST(UrlCrackTest, SplitsUrlsIntoDecodedComponents) {
  struct Row {
    const wchar_t* url;
    const wchar_t* scheme;
    int number;
    const wchar_t *user, *password, *host;
    int port;
    const wchar_t *path, *extra;
  };
  const Row rows[] = {
      {L"http://www.example.com/", L"http", 3, L"", L"", L"www.example.com", 80, L"/", L""},
      {L"HTTPS://User:Pw@WWW.Example.com:8443/a/b?q=1#frag", L"HTTPS", 4, L"User", L"Pw",
       L"WWW.Example.com", 8443, L"/a/b", L"?q=1#frag"},
      {L"http://a.example", L"http", 3, L"", L"", L"a.example", 80, L"", L""},
      {L"http://a.example?x=/y", L"http", 3, L"", L"", L"a.example", 80, L"", L"?x=/y"},
      {L"http://a.example:/x#top", L"http", 3, L"", L"", L"a.example", 80, L"/x", L"#top"},
      {L"http://a.example/p%41th%20x?q=%26%zz", L"http", 3, L"", L"", L"a.example", 80,
       L"/pAth x", L"?q=&%zz"},
      {L"http://[::1]:8080/x", L"http", 3, L"", L"", L"[::1]", 8080, L"/x", L""},
      {L"http://u@h@a.example/", L"http", 3, L"u@h", L"", L"a.example", 80, L"/", L""},
      {L"ftp://files.example/pub", L"ftp", 1, L"", L"", L"files.example", 21, L"/pub", L""},
      {L"about:blank", L"about", -1, L"", L"", L"", 0, L"blank", L""},
      {L"javascript:alert(1)", L"javascript", 9, L"", L"", L"", 0, L"alert(1)", L""},
      {L"x-custom+1.0:thing", L"x-custom+1.0", -1, L"", L"", L"", 0, L"thing", L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.url);
    const Cracked c = Crack(row.url);
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.scheme, row.scheme);
    EXPECT_EQ(c.schemeNumber, row.number);
    EXPECT_EQ(c.user, row.user);
    EXPECT_EQ(c.password, row.password);
    EXPECT_EQ(c.host, row.host);
    EXPECT_EQ(c.port, row.port);
    EXPECT_EQ(c.path, row.path);
    EXPECT_EQ(c.extra, row.extra);
  }
}

TEST(UrlCrackTest, DecodesOnlyWhenAsked) {
  EXPECT_EQ(Crack(L"http://a.example/%41", 0).path, L"/%41");
  EXPECT_EQ(Crack(L"http://a.example/%41", ICU_DECODE).path, L"/A");
  EXPECT_EQ(Crack(L"http://a.example/%e9", ICU_DECODE).path, L"/\u00e9");
}

TEST(UrlCrackTest, RejectsStringsWithoutASchemeAndBadPorts) {
  for (const wchar_t* url : {L"www.example.com", L"www.example.com/a:b", L"1http://x", L"://x",
                             L" http://x", L"http"}) {
    SCOPED_TRACE(url);
    const Cracked c = Crack(url);
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.error, ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  }
  for (const wchar_t* url : {L"http://a.example:99999/", L"http://a.example:8x/"}) {
    SCOPED_TRACE(url);
    const Cracked c = Crack(url);
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.error, ERROR_INTERNET_INVALID_URL);
  }
}

TEST(UrlCrackTest, RefusesBuffersThatCannotHoldAComponentAndBadRecords) {
  wchar_t host[4];
  URL_COMPONENTSW c{};
  c.dwStructSize = sizeof c;
  c.lpszHostName = host;
  c.dwHostNameLength = 4;
  EXPECT_FALSE(InternetCrackUrlW(L"http://abcd/", 0, 0, &c));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  c.dwHostNameLength = 4;
  EXPECT_TRUE(InternetCrackUrlW(L"http://abc/", 0, 0, &c));
  EXPECT_EQ(std::wstring(host), L"abc");
  EXPECT_EQ(c.dwHostNameLength, 3u);

  c.dwStructSize = 0;
  EXPECT_FALSE(InternetCrackUrlW(L"http://abc/", 0, 0, &c));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(UrlCrackTest, HandlesUrlsOfAnyLength) {
  const std::wstring path(2'000'000, L'p');
  const Cracked c = Crack(L"http://a.example/" + path + L"?q");
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.path.size(), path.size() + 1);
  EXPECT_EQ(c.extra, L"?q");
}

namespace {

std::wstring Canonical(const std::wstring& url, DWORD capacity = 4096, BOOL* ok = nullptr,
                       DWORD* reported = nullptr) {
  std::vector<wchar_t> buffer(capacity + 1, L'#');
  DWORD length = capacity;
  const BOOL result = InternetCanonicalizeUrlW(url.c_str(), buffer.data(), &length, 0);
  if (ok) *ok = result;
  if (reported) *reported = length;
  return result ? std::wstring(buffer.data(), length) : L"<failed>";
}

}  // namespace

TEST(UrlCanonicalizeTest, ResolvesDotSegmentsAndEscapesUnsafeCharacters) {
  const std::pair<const wchar_t*, const wchar_t*> rows[] = {
      {L"http://a.example/b/../c", L"http://a.example/c"},
      {L"HTTP://WWW.Example.COM", L"http://www.example.com/"},
      {L"http://a.example/x y", L"http://a.example/x%20y"},
      {L"http://a.example/%41/./b/", L"http://a.example/%41/b/"},
      {L"http://a.example/a/b/../../..", L"http://a.example/"},
      {L"http://a.example/a//b/.", L"http://a.example/a//b/"},
      {L"http://a.example/\u00e9\u4e2d", L"http://a.example/%C3%A9%E4%B8%AD"},
      {L"http://a.example/q?x=<1>&y=a/../b#f g", L"http://a.example/q?x=%3C1%3E&y=a/../b#f%20g"},
      {L"http://a.example/x&y+z", L"http://a.example/x&y+z"},
      {L"https://u:p@a.example:8443", L"https://u:p@a.example:8443/"},
      {L"about:blank", L"about:blank"},
  };
  for (const auto& [in, out] : rows) {
    SCOPED_TRACE(in);
    EXPECT_EQ(Canonical(in), out);
  }
  BOOL ok = TRUE;
  Canonical(L"www.example.com", 100, &ok);
  EXPECT_FALSE(ok);
}

TEST(UrlCanonicalizeTest, FailsWhenTheResultAndItsTerminatorDoNotFit) {
  BOOL ok = FALSE;
  DWORD reported = 0;
  // "http://a.example/c" is 18 characters: 19 with the terminator.
  EXPECT_EQ(Canonical(L"http://a.example/b/../c", 19, &ok, &reported), L"http://a.example/c");
  EXPECT_TRUE(ok);
  EXPECT_EQ(reported, 18u);
  Canonical(L"http://a.example/b/../c", 18, &ok, &reported);
  EXPECT_FALSE(ok);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(reported, 19u);

  DWORD length = 10;
  EXPECT_FALSE(InternetCanonicalizeUrlW(L"http://a.example/", nullptr, &length, 0x10000000));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}
