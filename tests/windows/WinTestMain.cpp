// Test entry point of the Windows test programs, which run under Wine
// against the operating system's own registry, kernel objects and WinINet.
// Each program gets a private temporary folder (TMP and TEMP, which
// GetTempPathW reads), removed at exit, and each test starts with no
// settings of the filter under HKEY_CURRENT_USER. The programs of one build
// share one Wine prefix, so CTest runs them one at a time. A copy started
// as a child role (WinTestEnv.h) runs only the test it was given, with its
// parent's settings; a run without the flag leaves every child role out.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "windows/WinTestEnv.h"

namespace {

class FreshSettingsPerTest : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override { ostrel::test::DeleteFilterSettings(); }
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  bool childRole = false;
  for (int i = 1; i < argc; ++i)
    childRole = childRole || std::strcmp(argv[i], ostrel::test::kChildRoleFlag) == 0;
  if (!childRole) {
    std::string filter = GTEST_FLAG_GET(filter);
    filter += filter.find('-') == std::string::npos ? "-ChildRole*.*" : ":ChildRole*.*";
    GTEST_FLAG_SET(filter, filter);
  }
  ostrel::test::PrivateTempFolder folder;
  if (!childRole) testing::UnitTest::GetInstance()->listeners().Append(new FreshSettingsPerTest);
  return RUN_ALL_TESTS();
}
