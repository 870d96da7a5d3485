// Message boxes (scripted headless backend) and opening an address through
// a real opener process.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <string>

#include "common/TestEnv.h"
#include "platform/ShellApi.h"
#include "platform/Testing.h"
#include "platform/WinUser.h"
#include "support/Desktop.h"

using ostrel::platform::testing::MessageBoxCall;
namespace seams = ostrel::platform::testing;

TEST(DesktopTest, MessageBoxAnswersFromTheScriptInOrderAndRecordsWhatWasShown) {
  seams::TakeMessageBoxCalls();
  seams::ScriptMessageBoxAnswers({IDYES, IDNO});
  EXPECT_EQ(ShowMessageBox(L"Download?", L"Ostrel Anti-Phishing Filter", MB_YESNO | MB_ICONQUESTION),
            IDYES);
  EXPECT_EQ(ShowMessageBox(L"Again?", nullptr, MB_YESNO), IDNO);
  const std::vector<MessageBoxCall> calls = seams::TakeMessageBoxCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].text, L"Download?");
  EXPECT_EQ(calls[0].caption, L"Ostrel Anti-Phishing Filter");
  EXPECT_EQ(calls[0].type, MB_YESNO | MB_ICONQUESTION);
  EXPECT_EQ(calls[1].caption, L"");
}

TEST(DesktopTest, UnscriptedMessageBoxAnswersAsAUserWhoDismissedIt) {
  seams::TakeMessageBoxCalls();
  EXPECT_EQ(ShowMessageBox(L"q", L"c", MB_YESNO | MB_ICONQUESTION), IDNO);
  EXPECT_EQ(ShowMessageBox(L"n", L"c", MB_OK | MB_ICONINFORMATION), IDOK);
  EXPECT_EQ(ShowMessageBox(L"o", L"c", MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(ShowMessageBox(nullptr, nullptr, MB_YESNOCANCEL), IDCANCEL);
  EXPECT_EQ(seams::TakeMessageBoxCalls().size(), 4u);
}

namespace {

// An opener script that records its argument and exits with the given status.
std::string MakeOpener(int status) {
  const std::string dir = ostrel::test::TestRoot();
  const std::string path = dir + "/opener-" + std::to_string(status) + ".sh";
  std::ofstream(path) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << dir << "/opened'\nexit " << status
                      << "\n";
  chmod(path.c_str(), 0700);
  return path;
}

}  // namespace

TEST(DesktopTest, OpenInBrowserHandsTheAddressToTheOpenerAndReportsItsOutcome) {
  seams::SetShellOpenCommand(MakeOpener(0));
  EXPECT_TRUE(OpenInBrowser(L"http://updates.example/zortbho.msi?\u00e9"));
  EXPECT_EQ(ostrel::test::ReadFileBytes(ostrel::test::TestRoot() + "/opened"),
            "http://updates.example/zortbho.msi?\xc3\xa9");

  seams::SetShellOpenCommand(MakeOpener(3));
  EXPECT_FALSE(OpenInBrowser(L"http://a.example/"));
  EXPECT_EQ(reinterpret_cast<INT_PTR>(
                ShellExecuteW(nullptr, L"open", L"IEXPLORE.EXE", L"x", nullptr, SW_SHOW)),
            SE_ERR_NOASSOC);

  seams::SetShellOpenCommand(ostrel::test::TestRoot() + "/no-such-opener");
  EXPECT_FALSE(OpenInBrowser(L"http://a.example/"));
  seams::SetShellOpenCommand("");
}

TEST(DesktopTest, ShellExecuteOpensOnlyAddresses) {
  seams::SetShellOpenCommand(MakeOpener(0));
  EXPECT_EQ(reinterpret_cast<INT_PTR>(
                ShellExecuteW(nullptr, L"open", L"notepad.exe", L"x", nullptr, SW_SHOW)),
            SE_ERR_FNF);
  seams::SetShellOpenCommand("");
}
