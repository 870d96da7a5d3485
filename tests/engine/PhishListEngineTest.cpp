// The scanning engine against a recording browser: pre-scan results, the
// warning-page addresses, click-through, and the flagged site.
#include <gtest/gtest.h>

#include <string>

#include "common/Database.h"
#include "common/FakeBrowser.h"
#include "engine/PhishListEngine.h"
#include "support/TraceCapture.h"

using ostrel::test::FakeBrowser;

namespace {

const wchar_t kGreyPage[] = L"http://warn.example/grey.html";
const wchar_t kBlackPage[] = L"http://warn.example/black.html";

class PhishListEngineTest : public testing::Test {
 protected:
  void SetUp() override {
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
  EXPECT_TRUE(browser.navigations.empty());
  EXPECT_EQ(browser.stops, 0);
}

TEST_F(PhishListEngineTest, GreyAndBlackHitsGoToTheirWarningPages) {
  CPhishListEngine engine(&browser);
  EXPECT_EQ(Outcome(engine, L"http://www.grey.test/x?a=1"), L"DOSCAN");
  EXPECT_EQ(Outcome(engine, L"https://evil.test/login"), L"DOSCAN");
  ASSERT_EQ(browser.navigations.size(), 2u);
  EXPECT_EQ(browser.stops, 2);
  // Grey: click-through allowed by default, so the key comes along.
  EXPECT_EQ(browser.navigations[0],
            std::wstring(kGreyPage) + L"?var1=ZORTBHO&var2=grey&var3=http://www.grey.test/x?a=1" +
                L"&var4=(" + Key(L"http://www.grey.test/") + L")");
  // Black: no click-through by default, no var4 at all.
  EXPECT_EQ(browser.navigations[1],
            std::wstring(kBlackPage) + L"?var1=ZORTBHO&var2=black&var3=https://evil.test/login");
}

TEST_F(PhishListEngineTest, TheBlockedAddressIsCarriedSafelyInTheQuery) {
  CSettings::SetACTGrey(0);
  CPhishListEngine engine(&browser);
  engine.Scan(L"http://grey.test");
  engine.Scan(L"http://a.example/paypa1-login?x=1&y=a+b");
  engine.Scan(L"http://evil.test/a/b/../../c\u00e9");
  engine.Scan(L"http://evil.test/caf\u00e9/\u4e2d?q=a%20b&c=d+e#frag");
  ASSERT_EQ(browser.navigations.size(), 4u);
  EXPECT_EQ(browser.navigations[0],
            std::wstring(kGreyPage) + L"?var1=ZORTBHO&var2=grey&var3=http://grey.test/");
  EXPECT_EQ(browser.navigations[1], std::wstring(kBlackPage) +
                                        L"?var1=ZORTBHO&var2=black&var3=http://a.example/"
                                        L"paypa1-login?x=1%26y=a%2Bb");
  // The platform's canonical form is shorter here, so it is the one carried.
  EXPECT_EQ(browser.navigations[2],
            std::wstring(kBlackPage) + L"?var1=ZORTBHO&var2=black&var3=http://evil.test/c%C3%A9");
  // Escapes, a fragment and characters outside ASCII all come back whole
  // from the query value: "%" and "#" are escaped too, and every character
  // outside ASCII is escaped as UTF-8, as in the canonical form above.
  EXPECT_EQ(browser.navigations[3], std::wstring(kBlackPage) +
                                        L"?var1=ZORTBHO&var2=black&var3=http://evil.test/"
                                        L"caf%C3%A9/%E4%B8%AD?q=a%2520b%26c=d%2Be%23frag");
}

TEST_F(PhishListEngineTest, TheWarningPagesOwnSiteIsNeverScanned) {
  CPhishListEngine engine(&browser);
  engine.Scan(L"http://evil.test/");
  ASSERT_EQ(browser.navigations.size(), 1u);
  // The navigation the redirect starts comes back through the engine.
  EXPECT_EQ(Outcome(engine, browser.navigations[0]), L"OURURI");
  EXPECT_EQ(Outcome(engine, L"http://warn.example/other"), L"OURURI");
  EXPECT_EQ(browser.navigations.size(), 1u);

  CSettings::SetGreyRedirectUri(CSettings::DefaultGreyRedirectUri);
  CSettings::SetBlackRedirectUri(CSettings::DefaultBlackRedirectUri);
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

TEST_F(PhishListEngineTest, AWhiteHitFlagsTheSiteUntilAnotherReplacesIt) {
  CPhishListEngine engine(&browser);
  EXPECT_EQ(Outcome(engine, L"http://good.test/a"), L"DOSCAN");
  EXPECT_EQ(engine.GetFlaggedSite(), L"good.test/a");
  EXPECT_EQ(Outcome(engine, L"http://good.test/b"), L"NOSCAN");
  EXPECT_EQ(Outcome(engine, L"http://evil.test/"), L"DOSCAN");  // other hosts are scanned
  EXPECT_EQ(browser.navigations.size(), 1u);
  EXPECT_EQ(Outcome(engine, L"http://clean.test/"), L"DOSCAN");  // not listed: allowed
  EXPECT_EQ(engine.GetFlaggedSite(), L"good.test/a");
  EXPECT_EQ(browser.navigations.size(), 1u);
}

TEST_F(PhishListEngineTest, AFailedStopMeansNoNavigationAndTheScanStillSucceeds) {
  browser.failStop = true;
  CPhishListEngine engine(&browser);
  EXPECT_EQ(engine.Scan(L"http://evil.test/"), S_OK);
  EXPECT_EQ(browser.stops, 1);
  EXPECT_TRUE(browser.navigations.empty());
}

TEST_F(PhishListEngineTest, SettingsAreReadAtEachUse) {
  CPhishListEngine engine(&browser);
  engine.Scan(L"http://grey.test/");
  CSettings::SetGreyRedirectUri(L"http://other-warn.example/g");
  CSettings::SetACTGrey(0);
  engine.Scan(L"http://grey.test/");
  ASSERT_EQ(browser.navigations.size(), 2u);
  EXPECT_EQ(browser.navigations[0].rfind(kGreyPage, 0), 0u);
  EXPECT_EQ(browser.navigations[1],
            L"http://other-warn.example/g?var1=ZORTBHO&var2=grey&var3=http://grey.test/");
  CSettings::SetACTBlack(1);
  engine.Scan(L"http://evil.test/");
  EXPECT_NE(browser.navigations.back().find(L"&var4=(" + Key(L"http://evil.test/") + L")"),
            std::wstring::npos);
}

TEST_F(PhishListEngineTest, TheBrowserWrapperKeepsTheWindowAndPassesNoOptionalArguments) {
  CWebBrowser wrapper(&browser);
  EXPECT_EQ(reinterpret_cast<SHANDLE_PTR>(wrapper.GetHandle()), 0x1234);
  EXPECT_EQ(wrapper.Navigate(CUri(L"http://a.example/")), S_OK);
  EXPECT_EQ(browser.navigations, std::vector<std::wstring>{L"http://a.example/"});
  browser.failWindow = true;
  CWebBrowser windowless(&browser);
  EXPECT_EQ(windowless.GetHandle(), nullptr);
  EXPECT_EQ(windowless.OnMessage(0x9999, 0, 0), 0);
  EXPECT_EQ(windowless.OnMessage(WM_TIMER, 1, 0), 1);
  EXPECT_EQ(windowless.OnMessage(WM_SHOWWINDOW, 1, 0), 1);
}
