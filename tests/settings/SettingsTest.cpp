// Settings over the registry: defaults, stored forms, conversions, the
// one-time version reset, and stores that are damaged or shared.
#include <gtest/gtest.h>

#include <string>

#include "common/TestEnv.h"
#include "platform/Utf16.h"
#include "platform/WinReg.h"
#include "settings/Registry.h"
#include "settings/Settings.h"
#include "support/Exception.h"

namespace {

const wchar_t kKey[] = L"SOFTWARE\\Ostrel\\AntiPhish";

DWORD Raw(const wchar_t* name) { return CRegistry::ReadDword(name, kKey, HKEY_CURRENT_USER); }
void PutRaw(const wchar_t* name, DWORD value) {
  CRegistry::WriteDword(value, name, kKey, HKEY_CURRENT_USER);
}

std::string StorePath() { return ostrel::test::TestRoot() + "/config/ostrel/registry.db"; }

}  // namespace

TEST(SettingsTest, StoredFormsAndConversions) {
  // Flags read as stored and are written as 0 or 1; numbers as given.
  PutRaw(L"ACTBlack", 7);
  EXPECT_EQ(CSettings::GetACTBlack(0), 7u);
  EXPECT_TRUE(CSettings::SetACTBlack(7) && CSettings::SetUseRmtVals(0x80000000u));
  EXPECT_EQ(Raw(L"ACTBlack") + Raw(L"UseRmtVals"), 2u);
  // 64-bit settings are two halves; the upper half alone is no value.
  EXPECT_TRUE(CSettings::SetTTNUP(20050120102255));
  EXPECT_EQ(Raw(L"TTNUPHI"), 4668u);
  EXPECT_EQ(Raw(L"TTNUPLO"), 1212764527u);
  EXPECT_EQ(CSettings::GetTTNUP(-1), 20050120102255);
  PutRaw(L"LSTUDHI", 4668);
  EXPECT_EQ(CSettings::GetLSTUD(12345), 12345);
  // The poll interval is an index; anything else counts as a day.
  EXPECT_EQ(CSettings::GetPollIntervalMillis(), 86400000u);
  const std::pair<DWORD, DWORD> rows[] = {
      {0, 3600000u}, {1, 86400000u}, {2, 604800000u}, {3, 2419200000u}, {4, 86400000u}};
  for (const auto& [index, millis] : rows) {
    ASSERT_TRUE(CSettings::SetPollInterval(index));
    EXPECT_EQ(CSettings::GetPollIntervalMillis(), millis) << index;
  }
}

TEST(SettingsTest, VersionChangeResetsOnceAndOnlyInAutomaticMode) {
  CSettings::SetMDRemoteUri(L"http://elsewhere.example/md?");
  CSettings::SetPDBUN(42);
  EXPECT_TRUE(CSettings::ApplyVersionChange());
  EXPECT_EQ(CSettings::GetMDRemoteUri(L""), CSettings::DefaultMDRemoteUri);
  EXPECT_EQ(CSettings::GetPDBUN(0), -1);
  EXPECT_EQ(CSettings::GetBHOVersion(0), 123u);
  CSettings::SetPDBUN(42);
  EXPECT_FALSE(CSettings::ApplyVersionChange());
  CSettings::SetBHOVersion(122);
  CSettings::SetUseRmtVals(0);
  EXPECT_FALSE(CSettings::ApplyVersionChange());
  EXPECT_EQ(CSettings::GetPDBUN(0), 42);
  CSettings::SetUseRmtVals(1);
  EXPECT_TRUE(CSettings::ApplyVersionChange());
}

TEST(SettingsTest, StringsAreUtf16WithoutTerminatorAndReadsTakeRawBytes) {
  const std::wstring text = L"http://b\u00fccher.example/\U0001F600?x";
  EXPECT_TRUE(CSettings::SetBlackRedirectUri(text));
  EXPECT_EQ(CSettings::GetBlackRedirectUri(L""), text);
  BYTE data[64];
  DWORD type = 0, size = sizeof data;
  ASSERT_TRUE(
      CRegistry::QueryValue(HKEY_CURRENT_USER, kKey, L"BlackRedirectUri", &type, data, &size));
  EXPECT_TRUE(type == REG_SZ && std::string(reinterpret_cast<char*>(data), size) ==
                                    ostrel::platform::ToUtf16Le(text));
  // The type is not looked at: a string "1" read as a number.
  CSettings::SetLastUser(L"1");
  EXPECT_EQ(Raw(L"LastUser"), 49u);
  // A value beyond the read limit gives the default; one at it is read.
  EXPECT_TRUE(CSettings::SetGreyRedirectUri(std::wstring(35000, L'a')));
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L"default"), L"default");
  EXPECT_THROW(CRegistry::ReadString(L"GreyRedirectUri", kKey, HKEY_CURRENT_USER), CException);
  EXPECT_TRUE(CSettings::SetGreyRedirectUri(std::wstring(32767, L'b')));
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L"").size(), 32767u);
}

// A browser started after the store was damaged reads defaults, and the
// store is set aside (kept) at its first access (reads create the settings
// key), so that changes work again rather than fail for good.
TEST(SettingsTest, ADamagedStoreGivesDefaultsAndIsSetAsideAtItsFirstUse) {
  ASSERT_TRUE(CSettings::SetACTGrey(0) && CSettings::SetPDBUN(5));
  const std::string damaged(4096, '\x5a');
  ASSERT_TRUE(ostrel::test::WriteFileBytes(StorePath(), damaged));
  const int status = ostrel::test::RunInChild([] {
    if (CSettings::GetACTGrey(1) != 1 || CSettings::GetGreyRedirectUri(L"d") != L"d") return 1;
    if (!CSettings::SetACTGrey(0) || CSettings::GetACTGrey(1) != 0) return 2;
    return CSettings::GetPDBUN(-1) == -1 ? 0 : 3;
  });
  EXPECT_EQ(status, 0);
  EXPECT_NE(ostrel::test::ReadFileBytes(StorePath()), damaged);
}

TEST(SettingsTest, TwoProcessesWritingAndReadingNeverSeeATornValueNorLoseTheStore) {
  const std::wstring values[2] = {std::wstring(3000, L'x'), std::wstring(5000, L'y')};
  ASSERT_TRUE(CSettings::SetGreyRedirectUri(values[0]));
  auto worker = [&](int self) {
    return [&, self] {
      for (int i = 0; i < 150; ++i) {
        if (!CSettings::SetGreyRedirectUri(values[(i + self) % 2])) return 1;
        const std::wstring read = CSettings::GetGreyRedirectUri(L"missing");
        if (read != values[0] && read != values[1]) return 2;
        // The halves are written one after the other, so a mix is possible;
        // a lost or unreadable store is not.
        if (!CSettings::SetTTNUP(self ? -1 : 0x0000000100000002) || CSettings::GetTTNUP(7) == 7)
          return 3;
      }
      return 0;
    };
  };
  const int first = ostrel::test::StartChild(worker(0));
  const int second = ostrel::test::StartChild(worker(1));
  EXPECT_EQ(ostrel::test::WaitChild(first), 0);
  EXPECT_EQ(ostrel::test::WaitChild(second), 0);
}

TEST(RegistryTest, AMissingValueThrowsAndLeavesTheKeyCreated) {
  EXPECT_THROW(CRegistry::ReadDword(L"Nothing", L"SOFTWARE\\Ostrel\\Fresh", HKEY_CURRENT_USER),
               CException);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"software\\ostrel\\fresh", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
}
