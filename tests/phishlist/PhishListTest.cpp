// The phish list and its entries: pattern search, lookup order, reloads
// that keep what the user white-listed, the database text, the bounded cost
// of a hostile entry, and loading from the local file.
#include <gtest/gtest.h>

#include <boost/regex.hpp>

#include <atomic>
#include <string>
#include <thread>

#include "common/Database.h"
#include "phishlist/PhishList.h"
#include "support/TraceCapture.h"

namespace {

void Load(CPhishListEntries& list, const std::string& plain) {
  auto stream = ostrel::test::ContainerStream(plain);
  list.Load(stream);
}

ListKind KindOf(CPhishListEntries& list, const std::wstring& uri) { return list.LookUp(CUri(uri)); }

}  // namespace

TEST(PhishListItemTest, PatternsAreCaseInsensitiveUnanchoredSearchesOfTheSchemelessUri) {
  const struct {
    const wchar_t *pattern, *uri;
    bool hit;
  } rows[] = {
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
  for (const auto& row : rows) {
    CPhishListItem item;
    item.SetPattern(row.pattern);
    EXPECT_EQ(item.Matches(CUri(row.uri).GetSchemelessUri()), row.hit)
        << row.pattern << L" in " << row.uri;
  }
  const std::wstring tooLong(CPhishListItem::kMaxPatternLength + 1, L'x');
  for (const std::wstring bad : {L"^bad(", L"a{2,1}", L"[z-a]", L"*x", L"(?<", tooLong.c_str()})
    EXPECT_THROW(CPhishListItem().SetPattern(bad), boost::regex_error) << bad.substr(0, 9);
  // The text is held as a CUri: one ending in this process's verified key
  // is compiled without it.
  CPhishListItem item;
  const std::wstring key = CUri(L"http://evil.test/").GetHashKey();
  item.SetPattern(L"http://evil.test/(" + key + L")");
  EXPECT_EQ(item.GetUriObject()->GetUri(), L"http://evil.test");
  EXPECT_EQ(item.GetPattern(), L"http://evil.test");
  EXPECT_TRUE(item.Matches(L"http://evil.test"));
  // Held a byte a character when it can be, and whole when it cannot: the
  // text reads back as given either way.
  for (const std::wstring text : {L"^caf\u00e9\\.test/\u00ff", L"^\u043f\u0440\u0438\\.test/\u00e9"}) {
    CPhishListItem held;
    held.SetPattern(text);
    EXPECT_EQ(held.GetPattern(), text);
    EXPECT_EQ(held.GetUriObject()->GetUri(), text);
    std::wstring subject = text.substr(1);
    subject.erase(subject.find(L'\\'), 1);
    EXPECT_TRUE(held.Matches(subject)) << subject;
  }
}

TEST(PhishListTest, TheFirstMatchingEntryDecidesWhateverItsKind) {
  CPhishListEntries list;
  EXPECT_EQ(KindOf(list, L"http://anything.test/"), 0);
  Load(list, "w ^good\\.test/\nb good\\.test\nx ^hidden\\.test/\nb ^hidden\\.test/\n"
             "g ^grey\\.test/\nb evil\n");
  EXPECT_EQ(list.GetCount(), 6u);
  EXPECT_EQ(KindOf(list, L"http://good.test/page"), LIST_KIND_WHITE);
  EXPECT_EQ(KindOf(list, L"http://www.good.test/page"), LIST_KIND_BLACK);
  EXPECT_EQ(KindOf(list, L"https://hidden.test/x"), LIST_KIND_NONE);  // kind 0 hides the rest
  EXPECT_EQ(list.FindIndex(CUri(L"https://hidden.test/x")), 2);
  EXPECT_EQ(KindOf(list, L"http://GREY.test/"), LIST_KIND_GREY);
  EXPECT_EQ(KindOf(list, L"http://a.test/?q=EVIL"), LIST_KIND_BLACK);
  EXPECT_EQ(KindOf(list, L"http://clean.test/"), LIST_KIND_NONE);
}

// The address as a server reads it decides; as written, it is tried only
// when that finds no entry of a kind, so entries for a raw form keep
// working. What the server's reading is lives in UriNormaliseTest.
TEST(PhishListTest, AnAddressIsLookedUpAsAServerReadsItThenAsWritten) {
  CPhishListEntries list;
  Load(list,
       "w ^good\\.test/account\n"
       "x ^hidden\\.test/a\n"
       "b ^([^/?\\x23@]*@)?evil\\.test\\.?(:[0-9]+)?/login\\.php\n"
       "b /paypa1-login\n"
       "b /%7Euser/phish\n"
       "b %61ccount\n"
       "g ^hidden\\.test/%61\n");
  const struct {
    const wchar_t* uri;
    long index;
  } rows[] = {
      {L"http://evil.test/login.php", 2},
      {L"http://evil.test:81/a/%2E%2E/%6c%6F%67in%2ephp?x", 2},
      {L"http://a.example/paypa%31-login", 3},
      {L"http://a.example/%7Euser/phish", 4},        // the raw form's entry
      {L"http://good.test/%61ccount", 0},            // the server's reading decides
      {L"http://hidden.test/%61", 6},                // kind 0 there: the raw form decides
      {L"http://hidden.test/a", 1},
      {L"http://evil.test/x%2F..%2Flogin.php", -1},  // read as written: no entry
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.uri);
    const CUri uri(row.uri);
    EXPECT_EQ(list.FindIndex(uri), row.index);
    EXPECT_EQ(list.FindIndexLinear(uri), row.index);
    const CPhishListItem* entry = row.index < 0 ? nullptr : list.GetEntry(row.index);
    EXPECT_EQ(list.LookUp(uri), entry ? entry->GetKind() : LIST_KIND_NONE);
  }
}

