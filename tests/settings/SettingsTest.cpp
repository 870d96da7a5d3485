// Settings over the registry: defaults, stored forms, conversions, the
// one-time version reset, and stores that cannot be read or written.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/TestEnv.h"
#include "platform/ProcessFacts.h"
#include "platform/Utf16.h"
#include "platform/WinReg.h"
#include "settings/Registry.h"
#include "settings/Settings.h"
#include "support/Exception.h"

namespace {

const wchar_t kKey[] = L"SOFTWARE\\Ostrel\\AntiPhish";

// The names of the values stored directly in the settings key.
std::vector<std::wstring> StoredNames() {
  std::vector<std::wstring> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.emplace_back(name, length);
  }
  RegCloseKey(key);
  return names;
}

bool KeyExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

DWORD Raw(const wchar_t* name) { return CRegistry::ReadDword(name, kKey, HKEY_CURRENT_USER); }
void PutRaw(const wchar_t* name, DWORD value) {
  CRegistry::WriteDword(value, name, kKey, HKEY_CURRENT_USER);
}

std::string StorePath() { return ostrel::test::TestRoot() + "/config/ostrel/registry.db"; }

}  // namespace

TEST(SettingsTest, AnEmptyKeyGivesEveryDefaultAndReadingCreatesNoValue) {
  EXPECT_FALSE(KeyExists());
  EXPECT_EQ(CSettings::GetGreyRedirectUri(CSettings::DefaultGreyRedirectUri),
            CSettings::DefaultBaseUri);
  EXPECT_EQ(CSettings::GetBlackRedirectUri(CSettings::DefaultBlackRedirectUri),
            CSettings::DefaultBaseUri);
  EXPECT_EQ(CSettings::GetMDRemoteUri(CSettings::DefaultMDRemoteUri),
            CSettings::DefaultBaseUri + L"mdatax.dat?");
  EXPECT_EQ(CSettings::GetDBRemoteUpdUri(CSettings::DefaultDBRemoteUpdUri),
            CSettings::DefaultBaseUri + L"phishx.dbf?");
  EXPECT_EQ(CSettings::GetBHORemoteUpdUri(CSettings::DefaultBHORemoteUpdUri),
            CSettings::DefaultBaseUri + L"zortbho.msi?");
  EXPECT_EQ(CSettings::GetLastUser(L""), L"");
  EXPECT_EQ(CSettings::GetBHOActive(CSettings::DefaultBHOActive), 1u);
  EXPECT_EQ(CSettings::GetBHOPaused(CSettings::DefaultBHOPaused), 0u);
  EXPECT_EQ(CSettings::GetDBLoadOnDemand(CSettings::DefaultDBLoadOnDemand), 1u);
  EXPECT_EQ(CSettings::GetACTBlack(CSettings::DefaultACTBlack), 0u);
  EXPECT_EQ(CSettings::GetACTGrey(CSettings::DefaultACTGrey), 1u);
  EXPECT_EQ(CSettings::GetUseRmtVals(CSettings::DefaultUseRmtVals), 1u);
  EXPECT_EQ(CSettings::GetPollInterval(CSettings::DefaultPollInterval), 1800000u);
  EXPECT_EQ(CSettings::GetPDBUN(CSettings::DefaultPDBUN), -1);
  EXPECT_EQ(CSettings::GetBHOUW(CSettings::DefaultBHOUW), 0xFFFFFFFFu);
  EXPECT_EQ(CSettings::GetBHOVersion(0xFFFFFFFF), 0xFFFFFFFFu);
  EXPECT_EQ(CSettings::GetTTNUP(CSettings::DefaultTTNUP), -1);
  EXPECT_EQ(CSettings::GetLSTUD(CSettings::DefaultLSTUD), -1);
  EXPECT_TRUE(KeyExists());
  EXPECT_TRUE(StoredNames().empty());
}

TEST(SettingsTest, DefaultAddressesAndDatabaseFile) {
  const std::wstring& base = CSettings::DefaultBaseUri;
  EXPECT_EQ(base.rfind(L"http://", 0), 0u);
  EXPECT_EQ(base.back(), L'/');
  wchar_t temp[MAX_PATH];
  const DWORD length = GetTempPathW(MAX_PATH, temp);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(CSettings::DefaultDBFileName, std::wstring(temp, length) + L"zortldbf.dat");
  EXPECT_EQ(CSettings::GetDBFileName(CSettings::DefaultDBFileName), CSettings::DefaultDBFileName);
}

