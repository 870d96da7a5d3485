// Conformance of mutexes: thread ownership and recursion, exclusion between
// processes, and abandonment by a thread that ended or a process killed.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "common/ChildProcess.h"
#include "platform/Event.h"
#include "platform/Mutex.h"
#include "platform/Testing.h"
#include "platform/Wait.h"

using ostrel::platform::testing::KernelObjectWaits;
using ostrel::test::ChildProcess;
using ostrel::test::Eventually;

namespace {
constexpr DWORD kSentinel = 0xDEADBEEF;

void OnOtherThread(const std::function<void()>& fn) { std::thread(fn).join(); }
}  // namespace

TEST(MutexTest, OwnershipBelongsToOneThreadAndIsRecursive) {
  HANDLE m = CreateMutexW(nullptr, FALSE, nullptr);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  OnOtherThread([&] {
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_TIMEOUT);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(m, 60), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
    SetLastError(kSentinel);
    EXPECT_FALSE(ReleaseMutex(m));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  });
  EXPECT_TRUE(ReleaseMutex(m));
  OnOtherThread([&] { EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_TIMEOUT); });  // one level left
  EXPECT_TRUE(ReleaseMutex(m));
  SetLastError(kSentinel);
  EXPECT_FALSE(ReleaseMutex(m));
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);

  // A thread blocked on it gets it when the owner lets go.
  ASSERT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  DWORD result = kSentinel;
  std::thread waiter([&] {
    result = WaitForSingleObject(m, INFINITE);
    ReleaseMutex(m);
  });
  EXPECT_TRUE(Eventually([&] { return KernelObjectWaits(m) == 1; }));
  EXPECT_TRUE(ReleaseMutex(m));
  waiter.join();
  EXPECT_EQ(result, WAIT_OBJECT_0);

  // A mutex cannot be one of several objects waited on.
  HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  const HANDLE both[] = {event, m};
  SetLastError(kSentinel);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(CloseHandle(event));
  EXPECT_TRUE(CloseHandle(m));
}

TEST(MutexTest, AnInitialOwnerOwnsANewMutexButOpeningAnExistingOneTakesNothing) {
  const wchar_t* name = L"ostrel-test-initial-owner";
  SetLastError(kSentinel);
  HANDLE m = CreateMutexW(nullptr, TRUE, name);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  OnOtherThread([&] {
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_TIMEOUT);
    SetLastError(kSentinel);
    HANDLE opened = CreateMutexW(nullptr, TRUE, name);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(ReleaseMutex(opened));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    EXPECT_TRUE(CloseHandle(opened));
  });
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_FALSE(ReleaseMutex(m));

  // Closing the last handle ends the mutex even while it is owned.
  ASSERT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(m));
  SetLastError(kSentinel);
  HANDLE fresh = CreateMutexW(nullptr, FALSE, name);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  OnOtherThread([&] {
    EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(fresh));
  });
  EXPECT_TRUE(CloseHandle(fresh));
}

TEST(MutexTest, ANamedMutexHeldByOneProcessExcludesAnother) {
  const wchar_t* name = L"ostrel-test-exclusive";
  HANDLE m = CreateMutexW(nullptr, FALSE, name);
  ASSERT_EQ(WaitForSingleObject(m, INFINITE), WAIT_OBJECT_0);
  ChildProcess child([&](ChildProcess& self) {
    HANDLE mine = CreateMutexW(nullptr, FALSE, name);
    self.Send(GetLastError());
    self.Send(WaitForSingleObject(mine, 0));
    self.Send(WaitForSingleObject(mine, 100));
    self.Send(WaitForSingleObject(mine, INFINITE));  // once the parent releases it
    std::uint32_t go;
    self.Receive(&go);
    self.Send(ReleaseMutex(mine));
    return 0;
  });
  std::uint32_t value = kSentinel;
  ASSERT_TRUE(child.Receive(&value));
  EXPECT_EQ(value, ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(child.Receive(&value));
  EXPECT_EQ(value, WAIT_TIMEOUT);
  ASSERT_TRUE(child.Receive(&value));
  EXPECT_EQ(value, WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(m));
  ASSERT_TRUE(child.Receive(&value));
  EXPECT_EQ(value, WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_TIMEOUT);  // the child's now
  child.Send(1);
  ASSERT_TRUE(child.Receive(&value));
  EXPECT_EQ(value, static_cast<std::uint32_t>(TRUE));
  EXPECT_EQ(WaitForSingleObject(m, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_TRUE(CloseHandle(m));
}

TEST(MutexTest, TheMutexOfAKilledProcessGoesToTheNextWaiterAsAbandoned) {
  const wchar_t* name = L"ostrel-test-killed-owner";
  ChildProcess owner([&](ChildProcess& self) {
    HANDLE m = CreateMutexW(nullptr, FALSE, name);
    self.Send(WaitForSingleObject(m, INFINITE));
    std::uint32_t never;
    self.Receive(&never, -1);  // holds it until killed
    return 0;
  });
  std::uint32_t value = kSentinel;
  ASSERT_TRUE(owner.Receive(&value));
  ASSERT_EQ(value, WAIT_OBJECT_0);
  HANDLE m = CreateMutexW(nullptr, FALSE, name);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  ChildProcess next([&](ChildProcess& self) {
    self.Send(WaitForSingleObject(m, INFINITE));
    self.Send(ReleaseMutex(m));
    return 0;
  });
  ASSERT_TRUE(Eventually([&] { return KernelObjectWaits(m) == 1; }));
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_TIMEOUT);
  owner.Kill();
  ASSERT_TRUE(next.Receive(&value));
  EXPECT_EQ(value, WAIT_ABANDONED);
  ASSERT_TRUE(next.Receive(&value));
  EXPECT_EQ(value, static_cast<std::uint32_t>(TRUE));  // the waiter owned it
  // Abandonment is reported once; then it is an ordinary mutex again.
  EXPECT_EQ(WaitForSingleObject(m, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_TRUE(CloseHandle(m));
}

TEST(MutexTest, TheMutexOfAThreadThatEndedIsAbandoned) {
  HANDLE m = CreateMutexW(nullptr, FALSE, L"ostrel-test-dead-thread");
  OnOtherThread([&] {
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);  // ends holding it twice
  });
  EXPECT_EQ(WaitForSingleObject(m, 10000), WAIT_ABANDONED);
  // Ours now, at one level: the dead thread's recursion is gone.
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_TRUE(ReleaseMutex(m));
  SetLastError(kSentinel);
  EXPECT_FALSE(ReleaseMutex(m));
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);

  // A waiter already blocked when the owner ends is woken with it.
  HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread owner([&] {
    WaitForSingleObject(m, INFINITE);
    SetEvent(held);
    Eventually([&] { return KernelObjectWaits(m) == 1; });
  });
  EXPECT_EQ(WaitForSingleObject(held, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(m, 10000), WAIT_ABANDONED);
  owner.join();
  EXPECT_TRUE(ReleaseMutex(m));
  OnOtherThread([&] {
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(m));
  });
  EXPECT_TRUE(CloseHandle(held));
  EXPECT_TRUE(CloseHandle(m));
}
