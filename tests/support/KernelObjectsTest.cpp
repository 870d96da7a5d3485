// The kernel-object wrappers: creation failures, the thread's quit event
// and status words, waits on several objects, and the scoped locks. Built
// for Windows too, against the system's own kernel objects.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "common/Raised.h"
#include "support/Exception.h"
#include "support/KernelObjects.h"

namespace {

using ostrel::test::Raised;

// Ends once its thread's quit event and then its release event are set.
struct Gate {
  CThread* thread = nullptr;
  CEvent release{false, true};
};

DWORD WINAPI PassTheGate(LPVOID parameter) {
  auto* gate = static_cast<Gate*>(parameter);
  gate->thread->GetQuitEvent().Wait(INFINITE);
  gate->release.Wait(INFINITE);
  return 5;
}

}  // namespace

// A name another kind of object holds is refused, as is a stack no thread
// can have.
TEST(KernelObjectsTest, CreationFailuresRaiseTheirMessages) {
  CMutex mutexHolder(false, L"_KO_TAKEN_BY_MUTEX");
  EXPECT_EQ(Raised([] { CEvent event(false, false, L"_KO_TAKEN_BY_MUTEX"); }),
            L"Unable to create event object");
  CEvent eventHolder(false, false, L"_KO_TAKEN");
  EXPECT_EQ(Raised([] { CMutex mutex(false, L"_KO_TAKEN"); }), L"Unable to create mutex object");
  EXPECT_EQ(Raised([] { CThread thread(PassTheGate, nullptr, 0, SIZE_T(1) << 50); }),
            L"Unable to create thread object");
}

TEST(KernelObjectsTest, ThreadStopSignalsTheQuitEventAndRecordsTheTwoStatusWords) {
  Gate gate;
  CThread thread(PassTheGate, &gate, THREAD_PRIORITY_BELOW_NORMAL, 0, CREATE_SUSPENDED);
  gate.thread = &thread;
  EXPECT_EQ(thread.GetPriority(), THREAD_PRIORITY_BELOW_NORMAL);
  EXPECT_EQ(thread.GetWaitResult(), 0xFFFFFFFFu);
  EXPECT_EQ(thread.GetExitCode(), 0xFFFFFFFFu);
  EXPECT_TRUE(thread.Start());
  EXPECT_TRUE(thread.Start());  // no longer suspended: not a failure
  thread.Stop(50);              // does not end in time: 0, and still active
  EXPECT_EQ(thread.GetWaitResult(), 0u);
  EXPECT_EQ(thread.GetExitCode(), STILL_ACTIVE);
  EXPECT_TRUE(gate.release.Set());
  thread.Stop(INFINITE);
  EXPECT_EQ(thread.GetWaitResult(), 1u);
  EXPECT_EQ(thread.GetExitCode(), 5u);
  thread.Stop(0);  // an ended thread
  EXPECT_EQ(thread.GetWaitResult(), 1u);
}

TEST(KernelObjectsTest, WaitsKeepIndicesAndNullEntriesAndOwnedHandles) {
  CWaitMultiObj empty, two;
  CEvent e0;
  two.Add(nullptr);  // keeps its place: the platform sees a null handle
  two.Add(&e0);
  SetLastError(0xDEADBEEF);
  EXPECT_EQ(empty.WaitAny(0), 0xFFFFFFFFu);
  EXPECT_EQ(GetLastError(), 0xDEADBEEFu);  // the platform was not asked
  EXPECT_TRUE(e0.Set());
  EXPECT_EQ(two.WaitAny(0), WAIT_FAILED);
  EXPECT_EQ(CWaitSingleObj(e0, 0).Wait(), WAIT_OBJECT_0);
  HANDLE raw = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  { CWaitSingleObj owner(raw, 0); }
  EXPECT_EQ(WaitForSingleObject(raw, 0), WAIT_FAILED);  // closed with its owner
}

TEST(KernelObjectsTest, ScopedLocksReleaseOnEveryPathAndHoldAnAbandonedMutex) {
  CMutex mutex(false, L"_KO_MUTEX", true);
  auto freeElsewhere = [] {
    DWORD result = 0xDEADBEEF;
    std::thread([&] {
      CMutex other(false, L"_KO_MUTEX", true);
      if ((result = other.Lock(0)) == WAIT_OBJECT_0) other.Unlock();
    }).join();
    return result == WAIT_OBJECT_0;
  };
  try {
    CMutexLock lock(mutex);
    EXPECT_FALSE(freeElsewhere());
    throw 1;
  } catch (int) {
  }
  EXPECT_TRUE(freeElsewhere());
  std::thread([] { CMutex(false, L"_KO_MUTEX", true).Lock(INFINITE); }).join();  // ends holding it
  {
    CMutexLock lock(mutex);
    EXPECT_TRUE(lock.Owns());
    EXPECT_TRUE(lock.IsAbandoned());
    EXPECT_FALSE(freeElsewhere());
  }
  EXPECT_TRUE(freeElsewhere());
}