TEST(SettingsTest, FlagsReadAsStoredAndAreWrittenAsZeroOrOne) {
  PutRaw(L"ACTBlack", 7);
  EXPECT_EQ(CSettings::GetACTBlack(0), 7u);
  EXPECT_TRUE(CSettings::SetACTBlack(7));
  EXPECT_EQ(Raw(L"ACTBlack"), 1u);
  EXPECT_TRUE(CSettings::SetACTGrey(0));
  EXPECT_EQ(CSettings::GetACTGrey(1), 0u);
  EXPECT_TRUE(CSettings::SetUseRmtVals(0x80000000u));
  EXPECT_EQ(Raw(L"UseRmtVals"), 1u);
  EXPECT_TRUE(CSettings::SetDBLoadOnDemand(2));
  EXPECT_EQ(Raw(L"DBLoadOnDemand"), 1u);
  // Plain numbers are stored as given.
  EXPECT_TRUE(CSettings::SetPollInterval(5));
  EXPECT_EQ(Raw(L"PollInterval"), 5u);
  EXPECT_TRUE(CSettings::SetPDBUN(-7));
  EXPECT_EQ(Raw(L"PDBUN"), 0xFFFFFFF9u);
  EXPECT_EQ(CSettings::GetPDBUN(0), -7);
}

TEST(SettingsTest, PollIntervalIndexConvertsToMilliseconds) {
  EXPECT_EQ(CSettings::GetPollIntervalMillis(), 86400000u);  // missing
  const std::pair<DWORD, DWORD> rows[] = {{0, 3600000u},   {1, 86400000u}, {2, 604800000u},
                                          {3, 2419200000u}, {4, 86400000u}, {5, 86400000u},
                                          {1800000, 86400000u}};
  for (const auto& [index, millis] : rows) {
    ASSERT_TRUE(CSettings::SetPollInterval(index));
    EXPECT_EQ(CSettings::GetPollIntervalMillis(), millis) << index;
  }
}

TEST(SettingsTest, SixtyFourBitSettingsAreTwoHalves) {
  EXPECT_TRUE(CSettings::SetTTNUP(20050120102255));
  EXPECT_EQ(Raw(L"TTNUPHI"), 4668u);
  EXPECT_EQ(Raw(L"TTNUPLO"), 1212764527u);
  EXPECT_EQ(CSettings::GetTTNUP(-1), 20050120102255);
  EXPECT_TRUE(CSettings::SetLSTUD(-1));
  EXPECT_EQ(Raw(L"LSTUDHI"), 0xFFFFFFFFu);
  EXPECT_EQ(CSettings::GetLSTUD(0), -1);

  PutRaw(L"LSTUDHI", 4668);  // the upper half alone is not a value
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueW(key, L"LSTUDLO"), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(CSettings::GetLSTUD(-1), -1);
  EXPECT_EQ(CSettings::GetLSTUD(12345), 12345);
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
  EXPECT_EQ(CSettings::GetPDBUN(0), 42);

  CSettings::SetBHOVersion(122);
  CSettings::SetUseRmtVals(0);
  EXPECT_FALSE(CSettings::ApplyVersionChange());
  EXPECT_EQ(CSettings::GetBHOVersion(0), 122u);
  EXPECT_EQ(CSettings::GetPDBUN(0), 42);
  CSettings::SetUseRmtVals(1);
  EXPECT_TRUE(CSettings::ApplyVersionChange());
}

TEST(SettingsTest, StringsRoundTripAndAreStoredAsUtf16WithoutTerminator) {
  EXPECT_TRUE(CSettings::SetGreyRedirectUri(L""));
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L"default"), L"");
  const std::wstring text = L"http://b\u00fccher.example/\U0001F600?x";
  EXPECT_TRUE(CSettings::SetBlackRedirectUri(text));
  EXPECT_EQ(CSettings::GetBlackRedirectUri(L""), text);

  BYTE data[64];
  DWORD type = 0, size = sizeof data;
  ASSERT_TRUE(CRegistry::QueryValue(HKEY_CURRENT_USER, kKey, L"BlackRedirectUri", &type, data,
                                    &size));
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), ostrel::platform::ToUtf16Le(text));
}

