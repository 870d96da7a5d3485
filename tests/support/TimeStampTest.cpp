// Time stamps in the stored decimal form.
#include <gtest/gtest.h>

#include <chrono>

#include "support/TimeStamp.h"

TEST(TimeStampTest, WritesTheUtcDateAndTimeAsDecimalDigits) {
  EXPECT_EQ(TimeStampFromUnixSeconds(0), 19700101000000);
  EXPECT_EQ(TimeStampFromUnixSeconds(1106216575), 20050120102255);
  EXPECT_EQ(TimeStampFromUnixSeconds(1109719800 + 3600), 20050302003000);  // over a month end
  EXPECT_EQ(TimeStampFromUnixSeconds(951782400), 20000229000000);          // leap day
  EXPECT_EQ(TimeStampFromUnixSeconds(4102444799), 20991231235959);
  EXPECT_EQ(TimeStampFromUnixSeconds(-1), 19691231235959);
}

TEST(TimeStampTest, CurrentTimeIsTheSystemClockInUtc) {
  const auto unixNow = [] {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  };
  const LONGLONG before = TimeStampFromUnixSeconds(unixNow());
  const LONGLONG now = CurrentTimeStamp();
  const LONGLONG after = TimeStampFromUnixSeconds(unixNow());
  EXPECT_LE(before, now);
  EXPECT_LE(now, after);
}
