// The remote metadata against a real server: the line format, when a
// request is made and a download is needed, automatic configuration and
// the METADATA_URI chain, the program-update question, and the clock.
#include <gtest/gtest.h>

#include <random>

#include "platform/Testing.h"
#include "platform/WinUser.h"
#include "settings/Settings.h"
#include "support/TraceCapture.h"
#include "update/RemoteMD.h"
#include "update/UpdateSite.h"

using namespace ostrel::test;


TEST(RemoteMDTest, TheLineFormat) {
  UpdateSite site;
  struct Row {
    std::string text;
    LONG dbVersion;
    DWORD pollInterval;
    LONGLONG nextUpdate;
    std::wstring dbUpdUri;
  };
  const std::wstring kBefore = L"http://before.test/";
  const Row rows[] = {
      {"DB_VERSION=42\n", 42, 2, -1, kBefore},
      {"DB_VERSION = 42\n", -1, 2, -1, kBefore},  // the name would be "DB_VERSION "
      {"db_version=42\n", -1, 2, -1, kBefore},
      {"=DB_VERSION=42\n", 42, 2, -1, kBefore},
      {"DB_VERSION==42=7\n", 42, 2, -1, kBefore},
      {"DB_VERSION=42 # note\n", -1, 2, -1, kBefore},
      {"DB_VERSION=7\nDB_VERSION=8\r\n", 8, 2, -1, kBefore},
      {"DB_VERSION=9", -1, 2, -1, kBefore},  // no LF: not a line
      {"DB_VERSION=99999999999\nBHO_VERSION\n", 2147483647, 2, -1, kBefore},
      {"DB_VERSION=\t-5x\n", -5, 2, -1, kBefore},
      {"POLL_INTERVAL=abc\n", -1, 0, -1, kBefore},
      {"NEXT_UPD=20050301120000xyz\n", -1, 2, 20050301120000, kBefore},
      {"DB_UPD_URI=http://updates.example/get?file=db\n", -1, 2, -1,
       L"http://updates.example/get?file"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    CSettings::SetPollInterval(2);
    CSettings::SetDBRemoteUpdUri(kBefore);
    site.Publish(row.text);
    CRemoteMD metadata;
    const MetadataValues& v = metadata.GetRemoteValues();
    EXPECT_EQ(v.dbVersion, row.dbVersion);
    EXPECT_EQ(v.pollInterval, row.pollInterval);
    EXPECT_EQ(v.nextUpdate, row.nextUpdate);
    EXPECT_EQ(v.dbUpdUri, row.dbUpdUri);
    EXPECT_EQ(CSettings::GetDBRemoteUpdUri(L""), row.dbUpdUri);  // automatic configuration
    EXPECT_EQ(CSettings::GetPollInterval(9), row.pollInterval);
  }
}

TEST(RemoteMDTest, AnyBytesParseAndADamagedFileChangesNoSetting) {
  std::mt19937 random(7);
  for (int i = 0; i < 3000; ++i) {
    std::wstring bytes(random() % 200, L'\0');
    for (wchar_t& c : bytes) c = static_cast<wchar_t>(random() % 4 ? random() % 256 : L"=\n#D"[random() % 4]);
    std::wistringstream text(bytes);
    MetadataValues values;
    ParseMetadata(text, values);
  }
  UpdateSite site;
  std::string damaged = Container("POLL_INTERVAL=3\nDB_UPD_URI=http://evil.test/\n");
  damaged.back() = static_cast<char>(damaged.back() + 1);
  site.server.Serve("/md", damaged);
  CRemoteMD metadata;
  EXPECT_EQ(site.server.Count("/md"), 1);
  EXPECT_EQ(CSettings::GetPollInterval(77), 77u);  // not even written back
  EXPECT_EQ(CSettings::GetDBRemoteUpdUri(L""), site.server.WideUrl("/db"));
}

TEST(RemoteMDTest, ValuesThatAreNoHttpAddressOrTooLongAreIgnoredFieldByField) {
  UpdateSite site;
  const std::wstring kBefore = L"http://before.test/";
  const std::string longest = "http://long.test/" + std::string(kMaxMetadataValueLength - 17, 'p');
  const std::tuple<const char*, std::string, bool> rows[] = {
      {"METADATA_URI", "file:///etc/passwd", false},
      {"DB_UPD_URI", "gopher://evil.test/", false},
      {"GREY_URI", "javascript:alert(document.cookie)", false},
      {"BHO_UPD_URI", "file:///home/user/.local/share/applications/evil.desktop", false},
      {"BLACK_URI", "http://", false},  // no host
      {"BLACK_URI", "/black.html", false},
      {"DB_UPD_URI", longest + "p", false},
      {"DB_UPD_URI", longest, true},
      {"GREY_URI", "HTTPS://Grey.Test/page", true},
  };
  for (const auto& [field, value, taken] : rows) {
    SCOPED_TRACE(std::string(field) + "=" + value.substr(0, 60));
    for (auto set : {CSettings::SetDBRemoteUpdUri, CSettings::SetBHORemoteUpdUri,
                     CSettings::SetGreyRedirectUri, CSettings::SetBlackRedirectUri})
      set(kBefore);
    CSettings::SetPollInterval(2);
    site.Publish(std::string(field) + "=" + value + "\nPOLL_INTERVAL=3\n");
    CTraceCapture trace;
    CRemoteMD metadata;
    const MetadataValues& v = metadata.GetRemoteValues();
    const std::pair<std::wstring, std::wstring> kept[] = {
        {v.dbUpdUri, CSettings::GetDBRemoteUpdUri(L"")}, {v.metadataUri, CSettings::GetMDRemoteUri(L"")},
        {v.bhoUpdUri, CSettings::GetBHORemoteUpdUri(L"")}, {v.greyUri, CSettings::GetGreyRedirectUri(L"")},
        {v.blackUri, CSettings::GetBlackRedirectUri(L"")}};
    const int index = FindMetadataField(Widen(field));
    for (int i = 0; i < 5; ++i) {
      const std::wstring before = i == 1 ? site.server.WideUrl("/md") : kBefore;
      const std::wstring expected = i + 4 == index && taken ? Widen(value) : before;
      EXPECT_EQ(kept[i].first, expected) << i;
      EXPECT_EQ(kept[i].second, expected) << i;
    }
    EXPECT_EQ(CSettings::GetPollInterval(9), 3u);  // the rest of the file still applies
    EXPECT_EQ(trace.Contains(L"Field " + Widen(field) + L" ignored"), !taken);
  }
}

TEST(RemoteMDTest, NextUpdateIsHeldToTwentyEightDaysAheadAlsoWhenStoredBefore) {
  UpdateSite site;
  site.Publish("DB_VERSION=5\nNEXT_UPD=9223372036854775807\n");
  CSettings::SetTTNUP(9223372036854775807);  // from a file read before times were held
  CRemoteMD metadata;  // no local file: a request is forced
  const LONGLONG latest = CRemoteMD::NowStamp(kMaxNextUpdateAheadMs);
  EXPECT_LE(metadata.GetRemoteValues().nextUpdate, latest);
  EXPECT_GE(metadata.GetRemoteValues().nextUpdate, CRemoteMD::NowStamp(kMaxNextUpdateAheadMs - 60000));
  metadata.UpdateRegistry();
  EXPECT_LE(CSettings::GetTTNUP(0), latest);
  EXPECT_GT(CSettings::GetTTNUP(0), CRemoteMD::NowStamp(0));
}

TEST(RemoteMDTest, WhenARequestIsMadeAndADownloadNeeded) {
  UpdateSite site;
  const LONGLONG future = CRemoteMD::NowStamp(0) + 100000000;  // a year on
  // Local file, PDBUN, TTNUP, metadata -> requests made, download needed.
  const std::tuple<bool, LONG, LONGLONG, const char*, int, bool> rows[] = {
      {false, 10, future, "DB_VERSION=3\n", 1, true},  // no local file: forced
      {true, 10, future, "DB_VERSION=11\n", 0, false},  // not due: no request
      {true, 10, -1, "DB_VERSION=10\n", 1, false},
      {true, 10, -1, "DB_VERSION=11\n", 1, true},
      {true, -1, future, "DB_VERSION=1\n", 1, true},  // version unknown: forced
  };
  for (const auto& [localFile, pdbun, ttnup, text, requests, needed] : rows) {
    SCOPED_TRACE(text);
    std::remove(LocalDatabasePath().c_str());
    if (localFile) {
      ASSERT_TRUE(WriteLocalDatabase("b ^old\\.test/\n"));
    }
    CSettings::SetPDBUN(pdbun);
    CSettings::SetTTNUP(ttnup);
    site.Publish(text);
    const int before = site.server.Count("/md");
    CRemoteMD metadata;
    EXPECT_EQ(site.server.Count("/md") - before, requests);
    EXPECT_EQ(metadata.IsDBUpdateNeeded(), needed);
  }
}

TEST(RemoteMDTest, AutomaticConfigurationFollowsTheMetadataAddressTenLevels) {
  UpdateSite site;
  for (int i = 0; i <= 12; ++i) {
    site.Publish("METADATA_URI=" + site.server.Url("/md" + std::to_string(i + 1)) + "\n",
                 "/md" + std::to_string(i));
  }
  site.Publish("METADATA_URI=" + site.server.Url("/md0") + "\nGREY_URI=http://grey.test/\n");
  CSettings::SetUseRmtVals(0);
  { CRemoteMD manual; }
  EXPECT_EQ(site.server.Count("/md"), 1);
  EXPECT_EQ(site.server.Count("/md0"), 0);
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L"unset"), L"unset");
  CSettings::SetUseRmtVals(1);
  { CRemoteMD automatic; }
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L"unset"), L"http://grey.test/");
  for (int i = 0; i <= 12; ++i) EXPECT_EQ(site.server.Count("/md" + std::to_string(i)), i < 10 ? 1 : 0) << i;
  EXPECT_EQ(CSettings::GetMDRemoteUri(L""), site.server.WideUrl("/md10"));
}

