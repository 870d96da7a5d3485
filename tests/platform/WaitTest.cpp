// Conformance of waits on several objects: which index is returned, what a
// satisfied wait takes, threads mixed with events, and refused arguments.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

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

DWORD WINAPI WaitThenReturn42(LPVOID event) {
  WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
  return 42;
}

}  // namespace

TEST(WaitTest, WaitingForAnyOfThreeReturnsTheIndexOfTheSignalledOne) {
  HANDLE e[3];
  for (HANDLE& h : e) ASSERT_NE(h = CreateEventW(nullptr, FALSE, FALSE, nullptr), nullptr);
  EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 0), WAIT_TIMEOUT);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 80), WAIT_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(80));

  // Another process signals the third while this one waits.
  ChildProcess child([&](ChildProcess&) {
    if (!Eventually([&] { return KernelObjectWaits(e[2]) == 1; })) return 2;
    return SetEvent(e[2]) ? 0 : 1;
  });
  EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 10000), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 0), WAIT_TIMEOUT);  // that signal was taken

  // With several signalled, the lowest index wins and only it is taken.
  EXPECT_TRUE(SetEvent(e[2]));
  EXPECT_TRUE(SetEvent(e[1]));
  EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 0), WAIT_TIMEOUT);
  for (HANDLE h : e) EXPECT_TRUE(CloseHandle(h));
}

TEST(WaitTest, WaitingForAllNeedsEveryObjectAtOnceAndTakesThemTogether) {
  HANDLE e[2];
  for (HANDLE& h : e) ASSERT_NE(h = CreateEventW(nullptr, FALSE, FALSE, nullptr), nullptr);
  EXPECT_TRUE(SetEvent(e[0]));
  EXPECT_EQ(WaitForMultipleObjects(2, e, TRUE, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(e[0], 0), WAIT_OBJECT_0);  // the failed wait took nothing

  EXPECT_TRUE(SetEvent(e[0]));
  DWORD result = kSentinel;
  std::thread waiter([&] { result = WaitForMultipleObjects(2, e, TRUE, 10000); });
  EXPECT_TRUE(Eventually([&] { return KernelObjectWaits(e[1]) == 1; }));
  EXPECT_TRUE(SetEvent(e[1]));
  waiter.join();
  EXPECT_EQ(result, WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(2, e, FALSE, 0), WAIT_TIMEOUT);

  // One object twice: refused when waiting for all, fine for any.
  const HANDLE twice[] = {e[0], e[0]};
  SetLastError(kSentinel);
  EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(SetEvent(e[0]));
  EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0);
  for (HANDLE h : e) EXPECT_TRUE(CloseHandle(h));
}

TEST(WaitTest, AThreadIsSignalledAtItsEndForWaitersInAnyProcess) {
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, WaitThenReturn42, go, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  const HANDLE both[] = {never, thread};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);

  ChildProcess child([&](ChildProcess& self) {
    self.Send(WaitForMultipleObjects(2, both, FALSE, 10000));
    DWORD code = kSentinel;
    GetExitCodeThread(thread, &code);
    self.Send(code);
    return 0;
  });
  ASSERT_TRUE(Eventually([&] { return KernelObjectWaits(thread) == 1; }));
  EXPECT_TRUE(SetEvent(go));
  std::uint32_t value = kSentinel;
  ASSERT_TRUE(child.Receive(&value));
  EXPECT_EQ(value, WAIT_OBJECT_0 + 1);
  ASSERT_TRUE(child.Receive(&value));
  EXPECT_EQ(value, 42u);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // and stays signalled
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  for (HANDLE h : {go, never, thread}) EXPECT_TRUE(CloseHandle(h));
}

TEST(WaitTest, RefusedArgumentsFailWithTheirErrors) {
  HANDLE e = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  HANDLE closed = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  ASSERT_TRUE(CloseHandle(closed));
  struct Case {
    std::vector<HANDLE> handles;
    DWORD error;
  };
  const Case cases[] = {
      {{}, ERROR_INVALID_PARAMETER},
      {std::vector<HANDLE>(MAXIMUM_WAIT_OBJECTS + 1, e), ERROR_INVALID_PARAMETER},
      {{e, nullptr}, ERROR_INVALID_HANDLE},
      {{e, closed}, ERROR_INVALID_HANDLE},
      {{reinterpret_cast<HANDLE>(0x1235)}, ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    SetLastError(kSentinel);
    EXPECT_EQ(WaitForMultipleObjects(static_cast<DWORD>(c.handles.size()), c.handles.data(), FALSE, 0),
              WAIT_FAILED);
    EXPECT_EQ(GetLastError(), c.error) << c.handles.size();
  }
  SetLastError(kSentinel);
  EXPECT_EQ(WaitForMultipleObjects(1, nullptr, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  SetLastError(kSentinel);
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  const std::vector<HANDLE> most(MAXIMUM_WAIT_OBJECTS, e);
  EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, most.data(), FALSE, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(e));
}