TEST(PhishListTest, AReloadKeepsUserWhiteListedEntriesFirstAndDropsTheRest) {
  CPhishListEntries list;
  Load(list, "b ^one\\.test/\ng ^two\\.test/\nb ^three\\.test/\nw ^four\\.test/\n");
  list.WhiteListTemporarily(CUri(L"http://three.test/"));
  list.WhiteListTemporarily(CUri(L"http://one.test/"));
  CTraceCapture capture;
  // "three" comes again as black, "one" as grey, "four" only in other
  // letter case (texts compare exactly), "two" as it was.
  Load(list, "b ^new\\.test/\nb ^three\\.test/\ng ^one\\.test/\nb ^FOUR\\.test/\ng ^two\\.test/\n");
  EXPECT_TRUE(capture.Contains(L"Flag ^three\\.test/ as not redundent\r\n"));
  EXPECT_TRUE(capture.Contains(L"Removing ^four\\.test/ - w\r\n"));
  EXPECT_EQ(list.GetCount(), 5u);
  const struct {
    const wchar_t* uri;
    long index;
    ListKind kind;
  } expected[] = {{L"http://one.test/", 0, LIST_KIND_WHITE}, {L"http://three.test/", 1, LIST_KIND_WHITE},
                  {L"http://new.test/", 2, LIST_KIND_BLACK}, {L"http://four.test/", 3, LIST_KIND_BLACK},
                  {L"http://two.test/", 4, LIST_KIND_GREY}};
  for (const auto& e : expected) {
    EXPECT_EQ(list.FindIndex(CUri(e.uri)), e.index) << e.uri;
    EXPECT_EQ(KindOf(list, e.uri), e.kind) << e.uri;
  }
}

TEST(PhishListTest, IdenticalWhiteEntriesAcrossReloads) {
  const std::string twins = "w ^twin\\.test/\nw ^twin\\.test/\n";
  const struct {
    std::string first, next;
    int reloads;
  } rows[] = {
      {twins + "b ^other\\.test/\n", "b ^other\\.test/\n", 1},  // text gone: the first twin goes
      {twins, "b ^twin\\.test/\n", 5},  // the text once: the line is dropped, both twins stay
      {twins, twins, 5},                // the same data again and again: no growth
  };
  for (const auto& row : rows) {
    CPhishListEntries list;
    Load(list, row.first);
    for (int i = 0; i < row.reloads; ++i) {
      Load(list, row.next);
      EXPECT_EQ(list.GetCount(), 2u) << row.next << " reload " << i;
    }
    EXPECT_EQ(list.FindIndex(CUri(L"http://twin.test/")), 0);
    EXPECT_EQ(KindOf(list, L"http://twin.test/"), LIST_KIND_WHITE);
  }
}

TEST(PhishListTest, DatabaseTextFormat) {
  const std::string longest(CPhishListItem::kMaxPatternLength, 'x');
  const struct {
    std::string text;
    std::size_t count;
    ListKind kind;  // of the first entry, looked up with http://evil.test/
  } rows[] = {
      {"b ^evil\\.test/\n", 1, LIST_KIND_BLACK},
      {"  black   ^evil\\.test/   extra\n", 1, LIST_KIND_BLACK},
      {"x ^evil\\.test/\n", 1, LIST_KIND_NONE},
      {"G ^evil\\.test/\r\n", 1, LIST_KIND_GREY},
      {"white ^evil\\.test/\n", 1, LIST_KIND_WHITE},
      {"w evil.test # trusted\n", 0, LIST_KIND_NONE},
      {"# b ^evil\\.test/\n", 0, LIST_KIND_NONE},
      {"b\t^evil\\.test/\n", 0, LIST_KIND_NONE},
      {"b\n\n   \nonlyonefield\n", 0, LIST_KIND_NONE},
      {"b ^evil\\.test/", 0, LIST_KIND_NONE},  // no LF: not a line
      {"b ^ev\x01il\\.test/\n", 1, LIST_KIND_BLACK},  // control characters dropped
      {"b ^bad(\nb ^evil\\.test/\n", 1, LIST_KIND_BLACK},
      {"b x" + longest + "\nb ^evil\\.test/\n", 1, LIST_KIND_BLACK},  // too long: a bad line
      {"b " + longest + "\n", 1, LIST_KIND_NONE},
      {"", 0, LIST_KIND_NONE},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text.substr(0, 40));
    CPhishListEntries list;
    Load(list, row.text);
    EXPECT_TRUE(list.IsLoaded());
    EXPECT_EQ(list.GetCount(), row.count);
    EXPECT_EQ(KindOf(list, L"http://evil.test/"), row.kind);
  }
  CTraceCapture capture;  // rejected patterns, too long ones included, are traced
  CPhishListEntries list;
  Load(list, "b ^bad(\nb x" + longest + "\n");
  EXPECT_EQ(capture.Count(L"Bad regex: ^bad("), 1u);
  EXPECT_TRUE(capture.Contains(L"Bad regex: x" + std::wstring(longest.begin(), longest.end())));
}

