// The configuration dialog run headlessly: a script plays the user, typing,
// pressing and answering the dialog's questions and the folder chooser.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "platform/Event.h"
#include "platform/Handle.h"
#include "platform/ShlObj.h"
#include "platform/Testing.h"
#include "platform/Wait.h"
#include "settings/Settings.h"
#include "ui/ConfigDlg.h"
#include "ui/Resources.h"
#include "update/UpdateSite.h"

namespace t = ostrel::platform::testing;
using namespace ConfigDlgIds;

namespace {

class ConfigDlgTest : public ::testing::Test {
 protected:
  void TearDown() override {
    t::ScriptDialogs(nullptr);
    t::TakeMessageBoxCalls();
    t::TakeFolderChooserCalls();
  }

  // Runs the dialog with the script as its user; the dialog's result.
  static INT_PTR Run(const std::function<void(HWND)>& script) {
    t::ScriptDialogs(script);
    CConfigDlg dialog(nullptr);
    return dialog.DoModal();
  }
};

std::wstring Text(HWND dialog, int id) {
  wchar_t buffer[2048];
  GetDlgItemTextW(dialog, id, buffer, 2048);
  return buffer;
}

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

LRESULT Selection(HWND dialog) {
  return SendMessageW(GetDlgItem(dialog, kPollInterval), CB_GETCURSEL, 0, 0);
}

}  // namespace

TEST_F(ConfigDlgTest, DefaultsShownAndOkWritesAllElevenValues) {
  const INT_PTR result = Run([](HWND d) {
    EXPECT_EQ(Text(d, kGreyRedirectUri), CSettings::DefaultGreyRedirectUri);
    EXPECT_EQ(Text(d, kBlackRedirectUri), CSettings::DefaultBlackRedirectUri);
    EXPECT_EQ(Text(d, kDBRemoteUpdUri), CSettings::DefaultDBRemoteUpdUri);
    EXPECT_EQ(Text(d, kMDRemoteUri), CSettings::DefaultMDRemoteUri);
    EXPECT_EQ(Text(d, kBHORemoteUpdUri), CSettings::DefaultBHORemoteUpdUri);
    EXPECT_EQ(Text(d, kDBFileName), CSettings::DefaultDBFileName);
    EXPECT_EQ(Selection(d), CB_ERR);  // 1,800,000 is no index
    EXPECT_EQ(SendMessageW(GetDlgItem(d, kPollInterval), CB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(Text(d, kDBVersion), L"Unknown");
    EXPECT_EQ(Text(d, kProgramVersion), L"00123");
    const int ticked[][2] = {{kActBlack, 0}, {kActGrey, 1}, {kLoadOnDemand, 1}, {kUseRmtVals, 1}};
    for (const auto& box : ticked) EXPECT_EQ(IsDlgButtonChecked(d, box[0]), UINT(box[1])) << box[0];
    // Automatic mode: only the metadata address and Configure are open.
    for (int id :
         {kGreyRedirectUri, kBlackRedirectUri, kDBRemoteUpdUri, kBHORemoteUpdUri, kPollInterval})
      EXPECT_FALSE(Enabled(d, id)) << id;
    EXPECT_TRUE(Enabled(d, kMDRemoteUri) && Enabled(d, kConfigure));
    EXPECT_FALSE(t::TypeInto(d, kGreyRedirectUri, L"http://typed/"));
    EXPECT_EQ(GetFocus(), GetDlgItem(d, kDBFileName));
    EXPECT_EQ(GetActiveWindow(), d);
    EXPECT_TRUE(t::Press(d, IDOK));
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(GetActiveWindow(), nullptr);
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L"-"), CSettings::DefaultGreyRedirectUri);
  EXPECT_EQ(CSettings::GetBlackRedirectUri(L"-"), CSettings::DefaultBlackRedirectUri);
  EXPECT_EQ(CSettings::GetDBRemoteUpdUri(L"-"), CSettings::DefaultDBRemoteUpdUri);
  EXPECT_EQ(CSettings::GetBHORemoteUpdUri(L"-"), CSettings::DefaultBHORemoteUpdUri);
  EXPECT_EQ(CSettings::GetMDRemoteUri(L"-"), CSettings::DefaultMDRemoteUri);
  EXPECT_EQ(CSettings::GetDBFileName(L"-"), CSettings::DefaultDBFileName);
  EXPECT_EQ(CSettings::GetPollInterval(7), 0xFFFFFFFFu);
  EXPECT_EQ(
      CSettings::GetUseRmtVals(7) + CSettings::GetACTGrey(7) + CSettings::GetDBLoadOnDemand(7), 3u);
  EXPECT_EQ(CSettings::GetACTBlack(7), 0u);
}

TEST_F(ConfigDlgTest, ManualModeEditsAreSavedByOkAndDroppedByCancel) {
  CSettings::SetUseRmtVals(0);
  CSettings::SetPollInterval(3);
  const auto edit = [](HWND d) {
    EXPECT_EQ(Selection(d), 3);
    EXPECT_FALSE(Enabled(d, kMDRemoteUri) || Enabled(d, kConfigure));
    EXPECT_TRUE(t::TypeInto(d, kGreyRedirectUri, L"http://grey.example/"));
    EXPECT_TRUE(t::TypeInto(d, kBHORemoteUpdUri, L"http://bho.example/"));
    EXPECT_FALSE(t::TypeInto(d, kDBFileName, L"/elsewhere"));  // read-only
    EXPECT_TRUE(t::ChooseItem(d, kPollInterval, 0));
    EXPECT_TRUE(t::Press(d, kActGrey) && t::Press(d, kActBlack));
  };
  EXPECT_EQ(Run([&](HWND d) { edit(d); }), IDCANCEL);
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L"-"), L"-");
  EXPECT_EQ(CSettings::GetPollInterval(7), 3u);

  EXPECT_EQ(Run([&](HWND d) { edit(d), t::Press(d, IDOK); }), IDOK);
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L"-"), L"http://grey.example/");
  EXPECT_EQ(CSettings::GetBHORemoteUpdUri(L"-"), L"http://bho.example/");
  EXPECT_EQ(CSettings::GetPollInterval(7), 0u);
  EXPECT_EQ(CSettings::GetACTGrey(7) * 10 + CSettings::GetACTBlack(7), 1u);
  EXPECT_EQ(CSettings::GetUseRmtVals(7), 0u);
  EXPECT_EQ(CSettings::GetDBFileName(L"-"), CSettings::DefaultDBFileName);
}

