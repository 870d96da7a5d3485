// Conformance of threads: suspended creation, the suspend count of a running
// thread, exit codes, priorities, and what a process that inherited the
// handle may do.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/ChildProcess.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "platform/Wait.h"

using ostrel::test::ChildProcess;
using ostrel::test::Eventually;

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

struct Probe {
  std::atomic<bool> stop{false};
  std::atomic<unsigned long> count{0};
  std::atomic<DWORD> tid{0};
};

DWORD WINAPI Spin(LPVOID parameter) {
  auto* probe = static_cast<Probe*>(parameter);
  while (!probe->stop) ++probe->count;
  probe->tid = static_cast<DWORD>(syscall(SYS_gettid));
  return 7;
}

}  // namespace

TEST(ThreadTest, SuspendCountsExitCodesAndWhatOtherProcessesMayDo) {
  Probe probe;
  DWORD id = kSentinel;
  HANDLE thread = CreateThread(nullptr, 256 * 1024, Spin, &probe, CREATE_SUSPENDED, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 50), WAIT_TIMEOUT);
  EXPECT_EQ(probe.count, 0u);            // held at its start
  EXPECT_EQ(SuspendThread(thread), 1u);  // counts stack up
  EXPECT_EQ(ResumeThread(thread), 2u);

  // Priorities are kept; only the owning process may change them or suspend.
  EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_IDLE));
  EXPECT_FALSE(SetThreadPriority(thread, 3));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  ChildProcess child([&](ChildProcess& self) {
    self.Send(SuspendThread(thread));
    self.Send(GetLastError());
    self.Send(ResumeThread(thread));
    self.Send(SetThreadPriority(thread, THREAD_PRIORITY_LOWEST));
    DWORD childCode = kSentinel;
    self.Send(GetExitCodeThread(thread, &childCode));
    self.Send(childCode);
    self.Send(static_cast<std::uint32_t>(GetThreadPriority(thread)));
    return 0;
  });
  const std::uint32_t idle = static_cast<std::uint32_t>(THREAD_PRIORITY_IDLE);
  for (std::uint32_t want :
       {0xFFFFFFFFu, ERROR_ACCESS_DENIED, 0xFFFFFFFFu, 0u, 1u, STILL_ACTIVE, idle}) {
    std::uint32_t value = kSentinel;
    ASSERT_TRUE(child.Receive(&value));
    EXPECT_EQ(value, want);
  }

  // Running, it stops wherever it is until resumed as often as suspended.
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_TRUE(Eventually([&] { return probe.count > 0; }));
  EXPECT_EQ(SuspendThread(thread), 0u);
  EXPECT_EQ(SuspendThread(thread), 1u);
  const unsigned long frozen = probe.count;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(probe.count, frozen);
  EXPECT_EQ(ResumeThread(thread), 2u);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(probe.count, frozen);
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_TRUE(Eventually([&] { return probe.count > frozen; }));

  probe.stop = true;
  EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(probe.tid, id);
  DWORD code = kSentinel;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(SuspendThread(thread), 0xFFFFFFFFu);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(CloseHandle(thread));
}