TEST(SettingsTest, ValuesOfTheWrongTypeReadAsTheirBytes) {
  CSettings::SetLastUser(L"1");
  EXPECT_EQ(CRegistry::ReadDword(L"LastUser", kKey, HKEY_CURRENT_USER), 49u);
  PutRaw(L"GreyRedirectUri", 0x00630062);  // 'b', 0, 'c', 0 little-endian
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L""), L"bc");
  PutRaw(L"BlackRedirectUri", 0);
  EXPECT_EQ(CSettings::GetBlackRedirectUri(L"x"), L"");
}

TEST(SettingsTest, AValueBeyondTheReadLimitGivesTheDefault) {
  const std::wstring big(35000, L'a');  // 70,000 bytes
  EXPECT_TRUE(CSettings::SetGreyRedirectUri(big));
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L"default"), L"default");
  EXPECT_THROW(CRegistry::ReadString(L"GreyRedirectUri", kKey, HKEY_CURRENT_USER), CException);
  const std::wstring limit(32767, L'b');  // 65,534 bytes: still readable
  EXPECT_TRUE(CSettings::SetGreyRedirectUri(limit));
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L""), limit);
}

TEST(SettingsTest, ADamagedStoreGivesDefaultsRefusesWritesAndIsKept) {
  ASSERT_TRUE(CSettings::SetACTGrey(0));
  ASSERT_TRUE(ostrel::test::WriteFileBytes(StorePath(), std::string(4096, '\x5a')));
  const std::string damaged = ostrel::test::ReadFileBytes(StorePath());
  // A fresh process, as a browser started after the damage would be.
  const int status = ostrel::test::RunInChild([] {
    if (CSettings::GetACTGrey(1) != 1) return 1;
    if (CSettings::GetGreyRedirectUri(L"d") != L"d") return 2;
    if (CSettings::SetACTGrey(0)) return 3;
    if (CSettings::SetGreyRedirectUri(L"x")) return 4;
    return 0;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ostrel::test::ReadFileBytes(StorePath()), damaged);
}

TEST(SettingsTest, AnUnwritableConfigurationFolderGivesDefaultsAndFailedWrites) {
  const std::string blocked = ostrel::test::TestRoot() + "/not-a-folder";
  ASSERT_TRUE(ostrel::test::WriteFileBytes(blocked, "x"));
  const int status = ostrel::test::RunInChild([&] {
    setenv("XDG_CONFIG_HOME", (blocked + "/config").c_str(), 1);
    if (CSettings::SetACTGrey(0)) return 1;
    if (CSettings::GetACTGrey(1) != 1) return 2;
    if (CSettings::SetTTNUP(5)) return 3;
    if (CSettings::GetTTNUP(-1) != -1) return 4;
    return 0;
  });
  EXPECT_EQ(status, 0);
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
        if (!CSettings::SetTTNUP(self ? -1 : 0x0000000100000002)) return 3;
        const LONGLONG stamp = CSettings::GetTTNUP(7);
        // Halves are written one after the other, so a mix is possible; a
        // lost or unreadable store is not.
        if (stamp == 7) return 4;
      }
      return 0;
    };
  };
  const int first = ostrel::test::StartChild(worker(0));
  const int second = ostrel::test::StartChild(worker(1));
  EXPECT_EQ(ostrel::test::WaitChild(first), 0);
  EXPECT_EQ(ostrel::test::WaitChild(second), 0);
  const std::wstring last = CSettings::GetGreyRedirectUri(L"missing");
  EXPECT_TRUE(last == values[0] || last == values[1]);
}

TEST(RegistryTest, AMissingValueThrowsAndLeavesTheKeyCreated) {
  EXPECT_THROW(CRegistry::ReadString(L"Nothing", L"SOFTWARE\\Ostrel\\Fresh", HKEY_CURRENT_USER),
               CException);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"software\\ostrel\\fresh", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_THROW(CRegistry::ReadDword(L"Nothing", L"SOFTWARE\\Ostrel\\Fresh", HKEY_CURRENT_USER),
               CException);
}