TEST_F(ConfigDlgTest, DatabaseVersionShownAndRefreshedEverySecond) {
  const struct {
    LONG stored;
    const wchar_t* shown;
  } cases[] = {{42, L"00042"}, {123456, L"123456"}, {0, L"00000"}};
  for (const auto& c : cases) {
    CSettings::SetPDBUN(c.stored);
    Run([&](HWND d) { EXPECT_EQ(Text(d, kDBVersion), c.shown) << c.stored; });
  }
  Run([](HWND d) {
    EXPECT_EQ(t::RunningTimers(d), std::vector<UINT_PTR>{1});
    CSettings::SetPDBUN(7);  // as the update service would
    EXPECT_EQ(t::ElapseTimers(d), 1);
    EXPECT_EQ(Text(d, kDBVersion), L"00007");
    EXPECT_EQ(t::RunningTimers(d), std::vector<UINT_PTR>{1});  // started again
  });
}

TEST_F(ConfigDlgTest, TickingAutomaticModeAndAnsweringNoChangesNothing) {
  CSettings::SetUseRmtVals(0);
  t::ScriptMessageBoxAnswers({IDNO});
  Run([](HWND d) {
    EXPECT_TRUE(t::Press(d, kUseRmtVals));
    EXPECT_EQ(IsDlgButtonChecked(d, kUseRmtVals), 0u);
    EXPECT_TRUE(Enabled(d, kGreyRedirectUri) && Enabled(d, kPollInterval));
    EXPECT_FALSE(Enabled(d, kConfigure));
  });
  const auto calls = t::TakeMessageBoxCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].text.rfind(L"Are you sure you wish to revert", 0), 0u);
  EXPECT_EQ(calls[0].caption, L"Ostrel Anti-Phishing Filter");
  EXPECT_EQ(calls[0].type, MB_YESNO | MB_ICONQUESTION);
  EXPECT_EQ(CSettings::GetUseRmtVals(7), 0u);
}

