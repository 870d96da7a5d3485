// The module registered as a user registers it, by Windows' own regsvr32,
// then used as the browser uses it: the helper object created through the
// registered class (CoCreateInstance), sited on a fake browser and driven
// through its DWebBrowserEvents2 connection point; then regsvr32 /u removes
// every key the registration wrote and leaves the shared keys. The module
// is the one OSTREL_MODULE names; its database is a local file of the
// test's own, and its updates go to a closed port on this machine.
#include <windows.h>
#include <oleauto.h>
#include <olectl.h>  // CONNECT_E_*, which the fake browser answers with

#include <gtest/gtest.h>

#include <string>

#include "com/FakeSite.h"
#include "com/Interfaces.h"
#include "settings/Settings.h"
#include "windows/WinUpdateSite.h"

using namespace ostrel::test;

namespace {

const std::wstring kBlackPage = L"http://warn.example/black.html";
const wchar_t kHelpersKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
const wchar_t kExtensionsKey[] = L"SOFTWARE\\Microsoft\\Internet Explorer\\Extensions";

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// The module as a Windows path (regsvr32 reads "/..." as a switch).
std::wstring ModulePath() {
  const std::string unix = OSTREL_MODULE;
  const std::wstring given(unix.begin(), unix.end());
  wchar_t full[MAX_PATH + 1];
  const DWORD length = GetFullPathNameW(given.c_str(), MAX_PATH + 1, full, nullptr);
  return std::wstring(full, length);
}

// Runs Windows' regsvr32 with switches on the module; its exit code, or -1.
int Regsvr32(const std::wstring& switches) {
  std::wstring command = L"regsvr32.exe " + switches + L" \"" + ModulePath() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return -1;
  CloseHandle(process.hThread);
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.hProcess, &code))
    code = static_cast<DWORD>(-1);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

bool KeyExists(HKEY hive, const std::wstring& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

std::wstring StringValue(HKEY hive, const std::wstring& key, const wchar_t* name) {
  wchar_t data[1024] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  if (RegGetValueW(hive, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
    return L"<missing>";
  return data;
}

// Every key the registration writes of its own (the shared parents aside).
std::vector<std::pair<HKEY, std::wstring>> OwnKeys() {
  return {
      {HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(CLSID_MyBHO)},
      {HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(CLSID_MyCfgDlgCmdTarget)},
      {HKEY_CLASSES_ROOT, L"Ostrel_Anti_Phishing_BHO.1"},
      {HKEY_CLASSES_ROOT, L"Ostrel_Anti_Phishing_BHO"},
      {HKEY_CLASSES_ROOT, L"OstrelAntiPhishingBHO.MyCfgDlgCmdTarget.1"},
      {HKEY_CLASSES_ROOT, L"OstrelAntiPhishingBHO.MyCfgDlgCmdTarget"},
      {HKEY_CLASSES_ROOT, L"TypeLib\\" + GuidText(LIBID_OSTRELANTIPHISHINGBHOLib)},
      {HKEY_CLASSES_ROOT, L"Interface\\" + GuidText(IID_IMyBHO)},
      {HKEY_CLASSES_ROOT, L"Interface\\" + GuidText(IID_IMyCfgDlgCmdTarget)},
      {HKEY_LOCAL_MACHINE, std::wstring(kHelpersKey) + L"\\" + GuidText(CLSID_MyBHO)},
      {HKEY_LOCAL_MACHINE, std::wstring(kExtensionsKey) + L"\\" + GuidText(GUID_MyCommandExtension)},
  };
}

// COM on this thread, in the browser's apartment, for the test's length.
struct Apartment {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ~Apartment() {
    if (SUCCEEDED(hr)) CoUninitialize();
  }
};

}  // namespace

TEST(RegistrationTest, Regsvr32RegistersTheHelperTheBrowserCreatesAndRemovesItAgain) {
  WinUpdateSite updates;  // a local database file of the test's own
  ASSERT_TRUE(WriteFileBytes(updates.localFile, Container("b ^([a-z]+\\.)*evil\\.test(:|/|$)\n")));
  CSettings::SetTTNUP(-1);
  CSettings::SetMDRemoteUri(L"http://127.0.0.1:9/md");  // updates go nowhere
  CSettings::SetDBRemoteUpdUri(L"http://127.0.0.1:9/db");
  CSettings::SetBlackRedirectUri(kBlackPage);

  ASSERT_EQ(Regsvr32(L"/s"), 0);
  for (const auto& [hive, key] : OwnKeys()) EXPECT_TRUE(KeyExists(hive, key)) << key;
  const std::wstring server = L"CLSID\\" + GuidText(CLSID_MyBHO) + L"\\InprocServer32";
  EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, server, nullptr), ModulePath());
  EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, server, L"ThreadingModel"), L"Apartment");

  {
    Apartment apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.hr));
    // The type library is found through the registration, and is the
    // module's own: a 64-bit library in a 64-bit module.
    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadRegTypeLib(LIBID_OSTRELANTIPHISHINGBHOLib, 1, 0, 0, &library), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    library->ReleaseTLibAttr(attributes);
    library->Release();

    IObjectWithSite* helper = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_MyBHO, nullptr, CLSCTX_INPROC_SERVER, IID_IObjectWithSite,
                               reinterpret_cast<void**>(&helper)),
              S_OK);
    FakeSite site;
    ASSERT_EQ(helper->SetSite(site.Unknown()), S_OK);
    EXPECT_EQ(site.Subscribers(), 1u);
    EXPECT_EQ(site.BeforeNavigate(L"http://www.evil.test/login"), S_OK);
    ASSERT_EQ(site.navigations.size(), 1u);
    EXPECT_EQ(site.navigations[0].rfind(kBlackPage, 0), 0u) << site.navigations[0];
    EXPECT_EQ(site.stops, 1);
    EXPECT_EQ(site.BeforeNavigate(L"http://www.example.org/"), S_OK);
    EXPECT_EQ(site.navigations.size(), 1u);
    EXPECT_EQ(site.stops, 1);
    // The browser's quit event is where the helper lets go of it.
    EXPECT_EQ(site.Quit(), S_OK);
    EXPECT_EQ(site.Subscribers(), 0u);
    EXPECT_EQ(site.unadvises, 1);
    helper->Release();
    CoFreeUnusedLibrariesEx(0, 0);
  }

  ASSERT_EQ(Regsvr32(L"/u /s"), 0);
  for (const auto& [hive, key] : OwnKeys()) EXPECT_FALSE(KeyExists(hive, key)) << key;
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Interface"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kHelpersKey));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kExtensionsKey));
}
