// Test entry point of the Windows test programs, which run under Wine
// against the operating system's own registry, kernel objects and WinINet.
// Each program gets a private temporary folder (TMP and TEMP, which
// GetTempPathW reads), removed at exit, and each test starts with no
// settings of the filter under HKEY_CURRENT_USER. The programs of one build
// share one Wine prefix, so CTest runs them one at a time.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "windows/WinTestEnv.h"

namespace {

class FreshSettingsPerTest : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override { ostrel::test::DeleteFilterSettings(); }
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  ostrel::test::PrivateTempFolder folder;
  testing::UnitTest::GetInstance()->listeners().Append(new FreshSettingsPerTest);
  return RUN_ALL_TESTS();
}
