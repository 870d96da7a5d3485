// The README's way to point a filter at one's own update server, as a user
// runs it on a fresh profile: its ostrel-reg lines, taken from the README
// itself with the example server replaced by a loopback one, run as the
// program; then a list's update thread must read the publisher's metadata
// and record the database version it installed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/Database.h"
#include "common/HttpServer.h"
#include "phishlist/PhishList.h"
#include "platform/WinReg.h"
#include "settings/Settings.h"

using namespace ostrel::test;

namespace {

// The ostrel-reg lines of the README section on one's own update server,
// split as a shell splits them (words, double quotes).
std::vector<std::vector<std::string>> ReadmeRegLines() {
  const std::string readme =
      ReadFileBytes((std::filesystem::path(OSTREL_TEST_SOURCE_DIR) / "../../README.md").string());
  const std::size_t section = readme.find("\n## Pointing a filter at your own update server\n");
  if (section == std::string::npos) return {};
  const std::size_t end = readme.find("\n## ", section + 1);
  std::vector<std::vector<std::string>> lines;
  std::size_t at = section;
  const std::string prefix = "\n    ostrel-reg ";
  while ((at = readme.find(prefix, at)) < end) {
    const std::size_t stop = readme.find('\n', at + 1);
    const std::string line = readme.substr(at + prefix.size(), stop - at - prefix.size());
    std::vector<std::string> words(1);
    bool quoted = false;
    for (char c : line) {
      if (c == '"') quoted = !quoted;
      else if (c == ' ' && !quoted) words.emplace_back();
      else words.back() += c;
    }
    lines.push_back(words);
    at = stop;
  }
  return lines;
}

}  // namespace

TEST(OwnUpdateServerTest, TheReadmeStepsSurviveTheFirstRunOfAFreshProfile) {
  TestHttpServer server;
  RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Ostrel\\AntiPhish");  // a fresh profile
  const auto lines = ReadmeRegLines();
  ASSERT_FALSE(lines.empty()) << "the README section or its ostrel-reg lines are missing";
  const std::string example = "http://updates.example/";
  for (std::vector<std::string> args : lines) {
    for (std::string& arg : args)
      if (arg.rfind(example, 0) == 0) arg = server.Url("/" + arg.substr(example.size()));
    const ProgramRun run = RunProgram(OSTREL_REG_TOOL, args);
    ASSERT_EQ(run.status, 0) << run.err;
  }
  EXPECT_EQ(CSettings::GetMDRemoteUri(L""), server.WideUrl("/mdatax.dat?"));  // the step to survive

  server.Serve("/mdatax.dat", Container("DB_VERSION=3\nGREY_URI=" + server.Url("/grey.html") + "\n"));
  server.Serve("/phishx.dbf", Container("b ^evil\\.test/\n"));
  UseLocalDatabase();
  {
    CPhishList filter;  // its update thread runs the first run's checks at once
    ASSERT_TRUE(Eventually([] { return CSettings::GetPDBUN(0) == 3; }))
        << "the publisher's database version was never recorded";
    EXPECT_EQ(filter.LookUp(CUri(L"http://evil.test/")), LIST_KIND_BLACK);
  }
  EXPECT_EQ(CSettings::GetMDRemoteUri(L""), server.WideUrl("/mdatax.dat?"));
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L""), server.WideUrl("/grey.html"));
  EXPECT_EQ(CSettings::GetBHOVersion(0), CSettings::BuildNumber);
}