TEST_F(ConfigDlgTest, UntickingAutomaticModeIsSavedOnlyByOk) {
  CSettings::SetUseRmtVals(1);
  const auto untick = [](HWND d) {
    EXPECT_TRUE(t::Press(d, kUseRmtVals));
    EXPECT_FALSE(Enabled(d, kMDRemoteUri) || Enabled(d, kConfigure));
    for (int id :
         {kGreyRedirectUri, kBlackRedirectUri, kDBRemoteUpdUri, kBHORemoteUpdUri, kPollInterval})
      EXPECT_TRUE(Enabled(d, id)) << id;
    EXPECT_EQ(CSettings::GetUseRmtVals(7), 1u);
  };
  t::ScriptMessageBoxAnswers({IDYES});
  EXPECT_EQ(Run(untick), IDCANCEL);
  EXPECT_EQ(CSettings::GetUseRmtVals(7), 1u);
  t::ScriptMessageBoxAnswers({IDYES});
  Run([&](HWND d) { untick(d), t::Press(d, IDOK); });
  EXPECT_EQ(CSettings::GetUseRmtVals(7), 0u);
  // Answering No ticks the box again.
  CSettings::SetUseRmtVals(1);
  t::ScriptMessageBoxAnswers({IDNO});
  Run([](HWND d) {
    t::Press(d, kUseRmtVals);
    EXPECT_EQ(IsDlgButtonChecked(d, kUseRmtVals), 1u);
    EXPECT_TRUE(Enabled(d, kConfigure));
  });
}

