// The URI model on Windows, where WinINet (InternetCrackUrlW and
// InternetCanonicalizeUrlW) cracks addresses rather than a browser's
// reading: what it gives for the addresses a browser reads otherwise (the
// Linux tests of uri/ hold the browser's reading). Each row is a difference
// the scan inherits there; the comment says what it costs.
#include <gtest/gtest.h>

#include <string>

#include "common/Database.h"
#include "common/FakeBrowser.h"
#include "engine/PhishListEngine.h"
#include "uri/Uri.h"

namespace {

struct Reading {
  std::wstring address;
  bool http;
  std::wstring host, subject;
};

}  // namespace

TEST(WinInetUriTest, HostsAndSubjectsAsWinINetCracksThem) {
  const Reading rows[] = {
      // A browser contacts evil.test; the subject names the warning pages'
      // own site, so the engine never scans it.
      {L"http://evil.test\\@antiphish.ostrel.example/login", true, L"evil.test",
       L"antiphish.ostrel.example/login"},
      // Backslashes after the scheme: no host, the text searched as written.
      {L"http:\\\\evil.test\\", true, L"", L"\\\\evil.test\\"},
      // Surrounding blanks and controls are not dropped: no http address.
      {L" \x01\thttp://ev\til.te\nst/a\r\n ", false, L" \x01\thttp",
       L" \x01\thttp://ev\til.te\nst/a\r\n "},
      // Case, escapes, numeric and international forms of a host stay as
      // written: an entry anchored on "evil.test/" must match them all.
      {L"HTTP://EVIL.TEST:80/", true, L"EVIL.TEST", L"EVIL.TEST/"},
      {L"http://%65vil.test/", true, L"evil.test", L"%65vil.test/"},
      {L"http://3232235521/", true, L"3232235521", L"3232235521/"},
      {L"http://0xc0.0xa8.0.1/", true, L"0xc0.0xa8.0.1", L"0xc0.0xa8.0.1/"},
      {L"http://\uff45\uff56\uff49\uff4c\uff0e\uff54\uff45\uff53\uff54/", true,
       L"\uff45\uff56\uff49\uff4c\uff0e\uff54\uff45\uff53\uff54",
       L"\uff45\uff56\uff49\uff4c\uff0e\uff54\uff45\uff53\uff54/"},
      {L"http://B\u00fccher.example/", true, L"B\u00fccher.example", L"B\u00fccher.example/"},
      {L"http://[0:0::1]:8080/", true, L"[0:0::1]", L"[0:0::1]:8080/"},
      {L"http:1", true, L"", L"1"},
      // A NUL ends the address: what follows is never searched.
      {std::wstring(L"http://a.example/x\0/y", 21), true, L"a.example", L"a.example/x"},
      {L"http://evil%00.test/", true, L"evil", L"evil%00.test/"},
      // A port beyond 65535 wraps rather than failing the address.
      {L"http://evil.test:99999/", true, L"evil.test", L"evil.test:34463/"},
      // A host a browser refuses is a site.
      {L"http://foo.123/", true, L"foo.123", L"foo.123/"},
  };
  for (const Reading& row : rows) {
    SCOPED_TRACE(row.address);
    const CUri uri(row.address);
    EXPECT_EQ(uri.HasHttpScheme(), row.http);
    EXPECT_EQ(uri.GetHost(), row.host);
    EXPECT_EQ(uri.GetSchemelessUri(), row.subject);
  }
}

// The derived forms keep the host's case and take the query and fragment
// into the path; a missing path reads as "/", and "about:" names a host.
TEST(WinInetUriTest, DerivedFormsKeepTheHostsCaseAndTheQueryInThePath) {
  const struct {
    const wchar_t *uri, *schemeless, *path, *host, *bareHost;
  } rows[] = {
      {L"www.example.com", L"www.example.com", L"/", L"www.example.com", L"www.example.com"},
      {L"http://www.example.com", L"www.example.com/", L"/", L"www.example.com",
       L"www.example.com"},
      {L"http://WWW.Example.com:8080/a/", L"WWW.Example.com:8080/a/", L"/a/", L"WWW.Example.com",
       L"www.example.com"},
      {L"http://user:pw@A.example/x%41?q#f", L"A.example/x%41?q#f", L"/xA?q#f", L"A.example",
       L"a.example"},
      {L"about:blank", L"about:blank", L"/", L"about", L"about"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.uri);
    const CUri uri(row.uri);
    EXPECT_EQ(uri.GetSchemelessUri(), row.schemeless);
    EXPECT_EQ(uri.GetPath(), row.path);
    EXPECT_EQ(uri.GetHost(), row.host);
    EXPECT_EQ(uri.GetBareHost(), row.bareHost);
  }
}

TEST(WinInetUriTest, SitesKeysAndCanonicalFormsFollowWinINetsReading) {
  // A NUL cuts the host short, and a port out of range still names a site.
  EXPECT_TRUE(CUri(std::wstring(L"http://a\0b/", 11)).IsSameSite(L"http://a/"));
  EXPECT_TRUE(CUri(L"http://antiphish.example:99999/").IsSameSite(L"http://antiphish.example/"));
  EXPECT_FALSE(CUri(L"http://a.example/").IsSameSite(L"http:\\\\a.%65xample\\y"));
  // The click-through key of a host written with backslashes is another
  // host's: it never verifies for the address a browser shows.
  EXPECT_NE(CUri(L"http:\\\\www.%65xample.com\\x").GetHashKey(),
            CUri(L"http://www.example.com/").GetHashKey());
  // Canonical forms: no numeric host rewritten, "blank" read as a port,
  // and no root slash added to a bare host.
  EXPECT_EQ(CUri::Canonicalise(L"http://3232235521/x y", false, true), L"http://3232235521/x y/");
  EXPECT_EQ(CUri::Canonicalise(L"about:blank", true, false), L"http://about:0");
  EXPECT_EQ(CUri::Canonicalise(L"http://grey.test", false, false), L"http://grey.test");
}

// What the first row costs the engine: a browser would contact evil.test,
// which the list blocks; the scan searches the warning pages' own site.
TEST(WinInetUriTest, AnAddressWinINetReadsAsTheWarningSiteIsNotBlocked) {
  ASSERT_TRUE(ostrel::test::WriteLocalDatabase("b ^evil\\.test/\n"));
  ostrel::test::FakeBrowser browser;
  CPhishListEngine engine(&browser);
  engine.Scan(L"http://evil.test/login");
  engine.Scan(L"http://evil.test\\@antiphish.ostrel.example/login");
  ASSERT_EQ(browser.navigations.size(), 1u);
  EXPECT_EQ(browser.stops, 1);
}
