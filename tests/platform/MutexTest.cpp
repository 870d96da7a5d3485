// Conformance of mutexes: thread ownership and recursion, exclusion between
// processes, and abandonment by a thread that ended or a process killed.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "common/ChildProcess.h"
#include "platform/Event.h"
#include "platform/Mutex.h"
#include "platform/Testing.h"
#include "platform/Thread.h"
#include "platform/Wait.h"

using ostrel::platform::testing::KernelObjectWaits;
using ostrel::test::ChildProcess;
using ostrel::test::Eventually;

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

void OnOtherThread(const std::function<void()>& fn) { std::thread(fn).join(); }

DWORD NotOwnerError(HANDLE m) {
  SetLastError(kSentinel);
  return ReleaseMutex(m) ? ERROR_SUCCESS : GetLastError();
}

std::uint32_t Next(ChildProcess& child) {
  std::uint32_t value = kSentinel;
  return child.Receive(&value) ? value : kSentinel;
}

// Holds the thread's end back after its routine returned, as a slow exit would.
std::atomic<bool> g_holdExit{false};
struct ExitBrake {
  ~ExitBrake() {
    Eventually([] { return !g_holdExit.load(); }, 5000);
  }
};
thread_local ExitBrake t_brake;

DWORD WINAPI TakeAndReturn(LPVOID mutex) {
  (void)&t_brake;
  return WaitForSingleObject(static_cast<HANDLE>(mutex), 0);
}

}  // namespace

TEST(MutexTest, OwnershipBelongsToOneThreadIsRecursiveAndOpeningTakesNothing) {
  const wchar_t* name = L"ostrel-test-owned";
  HANDLE m = CreateMutexW(nullptr, TRUE, name);
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);  // twice now
  OnOtherThread([&] {
    EXPECT_EQ(WaitForSingleObject(m, 60), WAIT_TIMEOUT);
    EXPECT_EQ(NotOwnerError(m), ERROR_NOT_OWNER);
    HANDLE opened = CreateMutexW(nullptr, TRUE, name);  // opened, not taken
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(NotOwnerError(opened), ERROR_NOT_OWNER);
    EXPECT_TRUE(CloseHandle(opened));
  });
  EXPECT_TRUE(ReleaseMutex(m));
  OnOtherThread([&] { EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_TIMEOUT); });  // one level left
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_EQ(NotOwnerError(m), ERROR_NOT_OWNER);

  // Closing the last handle ends the mutex even while it is owned.
  ASSERT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(m));
  HANDLE fresh = CreateMutexW(nullptr, FALSE, name);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  OnOtherThread([&] { EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_OBJECT_0); });
  EXPECT_TRUE(CloseHandle(fresh));
}

TEST(MutexTest, ProcessesExcludeEachOtherAndAKilledOneLeavesItAbandonedAndUnmarked) {
  const wchar_t* name = L"ostrel-test-exclusive";
  HANDLE m = CreateMutexW(nullptr, TRUE, name);
  auto openAndWait = [name](DWORD timeout) {
    return [name, timeout](ChildProcess& self) {
      HANDLE mine = CreateMutexW(nullptr, FALSE, name);
      self.Send(GetLastError());
      self.Send(WaitForSingleObject(mine, timeout));
      std::uint32_t never;
      self.Receive(&never, -1);  // holds what it got until killed
      return 0;
    };
  };
  ChildProcess late(openAndWait(100));
  EXPECT_EQ(Next(late), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(Next(late), WAIT_TIMEOUT);

  // A waiter killed while it waits leaves no mark that keeps the mutex alive.
  ChildProcess doomed(openAndWait(INFINITE));
  EXPECT_EQ(Next(doomed), ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(Eventually([&] { return KernelObjectWaits(m) == 1; }));
  doomed.Kill();
  ChildProcess owner(openAndWait(INFINITE));
  EXPECT_EQ(Next(owner), ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(Eventually([&] { return KernelObjectWaits(m) == 1; }));
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_EQ(Next(owner), WAIT_OBJECT_0);

  // Killed while owning it: the next waiter gets it abandoned, once.
  std::thread killer([&] {
    Eventually([&] { return KernelObjectWaits(m) == 1; });
    owner.Kill();
  });
  EXPECT_EQ(WaitForSingleObject(m, 10000), WAIT_ABANDONED);
  killer.join();
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_TRUE(CloseHandle(m));
  late.Kill();
  HANDLE again = CreateMutexW(nullptr, FALSE, name);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_TRUE(CloseHandle(again));
}

TEST(MutexTest, TheMutexOfAThreadThatEndedIsAbandonedBeforeItsHandleIsSignalled) {
  HANDLE m = CreateMutexW(nullptr, FALSE, nullptr);
  OnOtherThread([&] {
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);  // ends holding it twice
  });
  EXPECT_EQ(WaitForSingleObject(m, 10000), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_EQ(NotOwnerError(m), ERROR_NOT_OWNER);  // at one level: the dead thread's are gone

  // Whoever sees a thread's handle signalled finds its mutexes abandoned,
  // however long the thread takes to finish ending.
  g_holdExit = true;
  HANDLE thread = CreateThread(nullptr, 0, TakeAndReturn, m, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_ABANDONED);
  g_holdExit = false;
  EXPECT_TRUE(ReleaseMutex(m));
  for (HANDLE h : {m, thread}) EXPECT_TRUE(CloseHandle(h));
}

namespace {

struct ForkingThread {
  HANDLE mutex;
  std::unique_ptr<ChildProcess> child;
};

// Takes and gives back the mutex, then forks a child that takes it, and
// ends once the child owns it.
DWORD WINAPI ForkAChildOwner(LPVOID context) {
  auto* self = static_cast<ForkingThread*>(context);
  if (WaitForSingleObject(self->mutex, 0) != WAIT_OBJECT_0 || !ReleaseMutex(self->mutex)) return 1;
  self->child = std::make_unique<ChildProcess>([m = self->mutex](ChildProcess& child) -> int {
    std::uint32_t go = 0;
    if (WaitForSingleObject(m, 0) != WAIT_OBJECT_0 || !child.Send(1) || !child.Receive(&go))
      return 10;
    return ReleaseMutex(m) ? 0 : 11;
  });
  return Next(*self->child) == 1 ? 0 : 2;
}

}  // namespace

// A child forked by a thread owns what it takes as itself, not as the
// thread that forked it: that thread's end abandons nothing of the child's.
TEST(MutexTest, AChildForkedByAThreadOwnsItsMutexesAsItself) {
  ForkingThread forking{CreateMutexW(nullptr, FALSE, L"ostrel-test-forked-owner"), nullptr};
  HANDLE thread = CreateThread(nullptr, 0, ForkAChildOwner, &forking, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  DWORD code = 1;
  EXPECT_TRUE(GetExitCodeThread(thread, &code) && code == 0);
  ASSERT_TRUE(forking.child && forking.child->Send(1));
  EXPECT_EQ(forking.child->Wait(), 0);
  EXPECT_EQ(WaitForSingleObject(forking.mutex, 0), WAIT_OBJECT_0);  // given back, not abandoned
  EXPECT_TRUE(ReleaseMutex(forking.mutex));
  EXPECT_TRUE(CloseHandle(thread) && CloseHandle(forking.mutex));
}