TEST_F(ConfigDlgTest, UpdateCommandMarksTheDatabaseOldAndWakesTheUpdateService) {
  const HANDLE manual = CreateEventW(nullptr, FALSE, FALSE, L"_OSTREL_ANTIPHISH_BHO_MNULUPD_EVENT");
  ASSERT_NE(manual, nullptr);
  CSettings::SetPDBUN(42);
  t::ScriptMessageBoxAnswers({IDNO});
  Run([](HWND d) { t::Press(d, kUpdateDatabase); });
  EXPECT_EQ(CSettings::GetPDBUN(0), 42);
  EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  DWORD woken = WAIT_FAILED;
  std::thread waiter([&] { woken = WaitForSingleObject(manual, 10000); });
  while (t::KernelObjectWaits(manual) == 0) std::this_thread::yield();
  t::ScriptMessageBoxAnswers({IDYES});
  Run([](HWND d) {
    t::Press(d, kUpdateDatabase);
    EXPECT_EQ(Text(d, kDBVersion), L"00042");  // until the next second
    t::ElapseTimers(d);
    EXPECT_EQ(Text(d, kDBVersion), L"Unknown");
  });
  waiter.join();
  EXPECT_EQ(woken, static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(CSettings::GetPDBUN(0), -1);
  EXPECT_EQ(t::TakeMessageBoxCalls().at(1).text, L"Update of the Phish database now?");
  CloseHandle(manual);
}

TEST_F(ConfigDlgTest, ChosenDatabaseFolderIsWrittenAtOnceOnYes) {
  CSettings::SetPDBUN(42);
  // Cancelled chooser: no question; No: nothing changes.
  t::ScriptFolderChoices({L"", L"/data/db"});
  t::ScriptMessageBoxAnswers({IDNO});
  Run([](HWND d) {
    t::Press(d, kBrowse);
    t::Press(d, kBrowse);
    EXPECT_EQ(Text(d, kDBFileName), CSettings::DefaultDBFileName);
  });
  auto calls = t::TakeMessageBoxCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_NE(calls[0].text.find(L"location:\r\n\r\n/data/db/zortldbf.dat\r\n\r\nIf you"),
            std::wstring::npos);
  EXPECT_EQ(CSettings::GetDBFileName(L"-"), L"-");
  EXPECT_EQ(CSettings::GetPDBUN(0), 42);

  t::ScriptFolderChoices({L"/data/db/"});
  t::ScriptMessageBoxAnswers({IDYES});
  EXPECT_EQ(Run([](HWND d) {
              t::Press(d, kBrowse);
              EXPECT_EQ(Text(d, kDBFileName), L"/data/db/zortldbf.dat");
            }),
            IDCANCEL);
  EXPECT_EQ(CSettings::GetDBFileName(L"-"), L"/data/db/zortldbf.dat");
  EXPECT_EQ(CSettings::GetPDBUN(0), -1);
  const auto choosers = t::TakeFolderChooserCalls();
  ASSERT_EQ(choosers.size(), 3u);
  EXPECT_EQ(choosers[2].title, L"Select Folder: -");
  EXPECT_EQ(choosers[2].flags, BIF_RETURNONLYFSDIRS);
  EXPECT_TRUE(choosers[2].rootIsDrives);
  EXPECT_NE(choosers[2].owner, nullptr);
}

TEST_F(ConfigDlgTest, AFolderTooLongForTheDatabasePathIsRefusedWithAMessage) {
  // 247 characters, a separator and "zortldbf.dat" make 260: one too many.
  const std::wstring longest = L"/" + std::wstring(245, L'd');
  t::ScriptFolderChoices({longest + L"d", longest});
  t::ScriptMessageBoxAnswers({IDOK, IDNO});
  Run([](HWND d) {
    t::Press(d, kBrowse);
    EXPECT_EQ(Text(d, kDBFileName), CSettings::DefaultDBFileName);
    t::Press(d, kBrowse);
  });
  const auto calls = t::TakeMessageBoxCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_NE(calls[0].text.find(L"too long"), std::wstring::npos);
  EXPECT_EQ(calls[0].caption, L"Ostrel Anti-Phishing Filter");
  EXPECT_EQ(calls[0].type, MB_OK | MB_ICONWARNING);
  EXPECT_NE(calls[1].text.find(longest + L"/zortldbf.dat"), std::wstring::npos);  // 259: offered
  EXPECT_EQ(CSettings::GetDBFileName(L"-"), L"-");
}

TEST_F(ConfigDlgTest, WithNothingToShowItTheDialogFails) {
  CConfigDlg dialog(nullptr);
  EXPECT_EQ(dialog.DoModal(), -1);
  EXPECT_EQ(CSettings::GetUseRmtVals(7), 7u);
}

TEST_F(ConfigDlgTest, ConfigureAndProgramCheckUseTheRemoteMetadata) {
  ostrel::test::UpdateSite site;
  site.Publish("GREY_URI=http://grey.test/\nBHO_VERSION=123\n");
  CSettings::SetUseRmtVals(1);
  CSettings::SetPDBUN(42);
  t::ScriptMessageBoxAnswers({IDYES, IDYES, IDOK});
  Run([](HWND d) {
    t::Press(d, kActGrey);  // not saved: the dialog's value comes back
    EXPECT_TRUE(t::Press(d, kConfigure));
    EXPECT_EQ(Text(d, kGreyRedirectUri), L"http://grey.test/");
    EXPECT_EQ(IsDlgButtonChecked(d, kActGrey), 1u);
    EXPECT_EQ(CSettings::GetPDBUN(0), -1);
    EXPECT_TRUE(t::Press(d, kCheckProgramUpdate));  // this build is the newest
  });
  const auto calls = t::TakeMessageBoxCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].text, L"Update automatic configuration settings?");
  EXPECT_EQ(calls[1].text, L"Check for an update to the Ostrel Anti-Phishing Filter?");
  EXPECT_EQ(calls[2].text, L"There are no Ostrel Anti-Phishing Filter updates at this time");
  EXPECT_EQ(calls[2].type, MB_OK | MB_ICONINFORMATION);
  EXPECT_EQ(CSettings::GetGreyRedirectUri(L"-"), L"http://grey.test/");
}
