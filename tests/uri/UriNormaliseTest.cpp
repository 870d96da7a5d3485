// The list's subject as a server reads the address: unreserved escapes
// decoded and dot segments resolved in the path, nothing else changed.
#include <gtest/gtest.h>

#include <string>

#include "uri/Uri.h"
#include "uri/UriNormalise.h"

TEST(UriNormaliseTest, ThePathReadsAsAServerReadsIt) {
  const struct {
    const wchar_t *subject, *normalised;
  } rows[] = {
      {L"evil.test/x/../login.php", L"evil.test/login.php"},
      {L"evil.test/%6cogin%2Ephp", L"evil.test/login.php"},
      {L"evil.test:8080/a/./b/../../login.php?x=1", L"evil.test:8080/login.php?x=1"},
      {L"evil.test/%2E%2e/%2e/login.php", L"evil.test/login.php"},
      {L"evil.test/%41%5A%61%7A%30%39%2D%2E%5F%7E", L"evil.test/AZaz09-._~"},
      // Dot segments as RFC 3986 removes them: a final one leaves "/", none
      // climbs above the root, empty segments stay.
      {L"h.test/a/b/..", L"h.test/a/"},
      {L"h.test/../../a", L"h.test/a"},
      {L"h.test/..", L"h.test/"},
      {L"h.test/a//../b", L"h.test/a/b"},
      {L"[::1]:81/x/../y", L"[::1]:81/y"},
      // Reserved and other escapes, a query or fragment, and names that only
      // look like dot segments stay as written.
      {L"h.test/a%2F..%2Flogin.php", nullptr},
      {L"h.test/%2f%3F%23%25%20%C3%A9", nullptr},
      {L"h.test/%252E%252E/login.php", nullptr},
      {L"h.test/login.php?next=/../%6C/./x", nullptr},
      {L"h.test/a#/../b", nullptr},
      {L"h.test/.../..a/a../.a", nullptr},
      {L"h.test//a//", nullptr},
      // An escape that would complete a stray "%" stays: servers decode once.
      {L"h.test/%6%61/%%61%62/%6%2e", L"h.test/%6%61/%%61b/%6."},
      {L"h.test/%6G%", nullptr},
      {L"h.test?/../%6C", nullptr},
      {L"h.test", nullptr},
      {L"", nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.subject);
    std::wstring normalised = L"untouched";
    EXPECT_EQ(NormaliseSubject(row.subject, &normalised), row.normalised != nullptr);
    EXPECT_EQ(normalised, row.normalised ? row.normalised : L"untouched");
    const std::wstring once = NormalisedSubject(row.subject);
    EXPECT_EQ(NormalisedSubject(once), once);  // normalising again changes nothing
  }
}

// The subject an address gives the list, normalised: the host as the
// browser reads it first, then the path as the server does.
TEST(UriNormaliseTest, NormalisesTheSubjectOfTheHostTheBrowserContacts) {
  EXPECT_EQ(NormalisedSubject(CUri(L"http://EVIL.test\\x\\..\\%6Cogin.php?a=%6C").GetSchemelessUri()),
            L"evil.test/login.php?a=%6C");
  EXPECT_EQ(NormalisedSubject(CUri(L"http://a.test@evil.test/%2e%2E/").GetSchemelessUri()),
            L"evil.test/");
}

// Dot segments far from the root in a long address cost one pass: each
// ".." removes what came before it without a search from the front.
TEST(UriNormaliseTest, ALongPathOfDotSegmentsResolvesToTheRoot) {
  std::wstring subject = L"h.test" + std::wstring(1 << 20, L'x');
  for (int i = 0; i < 50000; ++i) subject += L"/a";
  for (int i = 0; i < 60000; ++i) subject += L"/%2E%2e";
  EXPECT_EQ(NormalisedSubject(subject), L"h.test" + std::wstring(1 << 20, L'x') + L"/");
}
