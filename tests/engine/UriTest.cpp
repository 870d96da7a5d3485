// The URI model: derived forms, canonical and escaped forms, site comparison,
// and URIs no browser should send.
#include <gtest/gtest.h>

#include <string>

#include "engine/Uri.h"
#include "engine/UriParser.h"

TEST(UriTest, DerivesEachFormByItsRecipe) {
  struct Row {
    const wchar_t* uri;
    bool http;
    const wchar_t *schemeless, *path, *host, *bareUri, *bareHost;
  };
  const Row rows[] = {
      {L"www.example.com", false, L"www.example.com", L"", L"www.example.com", L"www.example.com",
       L"www.example.com"},
      {L"http://www.example.com/", true, L"www.example.com/", L"/", L"www.example.com",
       L"www.example.com", L"www.example.com"},
      {L"http://www.example.com", true, L"www.example.com", L"", L"www.example.com",
       L"www.example.com", L"www.example.com"},
      {L"http://WWW.Example.com:8080/a/", true, L"WWW.Example.com:8080/a/", L"/a/",
       L"WWW.Example.com", L"www.example.com:8080/a", L"www.example.com"},
      {L"https://a.example/b/../c", true, L"a.example/b/../c", L"/c", L"a.example",
       L"a.example/c", L"a.example"},
      {L"http://user:pw@A.example/x%41?q#f", true, L"user:pw@A.example/x%41?q#f", L"/xA",
       L"A.example", L"user:pw@a.example/x%41?q#f", L"a.example"},
      {L"ftp://a.example/x", false, L"ftp://a.example/x", L"/x", L"a.example",
       L"ftp://a.example/x", L"a.example"},
      {L"about:blank", false, L"about:blank", L"", L"", L"about:blank", L""},
      {L"", false, L"", L"", L"", L"", L""},
      // Only "http:" is the scheme here; the host is not cut short.
      {L"http:evil.test/x", true, L"evil.test/x", L"evil.test/x", L"", L"evil.test/x", L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.uri);
    const CUri uri(row.uri);
    EXPECT_EQ(uri.GetUri(), row.uri);
    EXPECT_EQ(uri.HasHttpScheme(), row.http);
    EXPECT_EQ(uri.GetSchemelessUri(), row.schemeless);
    EXPECT_EQ(uri.GetPath(), row.path);
    EXPECT_EQ(uri.GetHost(), row.host);
    EXPECT_EQ(uri.GetBareUri(), row.bareUri);
    EXPECT_EQ(uri.GetBareHost(), row.bareHost);
  }
}

TEST(UriTest, CanonicaliseAdoptsOnlyShorterPlatformFormsAndEscapesForAQueryValue) {
  struct Row {
    const wchar_t* in;
    bool addScheme, addSlash;
    const wchar_t* out;
  };
  const Row rows[] = {
      {L"http://a.example/x&y+z", false, false, L"http://a.example/x%26y%2Bz"},
      {L"http://a.example/%41", false, false, L"http://a.example/%41"},
      {L"http://a.example/x y", false, false, L"http://a.example/x y"},
      {L"http://a.example/b/../c", false, false, L"http://a.example/c"},
      {L"http://a.example", false, true, L"http://a.example/"},
      {L"http://a.example/", false, true, L"http://a.example/"},
      {L"http://a.example/\u00e9\x01\x7f", false, false, L"http://a.example/%E9%01%7F"},
      {L"http://a.example/\u4e2d", false, false, L"http://a.example/\u4e2d"},
      {L"HTTP://a.example/?a=1&b=2", false, false, L"HTTP://a.example/?a=1%26b=2"},
      {L"ftp://a.example/x y", true, true, L"ftp://a.example/x y"},
      {L"about:blank", true, false, L"http://about:blank"},
      {L"www.example.com", true, false, L"http://www.example.com"},
      {L"www.example.com", false, false, L"www.example.com"},
      {L"", true, false, L"http://"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.in);
    EXPECT_EQ(CUri::Canonicalise(row.in, row.addScheme, row.addSlash), row.out);
  }
}

TEST(UriTest, ComparesSitesByBareHostAndBareForm) {
  struct Row {
    const wchar_t *a, *b;
    bool same;
  };
  const Row rows[] = {
      {L"http://www.example.com/page", L"http://www.example.com/", true},
      {L"http://a.example/x", L"http://b.example/x", false},
      {L"http://a.example/x", L"http://A.EXAMPLE/y", true},
      {L"http://a.example:8080/x", L"https://a.example/y", true},
      {L"a.example", L"http://a.example/deep/page", true},
      {L"http://www.example.com/", L"http://example.com/", false},
      {L"", L"http://a.example/", false},
      {L"", L"", false},
      {L"about:blank", L"about:blank", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::wstring(row.a) + L" ~ " + row.b);
    EXPECT_EQ(CUri(row.a).IsSameSite(CUri(row.b)), row.same);
    EXPECT_EQ(CUri(row.b).IsSameSite(row.a), row.same);
  }
}

TEST(UriTest, ParserAnswersEmptyForWhatTheCrackerRejects) {
  const CUriParser parser(L"no scheme here", ICU_DECODE);
  EXPECT_EQ(parser.GetSchemeNumber(), 0);
  EXPECT_EQ(parser.GetHost(), L"");
  EXPECT_EQ(parser.GetUrlPath(), L"");
  const CUriParser bad(L"http://a.example:99999/x", ICU_DECODE);
  EXPECT_EQ(bad.GetSchemeNumber(), 0);
  EXPECT_EQ(bad.GetScheme(), L"");
  EXPECT_FALSE(CUriParser::IsKnownScheme(L"about:blank", ICU_DECODE));
  EXPECT_TRUE(CUriParser::IsKnownScheme(L"mailto:x@example.com", ICU_DECODE));
  EXPECT_TRUE(CUriParser::IsHttpScheme(L"HtTpS://x", ICU_DECODE));
  EXPECT_EQ(CUriParser(L"https://a.example:444/p", ICU_DECODE).GetPort(), 444);
}

TEST(UriTest, SurvivesAnyStringWithoutCrashOrChange) {
  const std::wstring huge = L"http://" + std::wstring(1'000'000, L'a') + L".test/" +
                            std::wstring(500'000, L'(') + L")";
  const std::wstring wide = L"http://\u4e2d\u6587.example/\u0101\U0001F600)/(";
  const std::wstring strays[] = {L"http://a.example/x)",  L"http://a.example/(x",
                                 L"http://)(/",           L"http://a.example/)/",
                                 L"http://(",             L")",
                                 L"(",                    L"http:",
                                 L"http://a.example/()/", std::wstring(L"http://a\0b/", 11),
                                 huge,                    wide};
  for (const std::wstring& s : strays) {
    SCOPED_TRACE(s.size() < 64 ? s : L"<long>");
    const CUri uri(s);
    EXPECT_EQ(uri.GetUri(), s);
    EXPECT_FALSE(uri.HasValidHashKey());
    uri.GetBareUri();
    uri.GetBareHost();
    uri.GetPath();
    EXPECT_EQ(uri.IsSameSite(uri), !uri.GetBareHost().empty() || !uri.GetBareUri().empty());
  }
  const CUri big(huge);
  EXPECT_EQ(big.GetSchemelessUri().size(), huge.size() - 7);
  EXPECT_EQ(big.GetHost().size(), 1'000'005u);
}
