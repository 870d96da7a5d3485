// Settings over the Linux registry store: a store that is damaged, and one
// that processes share.
#include <gtest/gtest.h>

#include <string>

#include "common/TestEnv.h"
#include "settings/Settings.h"

namespace {

std::string StorePath() { return ostrel::test::TestRoot() + "/config/ostrel/registry.db"; }

}  // namespace

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
