// The phish list: lookup order, temporary white-listing, reloads that keep
// what the user white-listed, and loading from the database text.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/Database.h"
#include "phishlist/PhishList.h"
#include "phishlist/TextReader.h"
#include "support/Exception.h"
#include "support/TraceCapture.h"

using ostrel::test::ContainerStream;

namespace {

void Load(CPhishListEntries& list, const std::string& plain) {
  auto stream = ContainerStream(plain);
  list.Load(stream);
}

ListKind KindOf(CPhishListEntries& list, const std::wstring& uri) { return list.LookUp(CUri(uri)); }

}  // namespace

TEST(PhishListTest, TheFirstMatchingEntryDecidesWhateverItsKind) {
  CPhishListEntries list;
  EXPECT_EQ(KindOf(list, L"http://anything.test/"), 0);
  Load(list,
       "w ^good\\.test/\n"
       "b good\\.test\n"
       "x ^hidden\\.test/\n"
       "b ^hidden\\.test/\n"
       "g ^grey\\.test/\n"
       "b evil\n");
  EXPECT_EQ(list.GetCount(), 6u);
  EXPECT_EQ(KindOf(list, L"http://good.test/page"), LIST_KIND_WHITE);
  EXPECT_EQ(KindOf(list, L"http://www.good.test/page"), LIST_KIND_BLACK);
  EXPECT_EQ(KindOf(list, L"https://hidden.test/x"), LIST_KIND_NONE);  // kind 0 hides the rest
  EXPECT_EQ(list.FindIndex(CUri(L"https://hidden.test/x")), 2);
  EXPECT_EQ(KindOf(list, L"http://GREY.test/"), LIST_KIND_GREY);
  EXPECT_EQ(KindOf(list, L"http://a.test/?q=EVIL"), LIST_KIND_BLACK);
  EXPECT_EQ(KindOf(list, L"http://clean.test/"), LIST_KIND_NONE);
  EXPECT_EQ(list.FindIndex(CUri(L"http://clean.test/")), -1);
  EXPECT_EQ(list.Find(CUri(L"http://clean.test/")), nullptr);
}

TEST(PhishListTest, WhiteListingChangesTheMatchingEntryItself) {
  CPhishListEntries list;
  CTraceCapture capture;
  list.WhiteListTemporarily(CUri(L"http://evil.test/"));  // empty list: nothing happens
  EXPECT_FALSE(capture.Contains(L"Whitelisting"));
  Load(list, "b ^([a-z]+\\.)*evil\\.test/\nb ^evil\\.test/x\n");
  list.WhiteListTemporarily(CUri(L"http://evil.test/login"));
  EXPECT_TRUE(capture.Contains(L"Whitelisting ^([a-z]+\\.)*evil\\.test/ - w\r\n"));
  EXPECT_EQ(KindOf(list, L"http://www.evil.test/other"), LIST_KIND_WHITE);
  EXPECT_EQ(KindOf(list, L"http://evil.test/x"), LIST_KIND_WHITE);  // first match is the white one
  list.WhiteListTemporarily(CUri(L"http://clean.test/"));
  EXPECT_EQ(KindOf(list, L"http://clean.test/"), LIST_KIND_NONE);
}