// Nested repeats that need millions of matching states (the first would
// match at last): each search gives up within its budget, whatever the
// address's length, the entry counts as no match and the entries after it
// still decide.
TEST(PhishListTest, AnEntryThatWouldNeedMillionsOfStatesIsNoMatch) {
  const std::string pad(480, 'z');
  CTraceCapture capture;
  for (const std::string& hostile :
       {"^(a+)+b|a|" + pad, "(a+)+$|" + pad, std::string("(.*)*x"), std::string("(a|aa)+$")}) {
    CPhishListEntries list;
    Load(list, "b " + hostile + "\ng ^a+/\n");
    ASSERT_EQ(list.GetCount(), 2u);
    for (std::size_t n : {16u, 2000u, 100000u})
      EXPECT_EQ(KindOf(list, L"http://" + std::wstring(n, L'a') + L"/"), LIST_KIND_GREY) << n;
  }
  EXPECT_TRUE(capture.Contains(L"Pattern search abandoned"));
  CPhishListEntries list;  // and the entry still matches where it can
  Load(list, "b ^(a+)+b|a|" + pad + "\n");
  EXPECT_EQ(KindOf(list, L"http://aab/"), LIST_KIND_BLACK);
}

TEST(PhishListTest, ADamagedContainerLoadsAsAnEmptyLoadedList) {
  CPhishListEntries list;
  Load(list, "w ^kept\\.test/\nb ^evil\\.test/\n");
  list.WhiteListTemporarily(CUri(L"http://evil.test/"));
  std::wistringstream stream(ostrel::test::Widen(ostrel::test::Container("b ^evil\\.test/\n") + "!"));
  list.Load(stream);  // a byte more: the checksum fails
  EXPECT_TRUE(list.IsLoaded());
  EXPECT_EQ(list.GetCount(), 0u);
}

TEST(PhishListTest, LookupsWaitForALoadInProgressAndNeverSeeHalfALoad) {
  CPhishListEntries list;
  std::string big;
  for (int i = 0; i < 3000; ++i) big += "b ^host" + std::to_string(i) + "\\.test/\n";
  Load(list, "b ^last\\.test/\n");
  std::atomic<bool> loading{true};
  std::thread loader([&] {
    for (int i = 0; i < 3; ++i) Load(list, big + "b ^last\\.test/\n");
    loading = false;
  });
  int lookups = 0, misses = 0;
  for (; loading; ++lookups)  // the entry is in every complete state of the list
    misses += KindOf(list, L"http://last.test/") != LIST_KIND_BLACK;
  loader.join();
  EXPECT_GT(lookups, 0);
  EXPECT_EQ(misses, 0);
}

TEST(PhishListTest, AListLoadsFromTheLocalFileOnDemandOrOnCreation) {
  ostrel::test::UseLocalDatabase();
  CSettings::SetDBLoadOnDemand(1);
  CPhishList list;
  list.EnsureLoaded();  // no file yet: nothing loads, and the next lookup tries again
  EXPECT_FALSE(list.IsLoaded());
  ASSERT_TRUE(ostrel::test::WriteLocalDatabase("g ^late\\.test/\n"));
  list.EnsureLoaded();
  EXPECT_EQ(KindOf(list, L"http://late.test/"), LIST_KIND_GREY);

  CSettings::SetDBLoadOnDemand(0);
  ASSERT_TRUE(ostrel::test::WriteLocalDatabase("b ^evil\\.test/\n"));
  CTraceCapture capture;
  {
    CPhishList onCreation;
    EXPECT_TRUE(capture.Contains(L"Loading list on creation\r\n"));
    EXPECT_EQ(KindOf(onCreation, L"http://evil.test/"), LIST_KIND_BLACK);
  }
  EXPECT_TRUE(capture.Contains(L"Unloading all\r\n"));
}
