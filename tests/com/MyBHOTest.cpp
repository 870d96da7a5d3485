// The browser helper object of the real module, created through the
// registry as the browser stand-in creates it, against a browser whose
// parts can be withheld: what SetSite answers, which events scan, the
// BHOActive and BHOPaused switches, and that nothing raised inside ever
// reaches the browser.
#include <gtest/gtest.h>

#include <string>

#include "com/FakeSite.h"
#include "com/ModuleHost.h"
#include "common/Database.h"
#include "settings/Registry.h"
#include "settings/Settings.h"

using namespace ostrel::test;

namespace {

const std::wstring kGreyPage = L"http://warn.example/grey.html";
const std::wstring kBlackPage = L"http://warn.example/black.html";
const wchar_t kSettingsKey[] = L"SOFTWARE\\Ostrel\\AntiPhish";

class MyBHOTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(
        WriteLocalDatabase("g ^([a-z]+\\.)*grey\\.test(:|/|$)\n"
                           "b ^([a-z]+\\.)*evil\\.test(:|/|$)\n"));
    CSettings::SetGreyRedirectUri(kGreyPage);
    CSettings::SetBlackRedirectUri(kBlackPage);
    // Updates go nowhere: a closed port on this machine, and no first-run
    // reset back to the public server.
    CSettings::SetBHOVersion(CSettings::BuildNumber);
    CSettings::SetMDRemoteUri(L"http://127.0.0.1:9/md");
    CSettings::SetDBRemoteUpdUri(L"http://127.0.0.1:9/db");
    ASSERT_EQ(CallModule("DllRegisterServer"), S_OK);
  }

  // A new helper, as a new browser window gets one.
  IObjectWithSite* NewHelper() {
    const std::vector<IObjectWithSite*> helpers = CreateHelpers();
    EXPECT_EQ(helpers.size(), 1u);
    return helpers.empty() ? nullptr : helpers[0];
  }

  static void SetFlag(const wchar_t* name, DWORD value) {
    CRegistry::WriteDword(value, name, kSettingsKey, HKEY_CURRENT_USER);
  }

  static bool WentToBlackPage(const FakeSite& site, std::size_t index) {
    return site.navigations.size() > index && site.navigations[index].rfind(kBlackPage, 0) == 0;
  }
};

}  // namespace

TEST_F(MyBHOTest, SubscribesScansEveryEventAndLetsGoOnQuit) {
  FakeSite site;
  IObjectWithSite* helper = NewHelper();
  ASSERT_NE(helper, nullptr);
  ASSERT_EQ(helper->SetSite(site.Unknown()), S_OK);
  EXPECT_EQ(site.advises, 1);
  IUnknown* stored = nullptr;
  ASSERT_EQ(helper->GetSite(IID_IUnknown, reinterpret_cast<void**>(&stored)), S_OK);
  EXPECT_EQ(stored, static_cast<IWebBrowser2*>(&site));
  stored->Release();

  EXPECT_EQ(site.BeforeNavigate(L"http://www.evil.test/login"), S_OK);
  ASSERT_TRUE(WentToBlackPage(site, 0));
  EXPECT_EQ(site.stops, 1);
  // After a navigation completes, the browser's location is what is scanned.
  EXPECT_EQ(site.NavigateComplete(L"http://grey.test/"), S_OK);
  ASSERT_EQ(site.navigations.size(), 2u);
  EXPECT_EQ(site.navigations[1].rfind(kGreyPage, 0), 0u);
  site.location = L"http://www.example.org/";
  EXPECT_EQ(site.NavigateComplete(L"http://www.example.org/"), S_OK);
  EXPECT_EQ(site.navigations.size(), 2u);

  EXPECT_EQ(site.Quit(), S_OK);
  EXPECT_EQ(site.unadvises, 1);
  EXPECT_EQ(site.Subscribers(), 0u);
  helper->Release();
  EXPECT_EQ(site.references, 0u) << "every reference on the browser is given back";
}

TEST_F(MyBHOTest, SetSiteResults) {
  struct Case {
    const char* what;
    void (*prepare)(FakeSite&);
    HRESULT result;
    bool staysActive;  // a later, sound SetSite subscribes
  };
  const Case cases[] = {
      {"no browser", [](FakeSite& s) { s.offerBrowser = false; }, E_INVALIDARG, true},
      {"no container", [](FakeSite& s) { s.offerContainer = false; }, E_POINTER, true},
      {"no event point", [](FakeSite& s) { s.offerEvents = false; }, CONNECT_E_NOCONNECTION, false},
      {"advise fails", [](FakeSite& s) { s.failAdvise = true; }, S_OK, false},
  };
  for (const Case& c : cases) {
    FakeSite site, sound;
    c.prepare(site);
    IObjectWithSite* helper = NewHelper();
    ASSERT_NE(helper, nullptr);
    EXPECT_EQ(helper->SetSite(site.Unknown()), c.result) << c.what;
    EXPECT_EQ(site.Subscribers(), 0u) << c.what;
    EXPECT_EQ(helper->SetSite(sound.Unknown()), S_OK) << c.what;
    EXPECT_EQ(sound.advises, c.staysActive ? 1 : 0) << c.what;
    sound.Quit();
    helper->Release();
    EXPECT_EQ(site.references + sound.references, 0u) << c.what;
  }
  // A null site is refused and changes nothing already set up.
  FakeSite site;
  IObjectWithSite* helper = NewHelper();
  ASSERT_EQ(helper->SetSite(site.Unknown()), S_OK);
  EXPECT_EQ(helper->SetSite(nullptr), E_INVALIDARG);
  EXPECT_EQ(site.unadvises, 0);
  site.BeforeNavigate(L"http://evil.test/");
  EXPECT_TRUE(WentToBlackPage(site, 0)) << "the engine survives a null site";
  site.Quit();
  helper->Release();
}

