// The scanning engine against a recording browser: pre-scan results, the
// warning-page addresses, click-through, and the flagged site.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Eventually.h"
#include "common/Database.h"
#include "common/FakeBrowser.h"
#include "engine/PhishListEngine.h"
#include "platform/WinReg.h"
#include "support/TraceCapture.h"

using ostrel::test::FakeBrowser;

namespace {

const wchar_t kGreyPage[] = L"http://warn.example/grey.html";
const wchar_t kBlackPage[] = L"http://warn.example/black.html";
const std::wstring kBlackHit = std::wstring(kBlackPage) + L"?var1=ZORTBHO&var2=black&var3=";

class PhishListEngineTest : public testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Ostrel\\AntiPhish");  // defaults, whatever ran before
    ASSERT_TRUE(ostrel::test::WriteLocalDatabase(
        "w ^good\\.test/\n"
        "g ^([a-z]+\\.)*grey\\.test(:|/|$)\n"
        "b ^([a-z]+\\.)*evil\\.test(:|/|$)\n"
        "b /paypa1-login\n"));
    CSettings::SetGreyRedirectUri(kGreyPage);
    CSettings::SetBlackRedirectUri(kBlackPage);
  }

  // The pre-scan outcome the engine traced for one scan.
  std::wstring Outcome(CPhishListEngine& engine, const std::wstring& url) {
    CTraceCapture capture;
    EXPECT_EQ(engine.Scan(url), S_OK);
    for (const wchar_t* name : {L"DOSCAN\r\n", L"OURURI\r\n", L"RELOAD\r\n", L"NOHTTP\r\n",
                                L"NOSCAN\r\n"})
      if (capture.Count(name)) return std::wstring(name, std::wcslen(name) - 2);
    return L"none";
  }

  static std::wstring Key(const std::wstring& uri) { return CUri(uri).GetHashKey(); }

  FakeBrowser browser;
};

}  // namespace

TEST_F(PhishListEngineTest, NonHttpAddressesPassWithoutTouchingTheList) {
  CPhishListEngine engine(&browser);
  for (const wchar_t* url : {L"about:blank", L"ftp://evil.test/", L"not a uri", L""})
    EXPECT_EQ(Outcome(engine, url), L"NOHTTP") << url;
  EXPECT_FALSE(engine.GetList().IsLoaded());
  EXPECT_EQ(browser.stops, 0);
}

TEST_F(PhishListEngineTest, HitsGoToTheWarningPagesTheSettingsNameAtEachUse) {
  CPhishListEngine engine(&browser);
  const std::wstring grey = std::wstring(kGreyPage) + L"?var1=ZORTBHO&var2=grey&var3=";
  const std::wstring black = std::wstring(kBlackPage) + L"?var1=ZORTBHO&var2=black&var3=";
  // Grey allows click-through by default, so the key comes along; black not.
  engine.Scan(L"http://www.grey.test/x?a=1");
  engine.Scan(L"https://evil.test/login");
  CSettings::SetACTGrey(0);
  CSettings::SetACTBlack(1);
  engine.Scan(L"http://grey.test");
  engine.Scan(L"http://evil.test/");
  CSettings::SetACTBlack(0);
  CSettings::SetGreyRedirectUri(L"http://other-warn.example/g");
  engine.Scan(L"http://grey.test/");
  // The blocked address comes back whole from the query value: the
  // platform's canonical form where shorter, "%", "#", "?", "&" and "+" escaped,
  // characters outside ASCII escaped as UTF-8.
  engine.Scan(L"http://a.example/paypa1-login?x=1&y=a+b");
  engine.Scan(L"http://evil.test/a/b/../../c\u00e9");
  engine.Scan(L"http://evil.test/caf\u00e9/\u4e2d?q=a%20b&c=d+e#frag");
  const std::vector<std::wstring> expected = {
      grey + L"http://www.grey.test/x%3Fa=1&var4=(" + Key(L"http://www.grey.test/") + L")",
      black + L"https://evil.test/login",
      grey + L"http://grey.test/",
      black + L"http://evil.test/&var4=(" + Key(L"http://evil.test/") + L")",
      L"http://other-warn.example/g?var1=ZORTBHO&var2=grey&var3=http://grey.test/",
      black + L"http://a.example/paypa1-login%3Fx=1%26y=a%2Bb",
      black + L"http://evil.test/c%C3%A9",
      black + L"http://evil.test/caf%C3%A9/%E4%B8%AD%3Fq=a%2520b%26c=d%2Be%23frag"};
  EXPECT_EQ(browser.navigations, expected);
  EXPECT_EQ(browser.stops, 8);
}

