// Time stamps in the stored decimal form.
#include <gtest/gtest.h>

#include "support/TimeStamp.h"

TEST(TimeStampTest, WritesTheUtcDateAndTimeAsDecimalDigits) {
  EXPECT_EQ(TimeStampFromUnixSeconds(0), 19700101000000);
  EXPECT_EQ(TimeStampFromUnixSeconds(1106216575), 20050120102255);
  EXPECT_EQ(TimeStampFromUnixSeconds(1109719800 + 3600), 20050302003000);  // over a month end
  EXPECT_EQ(TimeStampFromUnixSeconds(951782400), 20000229000000);          // leap day
  EXPECT_EQ(TimeStampFromUnixSeconds(4102444799), 20991231235959);
  EXPECT_EQ(TimeStampFromUnixSeconds(-1), 19691231235959);
  const LONGLONG now = CurrentTimeStamp();
  EXPECT_GT(now, 20260101000000);
  EXPECT_LT(now, 21000101000000);
}
