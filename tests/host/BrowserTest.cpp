// End to end: the real module registered with ostrel-regsvr, the browser
// stand-in loading it from the registry, and an update site served by
// ostrel-serve on 127.0.0.1 from which the filter downloads its list and
// the stand-in loads the warning pages (--fetch).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <memory>

#include "common/ChildProcess.h"
#include "common/Database.h"
#include "common/HttpServer.h"
#include "host/FilterSite.h"
#include "host/Programs.h"
#include "settings/Registry.h"
#include "settings/Settings.h"

using namespace ostrel::test;
namespace fs = std::filesystem;

namespace {

class BrowserEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Ostrel\\AntiPhish");  // a new installation
    CSettings::SetBHOVersion(CSettings::BuildNumber);  // no first-run reset to the public server
    site = std::make_unique<FilterSite>();
    ASSERT_FALSE(site->Base().empty());
    std::remove(LocalDatabasePath().c_str());
    const ProgramRun registered = RunProgram(OSTREL_REGSVR, {OSTREL_MODULE});
    ASSERT_EQ(registered.status, 0) << registered.err;
  }

  std::string Site(const std::string& name, const std::string& path = "/") const {
    return site->Site(name, path);
  }

  // Runs the stand-in on these operands once its filter has downloaded the
  // list, and gives its JSON lines.
  std::vector<JsonLine> Browse(const std::vector<std::string>& operands) {
    Program browser({OSTREL_BROWSER, "--json", "--fetch"});
    EXPECT_TRUE(Eventually([] { return CSettings::GetPDBUN(-1) >= 0; }, 30000))
        << "the filter never downloaded its list";
    for (const std::string& operand : operands) browser.Write(operand + "\n");
    browser.CloseInput();
    std::vector<JsonLine> lines;
    while (std::optional<std::string> line = browser.ReadLine()) {
      std::optional<JsonLine> parsed = ParseJsonLine(*line);
      EXPECT_TRUE(parsed) << *line;
      if (parsed) lines.push_back(*parsed);
    }
    status = browser.Wait();
    return lines;
  }

  // What the warning page's script shows for an address, and its link.
  static std::optional<JsonLine> PageShows(const std::string& address) {
    if (std::system("node --version > /dev/null 2>&1") != 0) return std::nullopt;
    const ProgramRun run = RunProgram(
        "/usr/bin/env", {"node", (fs::path(OSTREL_TEST_SOURCE_DIR) / "page-check.js").string(),
                         std::string(OSTREL_WEB_DIR) + "/warning.js", address});
    EXPECT_EQ(run.status, 0) << run.err;
    return ParseJsonLine(run.out.substr(0, run.out.find('\n')));
  }

  std::unique_ptr<FilterSite> site;
  int status = -1;
};

}  // namespace

TEST_F(BrowserEndToEnd, WarnsOnceAndLetsTheUserContinueOnGreyOnly) {
  const std::string blackPage = site->Base() + "black.html";
  const std::vector<JsonLine> lines =
      Browse({Site("www.evil"), Site("grey", "/index.html"), "continue", Site("grey"), blackPage});
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(status, 0);

  // Black: the warning page without var4, reached in one redirect although
  // its own address is on the black list.
  EXPECT_EQ(lines[0].at("outcome"), "black");
  EXPECT_EQ(lines[0].at("location"),
            blackPage + "?var1=ZORTBHO&var2=black&var3=" + Site("www.evil"));
  EXPECT_EQ(lines[0].at("key"), "null");
  EXPECT_EQ(lines[0].at("redirects"), "1");
  EXPECT_EQ(lines[0].at("status"), "200");

  // Grey: the key comes along, and "continue" reloads the clean address.
  EXPECT_EQ(lines[1].at("outcome"), "grey");
  const std::string key = lines[1].at("key");
  ASSERT_GT(key.size(), 2u);
  EXPECT_EQ(lines[1].at("location"), site->Base() + "grey.html?var1=ZORTBHO&var2=grey&var3=" +
                                         Site("grey", "/index.html") + "&var4=" + key);
  EXPECT_EQ(lines[2].at("action"), "continue");
  EXPECT_EQ(lines[2].at("address"), Site("grey", "/index.html") + key);
  EXPECT_EQ(lines[2].at("outcome"), "reloaded");
  EXPECT_EQ(lines[2].at("location"), Site("grey", "/index.html"));
  // The rest of that site is not scanned again.
  EXPECT_EQ(lines[3].at("outcome"), "allowed");
  EXPECT_EQ(lines[3].at("location"), Site("grey"));
  // The warning page asked for directly is shown, not scanned.
  EXPECT_EQ(lines[4].at("outcome"), "allowed");
  EXPECT_EQ(lines[4].at("redirects"), "0");
}

TEST_F(BrowserEndToEnd, TheBlockedAddressComesBackWhole) {
  CSettings::SetACTBlack(1);  // black may be clicked through as well
  const std::string address = Site("evil", "/caf%C3%A9/\xC3\xA9\xE4\xB8\xAD?q=a&b=c+d%2Be#frag");
  const std::vector<JsonLine> lines = Browse({address, "continue"});
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].at("outcome"), "black");
  EXPECT_NE(lines[0].at("key"), "null");
  EXPECT_EQ(lines[1].at("outcome"), "reloaded");
  EXPECT_EQ(lines[1].at("location"), address);

  // The page itself shows the address whole and links to the click-through.
  if (const std::optional<JsonLine> page = PageShows(lines[0].at("location"))) {
    EXPECT_EQ(page->at("shown"), address);
    EXPECT_EQ(page->at("link"), address + lines[0].at("key"));
  }
}