TEST(PhishListTest, AReloadKeepsUserWhiteListedEntriesFirstAndDropsTheRest) {
  CPhishListEntries list;
  Load(list,
       "b ^one\\.test/\n"
       "g ^two\\.test/\n"
       "b ^three\\.test/\n"
       "w ^four\\.test/\n");
  list.WhiteListTemporarily(CUri(L"http://three.test/"));
  list.WhiteListTemporarily(CUri(L"http://one.test/"));
  CTraceCapture capture;
  // New data: "three" comes again as black, "four" is gone, "one" as grey.
  Load(list,
       "b ^new\\.test/\n"
       "b ^three\\.test/\n"
       "g ^one\\.test/\n"
       "b ^two\\.test/\n");
  EXPECT_TRUE(capture.Contains(L"Flag ^three\\.test/ as not redundent\r\n"));
  EXPECT_TRUE(capture.Contains(L"Removing ^four\\.test/ - w\r\n"));
  EXPECT_EQ(list.GetCount(), 4u);  // one, three (carried, white), new, two
  EXPECT_EQ(list.FindIndex(CUri(L"http://one.test/")), 0);
  EXPECT_EQ(list.FindIndex(CUri(L"http://three.test/")), 1);
  EXPECT_EQ(list.FindIndex(CUri(L"http://new.test/")), 2);
  EXPECT_EQ(list.FindIndex(CUri(L"http://two.test/")), 3);
  EXPECT_EQ(KindOf(list, L"http://one.test/"), LIST_KIND_WHITE);
  EXPECT_EQ(KindOf(list, L"http://three.test/"), LIST_KIND_WHITE);
  EXPECT_EQ(KindOf(list, L"http://two.test/"), LIST_KIND_BLACK);
  EXPECT_EQ(KindOf(list, L"http://four.test/"), LIST_KIND_NONE);
}

TEST(PhishListTest, AReloadComparesTextsExactly) {
  CPhishListEntries list;
  Load(list, "b ^Evil\\.test/\n");
  list.WhiteListTemporarily(CUri(L"http://evil.test/"));
  Load(list, "g ^evil\\.test/\n");  // differs only in letter case: another entry
  EXPECT_EQ(list.GetCount(), 1u);
  EXPECT_EQ(KindOf(list, L"http://evil.test/"), LIST_KIND_GREY);
}

TEST(PhishListTest, TwoIdenticalWhiteEntriesAcrossReloads) {
  {
    CPhishListEntries list;
    Load(list, "w ^twin\\.test/\nw ^twin\\.test/\nb ^other\\.test/\n");
    Load(list, "b ^other\\.test/\n");  // text gone: only the first twin is removed
    EXPECT_EQ(list.GetCount(), 2u);
    EXPECT_EQ(list.FindIndex(CUri(L"http://twin.test/")), 0);
    EXPECT_EQ(KindOf(list, L"http://twin.test/"), LIST_KIND_WHITE);
  }
  {
    CPhishListEntries list;
    Load(list, "w ^twin\\.test/\nw ^twin\\.test/\n");
    Load(list, "b ^twin\\.test/\n");  // text present once: the line is dropped, both stay
    EXPECT_EQ(list.GetCount(), 2u);
    EXPECT_EQ(KindOf(list, L"http://twin.test/"), LIST_KIND_WHITE);
  }
}