TEST_F(MyBHOTest, BHOActiveIsReadAtCreation) {
  SetFlag(L"BHOActive", 0);
  FakeSite site;
  IObjectWithSite* inactive = NewHelper();
  ASSERT_NE(inactive, nullptr);
  SetFlag(L"BHOActive", 1);  // too late for this one
  EXPECT_EQ(inactive->SetSite(site.Unknown()), S_OK);
  EXPECT_EQ(site.advises, 0);
  IUnknown* stored = reinterpret_cast<IUnknown*>(0x1);
  EXPECT_EQ(inactive->GetSite(IID_IUnknown, reinterpret_cast<void**>(&stored)), E_FAIL)
      << "an inactive helper does not even keep its site";
  EXPECT_EQ(stored, nullptr);
  inactive->Release();

  IObjectWithSite* active = NewHelper();
  EXPECT_EQ(active->SetSite(site.Unknown()), S_OK);
  EXPECT_EQ(site.advises, 1);
  site.Quit();
  active->Release();
}

TEST_F(MyBHOTest, OnlyTheUrlPassedByReferenceIsScanned) {
  FakeSite site;
  IObjectWithSite* helper = NewHelper();
  ASSERT_EQ(helper->SetSite(site.Unknown()), S_OK);
  for (VARTYPE other : {VARTYPE(VT_BSTR), VARTYPE(VT_EMPTY), VARTYPE(VT_BYREF | VT_BSTR)})
    EXPECT_EQ(site.BeforeNavigate(L"http://evil.test/", other), S_OK) << other;
  EXPECT_TRUE(site.navigations.empty());
  EXPECT_EQ(site.BeforeNavigate(L"http://evil.test/"), S_OK);
  EXPECT_TRUE(WentToBlackPage(site, 0));
  // Events the helper does not handle, and a malformed one, are answered S_OK.
  IDispatch* sink = nullptr;
  ASSERT_EQ(helper->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&sink)), S_OK);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(sink->Invoke(251, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(sink->Invoke(DISPID_BEFORENAVIGATE2, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr,
                         nullptr, nullptr),
            S_OK);
  sink->Release();
  site.Quit();
  helper->Release();
}

TEST_F(MyBHOTest, BHOPausedIsReadBeforeEveryScan) {
  FakeSite site;
  IObjectWithSite* helper = NewHelper();
  ASSERT_EQ(helper->SetSite(site.Unknown()), S_OK);
  SetFlag(L"BHOPaused", 1);
  site.BeforeNavigate(L"http://evil.test/");
  site.NavigateComplete(L"http://evil.test/");
  EXPECT_TRUE(site.navigations.empty());
  SetFlag(L"BHOPaused", 0);
  site.NavigateComplete(L"http://evil.test/");
  EXPECT_TRUE(WentToBlackPage(site, 0));
  site.Quit();
  helper->Release();
}

TEST_F(MyBHOTest, NothingRaisedInsideReachesTheBrowser) {
  FakeSite site;
  IObjectWithSite* helper = NewHelper();
  ASSERT_EQ(helper->SetSite(site.Unknown()), S_OK);
  // The engine's own failure: the local database cannot be read (an I/O
  // error, not an end of file).
  CSettings::SetDBFileName(L"/proc/self/mem");
  EXPECT_EQ(site.BeforeNavigate(L"http://evil.test/"), S_OK);
  EXPECT_TRUE(site.navigations.empty());
  // Whatever else is raised on the way, even by the browser itself.
  UseLocalDatabase();
  site.throwOnStop = true;
  EXPECT_EQ(site.BeforeNavigate(L"http://evil.test/"), S_OK);
  EXPECT_EQ(site.NavigateComplete(L"http://grey.test/"), S_OK);
  site.throwOnStop = false;
  site.throwOnNavigate = true;  // the address it was handed is freed all the same (leak check)
  EXPECT_EQ(site.BeforeNavigate(L"http://evil.test/"), S_OK);
  site.throwOnNavigate = false;
  EXPECT_EQ(site.BeforeNavigate(L"http://evil.test/"), S_OK);
  EXPECT_TRUE(WentToBlackPage(site, 0)) << "the helper goes on scanning";
  site.Quit();
  helper->Release();
}
