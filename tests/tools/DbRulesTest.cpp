// ostrel-db rules: the share of a list's black and grey entries a browser
// stops before the request, for lists made by ostrel-db import from
// realistic feeds (each imported entry giving the host rule of its feed
// line) and for the sample list.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/TestEnv.h"
#include "phishlist/HostRule.h"
#include "platform/Utf8.h"

namespace {

using ostrel::platform::FromUtf8;
using ostrel::test::ProgramRun;
using ostrel::test::ReadFileBytes;
using ostrel::test::TestRoot;
using ostrel::test::WriteFileBytes;
using ::testing::HasSubstr;

ProgramRun Db(const std::vector<std::string>& args) {
  return ostrel::test::RunProgram(OSTREL_DB_TOOL, args);
}

struct FeedLine {
  const char* line;
  HostRule rule;  // what the entry imported from the line must give
};

const char* const kFrom[] = {"domains", "urls", "hosts"};

// One feed of each kind, with the forms real feeds hold.
const std::vector<FeedLine> kFeeds[] = {
    {
        {"evil.test", {"evil.test", true, ""}},
        {"login.secure-bank.example", {"login.secure-bank.example", true, ""}},
        {"*.phish.example", {"phish.example", true, ""}},
        {".dotted.example", {"dotted.example", true, ""}},
        {"UPPER.Example", {"upper.example", true, ""}},
        {"b\xc3\xbc" "cher.example", {"xn--bcher-kva.example", true, ""}},
        {"under_score.example", {"under_score.example", true, ""}},
        {"trailing.example.", {"trailing.example", true, ""}},
    },
    {
        {"http://url.test/", {"url.test", false, ""}},
        {"https://url.test:8443", {"url.test", false, ""}},
        {"https://url.test/login.php?acct=1&x=2", {"url.test", false, "/login.php?acct=1&x=2"}},
        {"http://url.test:8080/verify/", {"url.test", false, "/verify/"}},
        {"https://url.test:443/Account", {"url.test", false, "/Account"}},
        {"http://user:pw@creds.test/signin#top", {"creds.test", false, "/signin"}},
        {"http://shop.test./cart(1)+[2]{3}|x$.html", {"shop.test", false, "/cart(1)+[2]{3}|x$.html"}},
        {"http://pay.test/a%20b/\xc3\xa4", {"pay.test", false, "/a%20b/%C3%A4"}},
        {"https://m\xc3\xbcnchen.example/bank", {"xn--mnchen-3ya.example", false, "/bank"}},
        {"http://port.test:81", {"port.test", false, ""}},
    },
    {
        {"# a blocking hosts file", {}},
        {"127.0.0.1 localhost", {}},
        {"0.0.0.0 ads.test", {"ads.test", false, ""}},
        {"127.0.0.1 tracker.test www.tracker.test  # both", {"tracker.test", false, ""}},
        {"", {"www.tracker.test", false, ""}},  // the second name of the line above
        {":: v6.test", {"v6.test", false, ""}},
    },
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(DbRulesTest, EveryEntryImportedFromFeedsBecomesTheRuleOfItsFeedLine) {
  const std::string dir = TestRoot() + "/";
  std::string all;
  for (int f = 0; f < 3; ++f) {
    std::string feed;
    std::vector<HostRule> expected;
    for (const FeedLine& l : kFeeds[f]) {
      if (*l.line) feed += std::string(l.line) + "\n";
      if (!l.rule.host.empty()) expected.push_back(l.rule);
    }
    const std::string feedPath = dir + kFrom[f] + ".feed", listPath = dir + kFrom[f] + ".list";
    ASSERT_TRUE(WriteFileBytes(feedPath, feed));
    const ProgramRun run = Db({"import", "--from", kFrom[f], "--kind", f == 1 ? "g" : "b", feedPath, listPath});
    ASSERT_EQ(0, run.status) << run.err;
    const std::vector<std::string> entries = Lines(ReadFileBytes(listPath));
    ASSERT_EQ(expected.size(), entries.size()) << kFrom[f];
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::optional<HostRule> rule = HostRuleOf(FromUtf8(entries[i].substr(2)));
      ASSERT_TRUE(rule.has_value()) << entries[i];
      EXPECT_EQ(expected[i].host, rule->host) << entries[i];
      EXPECT_EQ(expected[i].subdomains, rule->subdomains) << entries[i];
      EXPECT_EQ(expected[i].pathPrefix, rule->pathPrefix) << entries[i];
    }
    all += ReadFileBytes(listPath);
  }
  // A white entry does not count; the tool reads the enciphered database.
  all = "w ^([a-z0-9-]+\\.)*good\\.test(:|/|$)\n" + all;
  ASSERT_TRUE(WriteFileBytes(dir + "all.list", all));
  ASSERT_EQ(0, Db({"encrypt", dir + "all.list", dir + "all.dat"}).status);
  const ProgramRun rules = Db({"rules", dir + "all.dat"});
  EXPECT_EQ(0, rules.status) << rules.err;
  std::smatch counts;
  ASSERT_TRUE(std::regex_search(rules.out, counts, std::regex("^(\\d+) of (\\d+) black and grey")))
      << rules.out;
  const std::size_t withRule = std::stoul(counts[1]), considered = std::stoul(counts[2]);
  EXPECT_EQ(Lines(all).size() - 1, considered);
  EXPECT_GE(withRule * 100, considered * 95);
  EXPECT_THAT(rules.out, HasSubstr("(100.0%); 0 are caught after the request\n"));
}

TEST(DbRulesTest, TheSampleListLeavesItsUnanchoredEntryToAfterTheRequest) {
  const std::string sample = OSTREL_TEST_SOURCE_DIR "/../../web/sample-list.txt";
  const ProgramRun quiet = Db({"rules", sample});
  EXPECT_EQ(0, quiet.status) << quiet.err;
  EXPECT_EQ(
      "2 of 3 black and grey entries become pre-request rules (66.7%); 1 is caught after the "
      "request\n",
      quiet.out);
  const ProgramRun verbose = Db({"rules", "--verbose", sample});
  EXPECT_EQ(quiet.out + "  entry 4 (b): /paypa1-login\n", verbose.out);
}

TEST(DbRulesTest, RefusesWhatItCannotCount) {
  const std::string dir = TestRoot() + "/";
  EXPECT_EQ(2, Db({"rules"}).status);
  EXPECT_EQ(2, Db({"explain", "--verbose", dir + "x", "http://a.test/"}).status);
  ASSERT_TRUE(WriteFileBytes(dir + "noise.dat", std::string("\x01\x02\x03\xff\xfe", 5)));
  const ProgramRun damaged = Db({"rules", dir + "noise.dat"});
  EXPECT_EQ(1, damaged.status);
  EXPECT_THAT(damaged.err, HasSubstr("is neither a valid container"));
  EXPECT_EQ("", damaged.out);
  const ProgramRun empty = Db({"rules", dir + "missing.dat"});
  EXPECT_EQ(1, empty.status);
}

}  // namespace