TEST_F(PhishListEngineTest, TheWarningPagesOwnSiteIsNeverScanned) {
  CPhishListEngine engine(&browser);
  engine.Scan(L"http://evil.test/");
  ASSERT_EQ(browser.navigations.size(), 1u);
  // The navigation the redirect starts comes back through the engine.
  EXPECT_EQ(Outcome(engine, browser.navigations[0]), L"OURURI");
  EXPECT_EQ(Outcome(engine, L"http://warn.example/other"), L"OURURI");

  RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Ostrel\\AntiPhish");  // the default pages
  EXPECT_EQ(Outcome(engine, CSettings::DefaultBaseUri + L"x.html"), L"OURURI");
  EXPECT_EQ(Outcome(engine, L"http://warn.example/other"), L"DOSCAN");
}

TEST_F(PhishListEngineTest, AVerifiedClickThroughReloadsAndWhiteListsTheSite) {
  CPhishListEngine engine(&browser);
  const std::wstring url = L"http://www.grey.test/page";
  engine.Scan(url);  // the grey hit that led to the warning page
  ASSERT_EQ(browser.navigations.size(), 1u);
  browser.navigations.clear();
  EXPECT_EQ(Outcome(engine, url + L"(" + Key(url) + L")"), L"RELOAD");
  ASSERT_EQ(browser.navigations.size(), 1u);
  EXPECT_EQ(browser.navigations[0], url);
  EXPECT_EQ(engine.GetFlaggedSite(), L"www.grey.test/page");
  EXPECT_EQ(Outcome(engine, browser.navigations[0]), L"NOSCAN");
  EXPECT_EQ(Outcome(engine, L"http://www.grey.test/"), L"NOSCAN");
  // The entry itself is white now: another host it matches is let through.
  EXPECT_EQ(Outcome(engine, L"http://shop.grey.test/"), L"DOSCAN");
  EXPECT_EQ(browser.navigations.size(), 1u);
  EXPECT_EQ(engine.GetFlaggedSite(), L"shop.grey.test");

  // A key that does not verify is an ordinary grey hit.
  EXPECT_EQ(Outcome(engine, L"http://other.evil.test/(0123)"), L"DOSCAN");
  EXPECT_EQ(browser.navigations.size(), 2u);
}

TEST_F(PhishListEngineTest, AKeyNeverReloadsABlackAddressWhileBlackClickThroughIsOff) {
  struct Row {
    const wchar_t* url;
    DWORD actBlack;
    bool reloads;
  };
  const Row rows[] = {
      {L"http://evil.test/login", 0, false},
      {L"http://a.example/paypa1-login", 0, false},  // black by its path, whatever its host
      {L"http://www.grey.test/page", 0, true},
      {L"http://evil.test/login", 1, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.url);
    CSettings::SetACTBlack(row.actBlack);
    browser.navigations.clear();
    CPhishListEngine engine(&browser);
    // The host's valid key, as a black page showed it while click-through was on.
    EXPECT_EQ(Outcome(engine, row.url + (L"(" + Key(row.url) + L")")),
              row.reloads ? L"RELOAD" : L"DOSCAN");
    ASSERT_EQ(browser.navigations.size(), 1u);
    if (row.reloads) {
      EXPECT_EQ(browser.navigations[0], row.url);
      continue;
    }
    // Refused: the black page without var4, and nothing white-listed.
    EXPECT_EQ(browser.navigations[0], kBlackHit + row.url);
    EXPECT_EQ(engine.GetFlaggedSite(), L"");
    EXPECT_EQ(Outcome(engine, row.url), L"DOSCAN");
    EXPECT_EQ(browser.navigations.size(), 2u);
  }
}

