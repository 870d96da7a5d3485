// Conformance of critical sections: recursive for the owner, exclusive for
// every other thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/CriticalSection.h"

TEST(CriticalSectionTest, RecursiveForItsOwnerAndExclusiveForOtherThreads) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  auto takenElsewhere = [&] {
    BOOL got = FALSE;
    std::thread([&] {
      got = TryEnterCriticalSection(&section);
      if (got) LeaveCriticalSection(&section);
    }).join();
    return !got;
  };
  EnterCriticalSection(&section);
  EXPECT_TRUE(TryEnterCriticalSection(&section));
  EXPECT_TRUE(takenElsewhere());
  std::thread([&] { LeaveCriticalSection(&section); }).join();  // not the owner's to leave
  EXPECT_TRUE(takenElsewhere());
  LeaveCriticalSection(&section);
  EXPECT_TRUE(takenElsewhere());  // entered twice, left once

  std::atomic<bool> entered{false};
  std::thread blocked([&] {
    EnterCriticalSection(&section);
    entered = true;
    LeaveCriticalSection(&section);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(entered);
  LeaveCriticalSection(&section);
  blocked.join();
  EXPECT_TRUE(entered);
  EXPECT_FALSE(takenElsewhere());
  DeleteCriticalSection(&section);
}