TEST(PhishListTest, DatabaseTextFormat) {
  struct Row {
    std::string text;
    std::size_t count;
    ListKind kind;  // of the first entry, looked up with http://evil.test/
  };
  const Row rows[] = {
      {"b ^evil\\.test/\n", 1, LIST_KIND_BLACK},
      {"  black   ^evil\\.test/   extra\n", 1, LIST_KIND_BLACK},
      {"x ^evil\\.test/\n", 1, LIST_KIND_NONE},
      {"G ^evil\\.test/\r\n", 1, LIST_KIND_GREY},
      {"white ^evil\\.test/\n", 1, LIST_KIND_WHITE},
      {"w evil.test # trusted\n", 0, LIST_KIND_NONE},
      {"# b ^evil\\.test/\n", 0, LIST_KIND_NONE},
      {"b\t^evil\\.test/\n", 0, LIST_KIND_NONE},
      {"b\n\n   \n", 0, LIST_KIND_NONE},
      {"b ^evil\\.test/", 0, LIST_KIND_NONE},  // no LF: not a line
      {"b ^ev\x01il\\.test/\n", 1, LIST_KIND_BLACK},  // control characters dropped
      {"b ^bad(\nb ^evil\\.test/\n", 1, LIST_KIND_BLACK},
      {"", 0, LIST_KIND_NONE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    CPhishListEntries list;
    Load(list, row.text);
    EXPECT_TRUE(list.IsLoaded());
    EXPECT_EQ(list.GetCount(), row.count);
    EXPECT_EQ(KindOf(list, L"http://evil.test/"), row.kind);
  }
}

TEST(PhishListTest, ABadPatternIsSkippedWithItsNeighboursLoaded) {
  CTraceCapture capture;
  CPhishListEntries list;
  Load(list, "b ^first\\.test/\nb ^bad(\nonlyonefield\ng ^last\\.test/\n");
  EXPECT_EQ(list.GetCount(), 2u);
  EXPECT_TRUE(capture.Contains(L"Bad regex: ^bad("));
  EXPECT_EQ(KindOf(list, L"http://last.test/"), LIST_KIND_GREY);
  std::wstring why;
  EXPECT_EQ(CPhishListEntries::ParseFields(L"onlyonefield", &why), nullptr);
  EXPECT_EQ(why, L"too few fields");
  EXPECT_EQ(CPhishListEntries::ParseFields(L"b ^bad(", &why), nullptr);
  EXPECT_EQ(why.rfind(L"pattern does not compile", 0), 0u);
}

TEST(PhishListTest, ADamagedContainerLoadsAsAnEmptyLoadedList) {
  CPhishListEntries list;
  Load(list, "w ^kept\\.test/\nb ^evil\\.test/\n");
  list.WhiteListTemporarily(CUri(L"http://evil.test/"));
  std::string damaged = ostrel::test::Container("b ^evil\\.test/\n");
  damaged.back() = static_cast<char>(damaged.back() + 1);
  std::wistringstream stream(ostrel::test::Widen(damaged));
  list.Load(stream);
  EXPECT_TRUE(list.IsLoaded());
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_EQ(KindOf(list, L"http://evil.test/"), LIST_KIND_NONE);
}

namespace {
// A stream whose reading fails part-way, as a failing disk would.
class FailingBuf : public std::wstreambuf {
 public:
  explicit FailingBuf(std::wstring data) : m_data(std::move(data)) {
    setg(m_data.data(), m_data.data(), m_data.data() + m_data.size() / 2);
  }

 protected:
  int_type underflow() override { throw std::ios_base::failure("read error"); }
  pos_type seekpos(pos_type pos, std::ios_base::openmode) override {
    setg(m_data.data(), m_data.data() + pos, m_data.data() + m_data.size() / 2);
    return pos;
  }
  pos_type seekoff(off_type off, std::ios_base::seekdir, std::ios_base::openmode which) override {
    return seekpos(pos_type(off), which);
  }

 private:
  std::wstring m_data;
};
}  // namespace

TEST(PhishListTest, AReadErrorRaisesWithTheLockReleasedAndWhiteEntriesKept) {
  CPhishListEntries list;
  Load(list, "w ^white\\.test/\nb ^black\\.test/\n");
  const LONGLONG stamp = list.GetLoadStamp();
  FailingBuf buffer(ostrel::test::Widen(ostrel::test::Container("b ^x\\.test/\n")));
  std::wistream broken(&buffer);
  EXPECT_THROW(list.Load(broken), CException);
  EXPECT_EQ(list.GetLoadStamp(), stamp);
  EXPECT_EQ(list.GetCount(), 1u);
  // Another thread can take the lock at once: the failed load let it go.
  ListKind seen = -1;
  std::thread other([&] { seen = KindOf(list, L"http://white.test/"); });
  other.join();
  EXPECT_EQ(seen, LIST_KIND_WHITE);
}

TEST(PhishListTest, LookupsWaitForALoadInProgressAndNeverSeeHalfALoad) {
  CPhishListEntries list;
  std::string big;
  for (int i = 0; i < 3000; ++i) big += "b ^host" + std::to_string(i) + "\\.test/\n";
  big += "b ^last\\.test/\n";
  Load(list, "b ^last\\.test/\n");
  std::atomic<bool> loading{true};
  std::thread loader([&] {
    for (int i = 0; i < 3; ++i) Load(list, big);
    loading = false;
  });
  int lookups = 0, misses = 0;
  while (loading) {
    // The entry is in every complete state of the list.
    misses += KindOf(list, L"http://last.test/") != LIST_KIND_BLACK;
    ++lookups;
  }
  loader.join();
  EXPECT_GT(lookups, 0);
  EXPECT_EQ(misses, 0);
}

TEST(TextReaderTest, ReadsLinesAsTheDatabaseDefinesThem) {
  std::wistringstream text(L"a   b\n# gone\nc\td\r\nx # gone too\nlast");
  CTextReader reader(text);
  std::wstring line;
  ASSERT_TRUE(reader.ReadLine(line, true, false));
  EXPECT_EQ(line, L"a b");
  EXPECT_EQ(reader.GetLineNumber(), 1u);
  ASSERT_TRUE(reader.ReadLine(line, false, true));
  EXPECT_EQ(line, L"c d");
  EXPECT_EQ(reader.GetLineNumber(), 3u);
  EXPECT_FALSE(reader.ReadLine(line, false, false));  // comment, then "last" without LF
  EXPECT_EQ(reader.GetLineNumber(), 4u);
  CTextReader again(text);  // rewinds
  ASSERT_TRUE(again.ReadLine(line, false, false));
  EXPECT_EQ(line, L"a   b");
}

TEST(PhishListTest, AListLoadsItselfOnCreationOrOnDemandFromTheLocalFile) {
  ASSERT_TRUE(ostrel::test::WriteLocalDatabase("b ^evil\\.test/\n"));
  {
    CPhishList onDemand;  // DBLoadOnDemand defaults to 1
    EXPECT_FALSE(onDemand.IsLoaded());
    onDemand.EnsureLoaded();
    EXPECT_TRUE(onDemand.IsLoaded());
    EXPECT_EQ(KindOf(onDemand, L"http://evil.test/"), LIST_KIND_BLACK);
  }
  CSettings::SetDBLoadOnDemand(0);
  CTraceCapture capture;
  {
    CPhishList onCreation;
    EXPECT_TRUE(onCreation.IsLoaded());
    EXPECT_TRUE(capture.Contains(L"Loading list on creation\r\n"));
    EXPECT_EQ(KindOf(onCreation, L"http://evil.test/"), LIST_KIND_BLACK);
  }
  EXPECT_TRUE(capture.Contains(L"Quit event signaled, terminating auto update thread\r\n"));
  EXPECT_TRUE(capture.Contains(L"Unloading all\r\n"));
}

TEST(PhishListTest, WithoutALocalFileNothingLoadsAndEveryLookupTriesAgain) {
  ostrel::test::UseLocalDatabase(ostrel::test::TestRoot() + "/tmp/missing.dat");
  CPhishList list;
  list.EnsureLoaded();
  EXPECT_FALSE(list.IsLoaded());
  ASSERT_TRUE(ostrel::test::WriteFileBytes(ostrel::test::TestRoot() + "/tmp/missing.dat",
                                           ostrel::test::Container("g ^late\\.test/\n")));
  list.EnsureLoaded();
  EXPECT_TRUE(list.IsLoaded());
  EXPECT_EQ(KindOf(list, L"http://late.test/"), LIST_KIND_GREY);
  // An empty file is a completed load of nothing.
  ASSERT_TRUE(ostrel::test::WriteFileBytes(ostrel::test::TestRoot() + "/tmp/missing.dat", ""));
  list.LoadFromLocalDB();
  EXPECT_TRUE(list.IsLoaded());
  EXPECT_EQ(list.GetCount(), 0u);
}
