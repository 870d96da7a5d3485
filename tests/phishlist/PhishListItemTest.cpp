// Phish-list entries: kinds, and how a pattern is compiled and searched in
// the schemeless URI.
#include <gtest/gtest.h>

#include <boost/regex.hpp>

#include "engine/Uri.h"
#include "phishlist/PhishListItem.h"
#include "support/TraceCapture.h"

namespace {

bool Hits(const std::wstring& pattern, const std::wstring& uri) {
  CPhishListItem item;
  item.SetPattern(pattern);
  return item.Matches(CUri(uri).GetSchemelessUri());
}

}  // namespace

TEST(PhishListItemTest, PatternsAreCaseInsensitiveUnanchoredSearchesOfTheSchemelessUri) {
  struct Row {
    const wchar_t *pattern, *uri;
    bool hit;
  };
  const Row rows[] = {
      {L"Example", L"http://www.example.test/", true},
      {L"example.test", L"http://exampleXtest/", true},
      {L"example.test", L"http://example.test.evil.test/", true},
      {L"^example\\.test/", L"http://exampleXtest/", false},
      {L"^example\\.test/", L"http://example.test.evil.test/", false},
      {L"^example\\.test/", L"HTTPS://EXAMPLE.TEST/", true},
      {L"^www\\.example\\.test/login", L"https://www.example.test/login.php", true},
      {L"^www\\.example\\.test/login", L"http://evil.test/?r=www.example.test/login", false},
      {L"^http://evil", L"http://evil.test/", false},
      {L"http://evil", L"http://a.test/?u=http://evil.test/", true},
      {L"^([a-z0-9-]+\\.)*evil-site\\.test(:|/|$)", L"http://login.EVIL-SITE.test:8080/", true},
      {L"^([a-z0-9-]+\\.)*evil-site\\.test(:|/|$)", L"http://evil-site.test.example/", false},
      {L"[[:digit:]]{3}$", L"http://a.test/123", true},
      {L"(ab)\\1", L"http://abab.test/", true},
      {L"[\\d]x", L"http://a.test/7x", true},
      {L"evil\\.test", L"ftp://evil.test/", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::wstring(row.pattern) + L" in " + row.uri);
    EXPECT_EQ(Hits(row.pattern, row.uri), row.hit);
  }
}

TEST(PhishListItemTest, APatternThatDoesNotCompileRaisesTheLibraryError) {
  for (const wchar_t* bad : {L"^bad(", L"a{2,1}", L"[z-a]", L"*x", L"(?<"}) {
    CPhishListItem item;
    EXPECT_THROW(item.SetPattern(bad), boost::regex_error) << bad;
  }
}

TEST(PhishListItemTest, ASearchTheEngineGivesUpOnIsNoMatchAndTheEntryStaysUsable) {
  CTraceCapture capture;
  CPhishListItem item;
  item.SetPattern(L"(a+)+$");
  const std::wstring subject = std::wstring(100'000, L'a') + L"!";
  EXPECT_FALSE(item.Matches(subject));
  EXPECT_TRUE(capture.Contains(L"Pattern search abandoned"));
  EXPECT_TRUE(item.Matches(L"aaa"));

  for (const wchar_t* pattern : {L"(.*)*x", L"(a|aa)+$", L"^(([a-z])+.)+[A-Z]([a-z])+$"}) {
    CPhishListItem other;
    other.SetPattern(pattern);
    EXPECT_FALSE(other.Matches(std::wstring(30, L'a') + L"!")) << pattern;
    EXPECT_FALSE(other.Matches(subject)) << pattern;
  }
  EXPECT_FALSE(CPhishListItem().Matches(L"anything"));
}

TEST(PhishListItemTest, APatternTextIsHeldAsAUri) {
  CPhishListItem item;
  item.SetPattern(L"^Evil\\.test/");
  ASSERT_NE(item.GetUriObject(), nullptr);
  EXPECT_EQ(item.GetUriObject()->GetUri(), L"^Evil\\.test/");
  EXPECT_TRUE(item.GetRegex().flags() & boost::regex_constants::icase);
  // An http text ending in this process's verified key is compiled without it.
  const std::wstring key = CUri(L"http://evil.test/").GetHashKey();
  item.SetPattern(L"http://evil.test/(" + key + L")");
  EXPECT_EQ(item.GetUriObject()->GetUri(), L"http://evil.test");
  EXPECT_TRUE(item.Matches(L"http://evil.test"));
}
