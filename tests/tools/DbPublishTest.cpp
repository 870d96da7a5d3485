// The publisher's commands of ostrel-db end to end: feeds imported by the
// program, enciphered and served, block exactly their hosts in a filter that
// downloads them; a metadata file the program writes is read back by the
// filter with every field; and what each command refuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "db/DbImport.h"
#include "db/DbMetadata.h"
#include "db/DbText.h"
#include "phishlist/PhishList.h"
#include "update/RemoteMD.h"
#include "update/UpdateSite.h"

using namespace ostrel::test;
using namespace ostrel::tools::db;
using ::testing::HasSubstr;

namespace {

ProgramRun Db(const std::vector<std::string>& args) { return RunProgram(OSTREL_DB_TOOL, args); }

}  // namespace

TEST(DbPublishTest, AnImportedFeedServedToAFilterBlocksExactlyItsHostsAndSubdomains) {
  const std::string dir = TestRoot() + "/";
  ASSERT_TRUE(WriteFileBytes(dir + "domains.txt",
                             "evil.test\n*.phish.example  # wildcard\nb\xc3\xbc" "cher.example\n"
                             "evil.test\nnot a domain\n"));
  ASSERT_TRUE(WriteFileBytes(dir + "urls.txt", "http://url.test/login?x=1#top\n"));
  ASSERT_TRUE(WriteFileBytes(dir + "hosts", "127.0.0.1 localhost\n0.0.0.0 ads.test # tracker\n"
                                           "1.2.3.4 mapped.test\n0.0.0.0 co.uk\n"));
  const ProgramRun domains = Db({"import", "--from", "domains", dir + "domains.txt", dir + "d.list"});
  EXPECT_EQ(domains.status, 1);  // a line was rejected; the rest is written
  EXPECT_THAT(domains.err, HasSubstr("domains.txt:5: rejected: one domain a line: not a domain"));
  EXPECT_THAT(domains.out, HasSubstr("imported entries: 3; duplicates dropped: 1; lines rejected: 1"));
  EXPECT_EQ(Db({"import", "--from=urls", "--kind", "g", dir + "urls.txt", dir + "u.list"}).status, 0);
  const ProgramRun hosts = Db({"import", "--from", "hosts", dir + "hosts", dir + "h.list"});
  EXPECT_EQ(hosts.status, 1);
  EXPECT_THAT(hosts.err, HasSubstr("hosts:3: rejected: maps 'mapped.test' to 1.2.3.4, which sends it"));
  EXPECT_THAT(hosts.err, HasSubstr("hosts:4: rejected: 'co.uk': a public suffix"));
  const std::string list =
      ReadFileBytes(dir + "d.list") + ReadFileBytes(dir + "u.list") + ReadFileBytes(dir + "h.list");

  UpdateSite site;
  site.Publish("DB_VERSION=1\n");
  site.Publish(list, "/db");
  CPhishList filter;
  ASSERT_TRUE(Eventually([&] { return filter.IsLoaded(); }));
  EXPECT_EQ(filter.GetCount(), 5u);
  const std::pair<const wchar_t*, ListKind> lookups[] = {
      {L"http://evil.test/", LIST_KIND_BLACK},
      {L"https://www.evil.test/login", LIST_KIND_BLACK},
      {L"http://a.b.EVIL.test:8080/x?y", LIST_KIND_BLACK},
      {L"http://user:pw@evil.test/", LIST_KIND_BLACK},
      {L"http://evil.test", LIST_KIND_BLACK},
      {L"http://phish.example/", LIST_KIND_BLACK},
      {L"http://xn--bcher-kva.example/", LIST_KIND_BLACK},
      {L"http://ads.test/banner", LIST_KIND_BLACK},
      {L"http://www.ads.test/", LIST_KIND_NONE},  // a hosts file blocks the name it lists only
      {L"http://url.test/login?x=1", LIST_KIND_GREY},
      {L"http://url.test/login?x=12&more", LIST_KIND_GREY},  // a path prefix
      {L"http://notevil.test/", LIST_KIND_NONE},
      {L"http://evil.test.example/", LIST_KIND_NONE},
      {L"http://evil.testing/", LIST_KIND_NONE},
      {L"http://evil.test@good.example/", LIST_KIND_NONE},
      {L"http://good.example/?u=evil.test", LIST_KIND_NONE},
      {L"http://evilxtest/", LIST_KIND_NONE},
      {L"http://url.test/other", LIST_KIND_NONE},
      {L"http://www.url.test/login?x=1", LIST_KIND_NONE},
      {L"http://localhost/", LIST_KIND_NONE},
  };
  for (const auto& [address, kind] : lookups) EXPECT_EQ(filter.LookUp(CUri(address)), kind) << address;
}

