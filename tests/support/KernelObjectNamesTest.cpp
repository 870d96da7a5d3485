// The "Global\" naming rule of the kernel-object wrappers over the
// version query, which the platform's test seam scripts, and the Linux
// stand-in's own name limit (Windows takes longer names).
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/Raised.h"
#include "platform/Testing.h"
#include "support/Exception.h"
#include "support/KernelObjects.h"

namespace seams = ostrel::platform::testing;

namespace {

class KernelObjectNamesTest : public ::testing::Test {
 protected:
  void TearDown() override {
    seams::SetReportedWindowsVersion(6, 1);
    seams::SetVersionQueryFails(false);
  }
};

using ostrel::test::Raised;

}  // namespace

TEST_F(KernelObjectNamesTest, MakeNameAddsGlobalOnlyToPlainGlobalNamesOnVersionFive) {
  struct Case {
    const wchar_t* name;
    bool global;
    DWORD major;
    const wchar_t* expected;
    bool queries;
  };
  const Case cases[] = {
      {L"_X", true, 5, L"Global\\_X", true},
      {L"_X", true, 6, L"_X", true},
      {L"_X", true, 4, L"_X", true},
      {L"Local\\_X", true, 5, L"Local\\_X", false},
      {L"Global\\_X", true, 5, L"Global\\_X", false},
      {L"global\\_X", true, 5, L"Global\\global\\_X", true},  // prefixes are case-sensitive
      {L"_X", false, 5, L"_X", false},
      {L"", true, 5, L"", false},
  };
  for (const Case& c : cases) {
    seams::SetReportedWindowsVersion(c.major, 0);
    const unsigned long before = seams::VersionQueryCount();
    EXPECT_EQ(CSyncObject::MakeName(c.name, c.global), c.expected) << c.name << " v" << c.major;
    EXPECT_EQ(seams::VersionQueryCount() - before, c.queries ? 1u : 0u) << c.name;
  }
}

TEST_F(KernelObjectNamesTest, AFailedVersionQueryFailsTheCreationOfGlobalNamedObjects) {
  seams::SetVersionQueryFails(true);
  const std::wstring version =
      L"Unable to verify Windows version when creating thread synchronisation object";
  EXPECT_EQ(Raised([] { CEvent event(false, false, L"_KO_NAMED", true); }), version);
  EXPECT_EQ(Raised([] { CMutex mutex(false, L"_KO_NAMED", true); }), version);
  EXPECT_EQ(Raised([] {
              CEvent event(false, true, L"", true);  // unnamed: no version needed
              CMutex mutex(false, L"", true);
            }),
            L"(nothing raised)");
}

TEST_F(KernelObjectNamesTest, TheStandInRefusesANameLongerThanAPath) {
  EXPECT_EQ(Raised([] { CEvent event(false, false, std::wstring(300, L'n')); }),
            L"Unable to create event object");
}