TEST_F(PhishListEngineTest, AWhiteHitFlagsTheSiteUntilAnotherReplacesIt) {
  CPhishListEngine engine(&browser);
  EXPECT_EQ(Outcome(engine, L"http://good.test/a"), L"DOSCAN");
  EXPECT_EQ(Outcome(engine, L"http://good.test/b"), L"NOSCAN");
  EXPECT_EQ(Outcome(engine, L"http://evil.test/"), L"DOSCAN");  // other hosts are scanned
  EXPECT_EQ(Outcome(engine, L"http://clean.test/"), L"DOSCAN");  // not listed: allowed
  EXPECT_EQ(engine.GetFlaggedSite(), L"good.test/a");
  EXPECT_EQ(browser.navigations.size(), 1u);
  browser.failStop = true;  // a failed Stop: no navigation, and the scan still succeeds
  EXPECT_EQ(Outcome(engine, L"http://evil.test/"), L"DOSCAN");
  EXPECT_EQ(browser.stops, 2);
  EXPECT_EQ(browser.navigations.size(), 1u);
}

// The warning page gets the address as the user gave it, not as the list
// was searched (which PhishListTest covers).
TEST_F(PhishListEngineTest, AddressesAServerReadsAsAListedOneAreBlockedAndShownAsGiven) {
  ASSERT_TRUE(ostrel::test::WriteLocalDatabase(
      "b ^([^/?\\x23@]*@)?phish\\.test\\.?(:[0-9]+)?/login\\.php\n"
      "b /paypa1-login\n"));
  CPhishListEngine engine(&browser);
  engine.Scan(L"http://phish.test/%6Cogin.php");
  engine.Scan(L"http://a.example/paypa%31-login?x");
  engine.Scan(L"http://phish.test/x/../login.php");
  const std::vector<std::wstring> expected = {
      kBlackHit + L"http://phish.test/%256Cogin.php",
      kBlackHit + L"http://a.example/paypa%2531-login%3Fx",
      kBlackHit + L"http://phish.test/login.php"};  // canonical, as for every blocked address
  EXPECT_EQ(browser.navigations, expected);
}

// A page can queue long addresses; each shape stresses one part of the
// grammar. bench/UrlBench.cpp shows the cost per address.
TEST_F(PhishListEngineTest, FortyAddressesOf65000CharactersAreScannedWithinSeconds) {
  CPhishListEngine engine(&browser);
  engine.GetList().EnsureLoaded();
  const std::wstring units[][2] = {{L"http://clean.test/", L"segment/"},
                                   {L"http://clean.test/?q=", L"word+"},
                                   {L"http://clean.test/", L"a/./b/../"},
                                   {L"http://clean.test/", L"%61%2F%7e"},
                                   {L"http://", L"label."}};
  std::vector<std::wstring> addresses;
  for (int i = 0; i < 40; ++i) {
    std::wstring address = units[i % 5][0];
    while (address.size() < 65000) address += units[i % 5][1];
    addresses.push_back(address + L"x" + std::to_wstring(i) + (i % 5 == 4 ? L".test/" : L""));
  }
  const auto start = ostrel::test::Clock::now();
  for (const std::wstring& address : addresses) engine.Scan(address);
  EXPECT_LT(ostrel::test::MillisecondsSince(start), 3000);
  EXPECT_TRUE(browser.navigations.empty());
}
