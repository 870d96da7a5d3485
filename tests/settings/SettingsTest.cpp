// Settings over the registry: defaults, stored forms, conversions and the
// one-time version reset. Built for Windows too, over its own registry.
#include <gtest/gtest.h>

#include <string>

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
#ifdef _WIN32
  // Windows stores a terminator the write did not count when a NUL follows
  // the data, and one always does (the end of the written std::string).
  const std::string stored = ostrel::platform::ToUtf16Le(text) + std::string(2, '\0');
#else
  const std::string stored = ostrel::platform::ToUtf16Le(text);
#endif
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), stored);
  // The type is not looked at: a string "1" read as a number.
  CSettings::SetLastUser(L"1");
  EXPECT_EQ(Raw(L"LastUser"), 49u);
  // A value beyond the read limit gives the default; one at it is read.
  EXPECT_TRUE(CSettings::SetGreyRedirectUri(std::wstring(35000, L'a')));
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L"default"), L"default");
  EXPECT_THROW(CRegistry::ReadString(L"GreyRedirectUri", kKey, HKEY_CURRENT_USER), CException);
  // (On Windows, with the terminator it adds, one unit beyond the limit.)
  EXPECT_TRUE(CSettings::SetGreyRedirectUri(std::wstring(32767, L'b')));
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L"").size(), 32767u);
  EXPECT_TRUE(CSettings::SetGreyRedirectUri(std::wstring(32768, L'd')));
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L"default"), L"default");
  EXPECT_TRUE(CSettings::SetGreyRedirectUri(std::wstring(32766, L'c')));
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L"").size(), 32766u);
}

// Reads share one buffer per thread: a value shorter than the one read
// before it reads as its own bytes, zeros after them, never the other's.
TEST(RegistryTest, AShortValueReadsAsItsOwnBytesAfterALongerOne) {
  const auto putBytes = [](const wchar_t* name, const std::string& bytes) {
    return CRegistry::SetValue(HKEY_CURRENT_USER, kKey, name, REG_BINARY,
                               reinterpret_cast<const BYTE*>(bytes.data()),
                               static_cast<DWORD>(bytes.size()));
  };
  PutRaw(L"Long", 0xFFFFFFFFu);
  ASSERT_TRUE(putBytes(L"Short", std::string(1, '\x07')));
  EXPECT_EQ(Raw(L"Long"), 0xFFFFFFFFu);
  EXPECT_EQ(Raw(L"Short"), 7u);
  // Odd sizes: the last byte is the low half of a unit whose high half is 0.
  ASSERT_TRUE(putBytes(L"Odd", std::string("h\0i", 3)));
  EXPECT_TRUE(CSettings::SetLastUser(L"a much longer value read first"));
  EXPECT_EQ(CSettings::GetLastUser(L""), L"a much longer value read first");
  EXPECT_EQ(CRegistry::ReadString(L"Odd", kKey, HKEY_CURRENT_USER), L"hi");
  ASSERT_TRUE(putBytes(L"Odd", std::string("x", 1)));
  EXPECT_EQ(CRegistry::ReadString(L"Odd", kKey, HKEY_CURRENT_USER), L"x");
}

TEST(RegistryTest, AMissingValueThrowsAndLeavesTheKeyCreated) {
  EXPECT_THROW(CRegistry::ReadDword(L"Nothing", L"SOFTWARE\\Ostrel\\Fresh", HKEY_CURRENT_USER),
               CException);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"software\\ostrel\\fresh", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
}
