// Conformance of threads: suspended creation, the suspend count, exit codes,
// priorities, and what a process that inherited the handle may do.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/ChildProcess.h"
#include "platform/Event.h"
#include "platform/Testing.h"
#include "platform/Thread.h"
#include "platform/Wait.h"

using ostrel::platform::testing::KernelObjectWaits;
using ostrel::test::ChildProcess;
using ostrel::test::Eventually;

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

struct Probe {
  HANDLE go = nullptr;  // waited for first, when set
  std::atomic<bool> ran{false};
  std::atomic<DWORD> tid{0};
};

DWORD WINAPI RecordAndReturn7(LPVOID parameter) {
  auto* probe = static_cast<Probe*>(parameter);
  if (probe->go) WaitForSingleObject(probe->go, INFINITE);
  probe->tid = static_cast<DWORD>(syscall(SYS_gettid));
  probe->ran = true;
  return 7;
}

struct Spinner {
  std::atomic<bool> stop{false};
  std::atomic<unsigned long> count{0};
};

DWORD WINAPI Spin(LPVOID parameter) {
  auto* spinner = static_cast<Spinner*>(parameter);
  while (!spinner->stop) ++spinner->count;
  return 0;
}

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }

}  // namespace

TEST(ThreadTest, ACreatedSuspendedThreadRunsOnlyOnceResumed) {
  Probe probe;
  DWORD id = kSentinel;
  HANDLE thread = CreateThread(nullptr, 256 * 1024, RecordAndReturn7, &probe, CREATE_SUSPENDED, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, kSentinel);
  EXPECT_NE(id, 0u);
  DWORD code = kSentinel;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread, 50), WAIT_TIMEOUT);
  EXPECT_FALSE(probe.ran);

  EXPECT_EQ(SuspendThread(thread), 1u);  // counts stack up
  EXPECT_EQ(ResumeThread(thread), 2u);
  EXPECT_FALSE(probe.ran);
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(probe.ran);
  EXPECT_EQ(probe.tid, id);
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(ResumeThread(thread), 0u);
  SetLastError(kSentinel);
  EXPECT_EQ(SuspendThread(thread), 0xFFFFFFFFu);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(CloseHandle(thread));

  // Closing the handle does not stop the thread.
  Probe closedEarly;
  HANDLE gone = CreateThread(nullptr, 0, RecordAndReturn7, &closedEarly, 0, nullptr);
  ASSERT_NE(gone, nullptr);
  EXPECT_TRUE(CloseHandle(gone));
  EXPECT_TRUE(Eventually([&] { return closedEarly.ran.load(); }));

  SetLastError(kSentinel);
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(ThreadTest, SuspendStopsARunningThreadWhereverItIsUntilResumed) {
  Spinner spinner;
  HANDLE spinning = CreateThread(nullptr, 0, Spin, &spinner, 0, nullptr);
  ASSERT_NE(spinning, nullptr);
  EXPECT_TRUE(Eventually([&] { return spinner.count > 0; }));
  EXPECT_EQ(SuspendThread(spinning), 0u);
  EXPECT_EQ(SuspendThread(spinning), 1u);
  const unsigned long frozen = spinner.count;
  Pause();
  EXPECT_EQ(spinner.count, frozen);
  EXPECT_EQ(ResumeThread(spinning), 2u);
  Pause();
  EXPECT_EQ(spinner.count, frozen);  // still suspended once
  EXPECT_EQ(ResumeThread(spinning), 1u);
  EXPECT_TRUE(Eventually([&] { return spinner.count > frozen; }));
  spinner.stop = true;
  EXPECT_EQ(WaitForSingleObject(spinning, 10000), WAIT_OBJECT_0);

  // Suspended inside a wait, it does not go on when the wait is satisfied.
  Probe probe;
  probe.go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE waiting = CreateThread(nullptr, 0, RecordAndReturn7, &probe, 0, nullptr);
  EXPECT_TRUE(Eventually([&] { return KernelObjectWaits(probe.go) == 1; }));
  EXPECT_EQ(SuspendThread(waiting), 0u);
  EXPECT_TRUE(SetEvent(probe.go));
  Pause();
  EXPECT_FALSE(probe.ran);
  EXPECT_EQ(ResumeThread(waiting), 1u);
  EXPECT_EQ(WaitForSingleObject(waiting, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(probe.ran);
  for (HANDLE h : {spinning, waiting, probe.go}) EXPECT_TRUE(CloseHandle(h));
}

TEST(ThreadTest, PriorityIsKeptAndAnotherProcessMayOnlyWaitAndAsk) {
  Probe probe;
  probe.go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, RecordAndReturn7, &probe, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_NORMAL);
  for (int p : {THREAD_PRIORITY_IDLE, THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_BELOW_NORMAL,
                THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                THREAD_PRIORITY_TIME_CRITICAL, THREAD_PRIORITY_NORMAL}) {
    EXPECT_TRUE(SetThreadPriority(thread, p));
    EXPECT_EQ(GetThreadPriority(thread), p);
  }
  SetLastError(kSentinel);
  EXPECT_FALSE(SetThreadPriority(thread, 3));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_NORMAL);

  // An event is not a thread.
  SetLastError(kSentinel);
  EXPECT_EQ(GetThreadPriority(probe.go), THREAD_PRIORITY_ERROR_RETURN);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  DWORD code = kSentinel;
  EXPECT_FALSE(GetExitCodeThread(probe.go, &code));
  EXPECT_EQ(code, kSentinel);
  EXPECT_EQ(ResumeThread(probe.go), 0xFFFFFFFFu);

  ChildProcess child([&](ChildProcess& self) {
    self.Send(SuspendThread(thread));
    self.Send(GetLastError());
    self.Send(ResumeThread(thread));
    self.Send(SetThreadPriority(thread, THREAD_PRIORITY_LOWEST));
    DWORD childCode = kSentinel;
    self.Send(GetExitCodeThread(thread, &childCode));
    self.Send(childCode);
    return 0;
  });
  const std::uint32_t expected[] = {0xFFFFFFFFu, ERROR_ACCESS_DENIED, 0xFFFFFFFFu, FALSE, TRUE,
                                    STILL_ACTIVE};
  for (std::uint32_t want : expected) {
    std::uint32_t value = kSentinel;
    ASSERT_TRUE(child.Receive(&value));
    EXPECT_EQ(value, want);
  }
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_TRUE(SetEvent(probe.go));
  EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  for (HANDLE h : {thread, probe.go}) EXPECT_TRUE(CloseHandle(h));
}