// Web sites on another port of the loopback, answering under every name
// (curl takes any NAME.localhost to the loopback): the host a request
// reached is the Host it names. The list blacks out evil.localhost.
TEST_F(BrowserEndToEnd, TheHostFetchedIsTheHostScannedAtEveryHop) {
  TestHttpServer web;
  const std::string port = web.Url("").substr(web.Url("").rfind(':') + 1);
  const auto at = [&](const std::string& name, const std::string& path) {
    return "http://" + name + ".localhost:" + port + path;
  };
  web.Serve("/mm1", "evil's page");
  web.Serve("/x", "evil's page");
  web.Serve("/page", "a page");
  web.Answer("/redir", TestHttpServer::Kind::Redirect, at("evil", "/x"));
  web.Answer("/hop", TestHttpServer::Kind::Redirect, "/page");
  web.Answer("/loop", TestHttpServer::Kind::Redirect, "/loop");

  struct Row {
    std::string address;
    std::string outcome;   // empty: not checked
    std::string fetched;   // the last address handed to the network
    std::string redirects;
    std::string reached;   // the path that reached x.localhost; empty: none was checked
  };
  const std::string hidden = "evil.localhost:" + port + "/mm1";
  const Row rows[] = {
      // A "\" ends the authority: x.localhost is scanned and asked, evil.localhost is path.
      {at("x", "\\@") + hidden, "allowed", at("x", "/@") + hidden, "0", "/@" + hidden},
      {"http://x.localhost\\:" + port + "@" + hidden, "",  // port 80, where nothing may answer
       "http://x.localhost/:" + port + "@" + hidden, "0", ""},
      // Each redirect is a navigation the filter sees before its target is asked.
      {at("x", "/redir"), "black", site->Base() + "black.html", "2", "/redir"},
      {at("x", "/hop"), "allowed", at("x", "/page"), "1", "/page"},
      {at("x", "/loop"), "error", at("x", "/loop"), "10", "/loop"},
  };
  std::vector<std::string> operands;
  for (const Row& row : rows) operands.push_back(row.address);
  const std::vector<JsonLine> lines = Browse(operands);
  ASSERT_EQ(lines.size(), std::size(rows));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(row.address);
    if (!row.outcome.empty()) {
      EXPECT_EQ(lines[i].at("outcome"), row.outcome);
    }
    EXPECT_EQ(lines[i].at("fetched").substr(0, row.fetched.size()), row.fetched);
    EXPECT_EQ(lines[i].at("redirects"), row.redirects);
    if (!row.reached.empty()) {
      EXPECT_EQ(web.LastHeader(row.reached, "Host"), "x.localhost:" + port);
    }
  }
  EXPECT_EQ(web.Count("/mm1"), 0) << "evil.localhost was asked for the page it hides";
  EXPECT_EQ(web.Count("/x"), 0) << "the redirect to evil.localhost was followed";
  EXPECT_EQ(web.Count("/loop"), 11) << "the first request and ten redirects";
  EXPECT_NE(lines[4].at("error").find("too many redirects"), std::string::npos);
}

TEST_F(BrowserEndToEnd, APausedFilterScansNothing) {
  CRegistry::WriteDword(1, L"BHOPaused", L"SOFTWARE\\Ostrel\\AntiPhish", HKEY_CURRENT_USER);
  const std::vector<JsonLine> lines = Browse({Site("evil")});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].at("outcome"), "allowed");
  EXPECT_EQ(lines[0].at("scanned"), "false");
  EXPECT_EQ(lines[0].at("location"), Site("evil"));
}

TEST(WarningPageScript, ShowsTheAddressAsTextAndLinksOnlyToTheWeb) {
  if (std::system("node --version > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "SKIPPED LOUDLY: node is not installed, so the page script was not run";
  struct Case {
    std::string query;
    std::string shown;
    std::string link;  // "null": no way on
  };
  const Case cases[] = {
      {"var3=http://x.test/%3Cscript%3Ealert(1)%3C/script%3E&var4=(0a1b)",
       "http://x.test/<script>alert(1)</script>", "http://x.test/<script>alert(1)</script>(0a1b)"},
      {"var3=javascript:alert(1)&var4=(00)", "javascript:alert(1)", "null"},
      {"var3=http://x.test/&var4=(not-hex)", "http://x.test/", "null"},
      {"var3=http://x.test/", "http://x.test/", "null"},
      {"var3=http://x.test/%E9", "http://x.test/%E9", "null"},  // not UTF-8: shown as it came
  };
  for (const Case& c : cases) {
    const ProgramRun run = RunProgram(
        "/usr/bin/env", {"node", (fs::path(OSTREL_TEST_SOURCE_DIR) / "page-check.js").string(),
                         std::string(OSTREL_WEB_DIR) + "/warning.js",
                         "http://127.0.0.1/grey.html?var1=ZORTBHO&var2=grey&" + c.query});
    ASSERT_EQ(run.status, 0) << c.query << ": " << run.err;
    const std::optional<JsonLine> page = ParseJsonLine(run.out.substr(0, run.out.find('\n')));
    ASSERT_TRUE(page) << run.out;
    EXPECT_EQ(page->at("shown"), c.shown) << c.query;
    EXPECT_EQ(page->at("link"), c.link) << c.query;
  }
}