TEST(DbPublishTest, FeedLines) {
  struct Row {
    FeedFormat format;
    std::string line;
    int entries;  // -1: rejected
  };
  const Row rows[] = {
      {FeedFormat::Domains, "  Evil.Test.  ", 1},  {FeedFormat::Domains, "# comment", 0},
      {FeedFormat::Domains, "", 0},                {FeedFormat::Domains, "evil.test/path", -1},
      {FeedFormat::Domains, "a..b", -1},           {FeedFormat::Domains, "[::1]", -1},
      {FeedFormat::Urls, "https://x.test", 1},     {FeedFormat::Urls, "x.test/path", -1},
      {FeedFormat::Urls, "javascript:alert(1)", -1}, {FeedFormat::Urls, "#http://x.test/", 0},
      {FeedFormat::Hosts, "0.0.0.0 a.test b.test", 2}, {FeedFormat::Hosts, "::1 ip6-localhost", 0},
      {FeedFormat::Hosts, "a.test 0.0.0.0", -1},   {FeedFormat::Hosts, "0.0.0.0 bad/name", -1},
      // Nothing that would block a whole suffix, and only names.
      {FeedFormat::Domains, "com", -1},            {FeedFormat::Domains, "*.co.uk", -1},
      {FeedFormat::Domains, "github.io", -1},      {FeedFormat::Domains, "intranet", -1},
      {FeedFormat::Domains, "1", -1},              {FeedFormat::Domains, "10.0.0.1", -1},
      {FeedFormat::Domains, "evil.co.uk", 1},      {FeedFormat::Domains, "x.github.io", 1},
      {FeedFormat::Hosts, "0.0.0.0 com", -1},      {FeedFormat::Hosts, "1.2.3.4 a.test", -1},
      {FeedFormat::Hosts, "127.0.0.1 a.test", 1},  {FeedFormat::Hosts, ":: a.test", 1},
      {FeedFormat::Hosts, "::1 a.test", 1},        {FeedFormat::Hosts, "0.0.0.0 *.a.test", -1},
      {FeedFormat::Hosts, "127.0.1.1 ip6-localhost", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    std::vector<std::string> patterns;
    std::string reason;
    const bool accepted = ImportLine(row.format, row.line, &patterns, &reason);
    EXPECT_EQ(accepted ? static_cast<int>(patterns.size()) : -1, row.entries) << reason;
  }
  // Every regular-expression character of a host or path is literal.
  EXPECT_EQ(UrlPattern("a-b.test", 8080, "/p.h?q=(1)+[2]{3}|*$^\\"),
            "^([^/?\\x23@]*@)?a-b\\.test\\.?:8080/p\\.h\\?q=\\(1\\)\\+\\[2\\]\\{3\\}\\|\\*\\$\\^\\\\");
}

TEST(DbPublishTest, AMetadataFileTheToolWritesIsReadBackWithEveryField) {
  const std::string file = TestRoot() + "/mdatax.dat";
  const LONGLONG next = CRemoteMD::NowStamp(7 * 24 * 3600 * 1000);  // within the 28 days a filter keeps
  const ProgramRun written =
      Db({"metadata", "DB_VERSION=57", "BHO_VERSION=124", "NEXT_UPD=" + std::to_string(next),
          "POLL_INTERVAL=2", "DB_UPD_URI=http://u.test/phishx.dbf?", "METADATA_URI=http://u.test/md",
          "BHO_UPD_URI=https://u.test/setup.msi", "GREY_URI=http://u.test/grey",
          "BLACK_URI=http://u.test/black", file});
  ASSERT_EQ(written.status, 0) << written.err;
  const ProgramRun shown = Db({"metadata", "--show", file});
  EXPECT_EQ(shown.status, 0);
  EXPECT_THAT(shown.out, HasSubstr("NEXT_UPD = " + std::to_string(next) + "   (line 3)\n"));

  UpdateSite site;
  site.server.Serve("/md", ReadFileBytes(file));
  CSettings::SetUseRmtVals(0);  // keeps METADATA_URI from sending the filter elsewhere
  CRemoteMD metadata;
  const MetadataValues& v = metadata.GetRemoteValues();
  EXPECT_EQ(v.dbVersion, 57);
  EXPECT_EQ(v.bhoVersion, 124);
  EXPECT_EQ(v.nextUpdate, next);
  EXPECT_EQ(v.pollInterval, 2u);
  EXPECT_EQ(v.dbUpdUri, L"http://u.test/phishx.dbf?");
  EXPECT_EQ(v.metadataUri, L"http://u.test/md");
  EXPECT_EQ(v.bhoUpdUri, L"https://u.test/setup.msi");
  EXPECT_EQ(v.greyUri, L"http://u.test/grey");
  EXPECT_EQ(v.blackUri, L"http://u.test/black");

  const char* const refused[] = {"db_version=1",          "DB_VERSION=-1",
                                 "DB_VERSION=1x",         "POLL_INTERVAL=4",
                                 "NEXT_UPD=20050230000000", "NEXT_UPD=2005",
                                 "GREY_URI=grey.test",    "DB_UPD_URI=http://u.test/get?file=db",
                                 "BLACK_URI=http://u.test/#x", "BLACK_URI=http://u.test/a b",
                                 "FOO=1",                 "DB_VERSION"};
  for (const char* assignment : refused) {
    std::string text, error;
    EXPECT_FALSE(ComposeMetadata({assignment}, &text, &error)) << assignment;
  }
  std::string text, error;
  EXPECT_FALSE(ComposeMetadata({"DB_VERSION=1", "DB_VERSION=2"}, &text, &error));
  const std::string in29Days = std::to_string(CRemoteMD::NowStamp(29 * 86400000u));
  const ProgramRun refused28 = Db({"metadata", "NEXT_UPD=" + in29Days, file});
  EXPECT_EQ(refused28.status, 1);
  EXPECT_THAT(refused28.err, HasSubstr("more than 28 days ahead"));
  // The filter's own refusals (RemoteMDTest has their rows), in its words.
  EXPECT_THAT(Db({"metadata", "METADATA_URI=http://", file}).err,
              HasSubstr("METADATA_URI=http://: the value is not an absolute http or https address"));
  // A file from elsewhere: --show tells which values a filter ignores.
  ASSERT_TRUE(WriteFileBytes(file, Container("GREY_URI=file:///etc/passwd\nNEXT_UPD=99991231235959\n")));
  const ProgramRun foreign = Db({"metadata", "--show", file});
  EXPECT_THAT(foreign.out, HasSubstr("line 1: ignored: the value is not an absolute http or https address"));
  EXPECT_THAT(foreign.out, HasSubstr("(more than 28 days ahead: a filter checks again at"));
  EXPECT_EQ(Db({"metadata", "FOO=1", file}).status, 1);
  EXPECT_EQ(Db({"metadata", "--show", file + ".missing"}).status, 1);
}
