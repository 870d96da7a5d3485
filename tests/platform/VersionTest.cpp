// Conformance of the version query (tests change it through seams elsewhere).
#include <gtest/gtest.h>

#include <cstring>

#include "platform/Testing.h"
#include "platform/Version.h"

namespace seams = ostrel::platform::testing;

TEST(VersionTest, ReportsSixAndChecksTheStructureSize) {
  const unsigned long before = seams::VersionQueryCount();
  OSVERSIONINFOW info;
  std::memset(&info, 0xAB, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(GetVersionExW(&info));
  EXPECT_EQ(info.dwMajorVersion, 6u);
  EXPECT_EQ(info.dwMinorVersion, 1u);
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_EQ(info.szCSDVersion[0], L'\0');

  std::memset(&info, 0xAB, sizeof info);
  info.dwOSVersionInfoSize = sizeof info - 1;
  SetLastError(0xDEADBEEF);
  EXPECT_FALSE(GetVersionExW(&info));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(info.dwMajorVersion, 0xABABABABu);
  EXPECT_EQ(seams::VersionQueryCount() - before, 2u);
}
