// The README's steps for one's own update server, run as written (the
// example server replaced by a loopback one) on a fresh profile: a list's
// update thread must then read that server's metadata and database.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/Database.h"
#include "common/HttpServer.h"
#include "phishlist/PhishList.h"
#include "platform/WinReg.h"
#include "settings/Settings.h"

using namespace ostrel::test;

namespace {

// The README section's ostrel-reg lines, as a bash script that runs them.
std::string ReadmeRegScript() {
  const std::string readme =
      ReadFileBytes((std::filesystem::path(OSTREL_TEST_SOURCE_DIR) / "../../README.md").string());
  const std::size_t section = readme.find("\n## Pointing a filter at your own update server\n");
  if (section == std::string::npos) return {};
  const std::size_t end = readme.find("\n## ", section + 1);
  std::string script;
  const std::string prefix = "\n    ostrel-reg ";
  for (std::size_t at = section; (at = readme.find(prefix, at)) < end;) {
    const std::size_t from = at + prefix.size();
    at = readme.find('\n', from);
    script += std::string("'") + OSTREL_REG_TOOL + "' " + readme.substr(from, at - from) + "\n";
  }
  return script;
}

}  // namespace

TEST(OwnUpdateServerTest, TheReadmeStepsSurviveTheFirstRunOfAFreshProfile) {
  TestHttpServer server;
  RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Ostrel\\AntiPhish");  // a fresh profile
  std::string script = ReadmeRegScript();
  ASSERT_NE(script, "") << "the README section or its ostrel-reg lines are missing";
  const std::string example = "http://updates.example/";
  for (std::size_t at; (at = script.find(example)) != std::string::npos;)
    script.replace(at, example.size(), server.Url("/"));
  const ProgramRun run = RunProgram("/bin/bash", {"-ec", script});
  ASSERT_EQ(run.status, 0) << run.err;

  server.Serve("/mdatax.dat", Container("DB_VERSION=3\nGREY_URI=" + server.Url("/grey.html") + "\n"));
  server.Serve("/phishx.dbf", Container("b ^evil\\.test/\n"));
  UseLocalDatabase();
  {
    CPhishList filter;  // its update thread runs the first run's checks at once
    ASSERT_TRUE(Eventually([] { return CSettings::GetPDBUN(0) == 3; }))
        << "the publisher's database version was never recorded";
    EXPECT_EQ(filter.LookUp(CUri(L"http://evil.test/")), LIST_KIND_BLACK);
  }
  EXPECT_EQ(CSettings::GetMDRemoteUri(L""), server.WideUrl("/mdatax.dat?"));  // survived the first run
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L""), server.WideUrl("/grey.html"));
  EXPECT_EQ(CSettings::GetBHOVersion(0), CSettings::BuildNumber);
}