TEST(RemoteMDTest, ANewerProgramIsOfferedAtMostOnceADay) {
  UpdateSite site;
  const std::string opened = TestRoot() + "/opened";
  UseOpener("echo \"$1\" > " + opened + "\n");
  site.Publish("BHO_VERSION=124\nBHO_UPD_URI=http://updates.test/setup.msi\n");
  CSettings::SetBHOUW(CRemoteMD::TodayStamp() - 1);
  ostrel::platform::testing::ScriptMessageBoxAnswers({IDYES});
  CRemoteMD metadata;
  EXPECT_TRUE(metadata.CheckBHOVersion(false));
  const auto asked = ostrel::platform::testing::TakeMessageBoxCalls();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].text, CRemoteMD::kNewVersionText);
  EXPECT_EQ(asked[0].caption, CRemoteMD::kNewVersionCaption);
  EXPECT_EQ(asked[0].type, MB_YESNO | MB_ICONQUESTION);
  EXPECT_TRUE(Eventually([&] { return ReadFileBytes(opened) == "http://updates.test/setup.msi\n"; }));
  EXPECT_EQ(CSettings::GetBHOUW(0), CRemoteMD::TodayStamp());
  EXPECT_FALSE(CRemoteMD().CheckBHOVersion(false));  // told today already
  EXPECT_TRUE(CRemoteMD().CheckBHOVersion(true));     // the dialog's command asks anyway
  site.Publish("BHO_VERSION=123\n");
  EXPECT_FALSE(CRemoteMD().CheckBHOVersion(true));    // this build
  EXPECT_EQ(ostrel::platform::testing::TakeMessageBoxCalls().size(), 1u);
}

TEST(RemoteMDTest, OnlyAnHttpProgramUpdateAddressIsOpened) {
  UpdateSite site;
  const std::string opened = TestRoot() + "/opened-in-order";
  UseOpener("echo \"$1\" >> " + opened + "\n");
  // A setting written before metadata was checked, or typed by hand.
  CSettings::SetBHORemoteUpdUri(L"file:///home/user/.local/share/applications/evil.desktop");
  site.Publish("BHO_VERSION=124\n");
  ostrel::platform::testing::ScriptMessageBoxAnswers({IDYES, IDYES});
  EXPECT_TRUE(CRemoteMD().CheckBHOVersion(true));
  site.Publish("BHO_VERSION=124\nBHO_UPD_URI=https://updates.test/setup.msi\n");
  EXPECT_TRUE(CRemoteMD().CheckBHOVersion(true));
  EXPECT_EQ(ostrel::platform::testing::TakeMessageBoxCalls().size(), 2u);
  // Openers run in the order asked: only the second was.
  EXPECT_TRUE(Eventually([&] { return !ReadFileBytes(opened).empty(); }));
  EXPECT_EQ(ReadFileBytes(opened), "https://updates.test/setup.msi\n");
}

TEST(RemoteMDTest, StampsAtAFixedClock) {
  const LONGLONG at = 1109719800;  // 2005-03-01 23:30:00 UTC
  EXPECT_EQ(CRemoteMD::StampAt(at, 0), 20050301233000);
  EXPECT_EQ(CRemoteMD::StampAt(at, 3600000), 20050302003000);
  EXPECT_EQ(CRemoteMD::StampAt(at, 2419200000u), 20050329233000);
  EXPECT_EQ(CRemoteMD::StampAt(at, 999), 20050301233000);
}
