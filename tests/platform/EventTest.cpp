// Conformance of events and waits: reset modes, pulses, waits for any or all
// of several objects, names shared by processes, refused arguments, and
// waiters whose process, or the process granting them, dies.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "common/ChildProcess.h"
#include "platform/Event.h"
#include "platform/Mutex.h"
#include "platform/Testing.h"
#include "platform/Thread.h"
#include "platform/Wait.h"

namespace seams = ostrel::platform::testing;
using ostrel::test::ChildProcess;
using ostrel::test::Eventually;

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

bool WaitersBlocked(HANDLE object, unsigned long count) {
  return Eventually([&] { return seams::KernelObjectWaits(object) == count; });
}

// A child that waits for the objects (any of them) and sends the result.
ChildProcess::Body WaitAndReport(std::vector<HANDLE> objects, DWORD timeout) {
  return [objects, timeout](ChildProcess& self) {
    self.Send(WaitForMultipleObjects(DWORD(objects.size()), objects.data(), FALSE, timeout));
    return 0;
  };
}

std::uint32_t Next(ChildProcess& child, int timeoutMs = 10000) {
  std::uint32_t value = kSentinel;
  return child.Receive(&value, timeoutMs) ? value : kSentinel;
}

DWORD WINAPI WaitThenReturn42(LPVOID event) {
  WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
  return 42;
}

}  // namespace

TEST(EventTest, ResetModesPulsesAndWaitsForAnyOrAll) {
  HANDLE e[3];  // e[0] manual reset, the others auto reset
  for (int i = 0; i < 3; ++i)
    ASSERT_NE(e[i] = CreateEventW(nullptr, i == 0, TRUE, nullptr), nullptr);
  EXPECT_EQ(WaitForSingleObject(e[0], 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e[0], 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e[1], 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e[1], 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(e[1]));
  EXPECT_TRUE(SetEvent(e[1]));  // signals do not add up
  EXPECT_EQ(WaitForSingleObject(e[1], 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e[1], 0), WAIT_TIMEOUT);
  for (HANDLE h : {e[0], e[2]}) {  // a pulse with nobody waiting only clears
    EXPECT_TRUE(PulseEvent(h));
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 80), WAIT_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(80));

  // Any: the lowest index signalled wins, and only it is taken.
  EXPECT_TRUE(SetEvent(e[2]));
  EXPECT_TRUE(SetEvent(e[1]));
  EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 0), WAIT_OBJECT_0 + 2);
  // All: a wait that fails takes nothing, one that succeeds takes all together.
  EXPECT_TRUE(SetEvent(e[1]));
  EXPECT_EQ(WaitForMultipleObjects(3, e, TRUE, 0), WAIT_TIMEOUT);
  DWORD result = kSentinel;
  std::thread waiter([&] { result = WaitForMultipleObjects(2, e + 1, TRUE, 10000); });
  EXPECT_TRUE(WaitersBlocked(e[2], 1));
  EXPECT_TRUE(SetEvent(e[2]));
  waiter.join();
  EXPECT_EQ(result, WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(2, e + 1, FALSE, 0), WAIT_TIMEOUT);
  for (HANDLE h : e) EXPECT_TRUE(CloseHandle(h));
}

TEST(EventTest, RefusedArgumentsFailWithTheirErrors) {
  HANDLE e = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  HANDLE closed = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(closed));
  for (HANDLE bad : {HANDLE(nullptr), closed, reinterpret_cast<HANDLE>(0x1235), mutex}) {
    for (BOOL (*operation)(HANDLE) : {SetEvent, ResetEvent, PulseEvent}) {
      SetLastError(kSentinel);
      EXPECT_FALSE(operation(bad));
      EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
  }
  const std::pair<std::vector<HANDLE>, DWORD> cases[] = {
      {{}, ERROR_INVALID_PARAMETER},
      {std::vector<HANDLE>(MAXIMUM_WAIT_OBJECTS + 1, e), ERROR_INVALID_PARAMETER},
      {{e, mutex}, ERROR_INVALID_PARAMETER},  // mutexes only on their own
      {{e, nullptr}, ERROR_INVALID_HANDLE},
      {{e, closed}, ERROR_INVALID_HANDLE},
  };
  for (const auto& [handles, error] : cases) {
    SetLastError(kSentinel);
    EXPECT_EQ(WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, 0),
              WAIT_FAILED);
    EXPECT_EQ(GetLastError(), error) << handles.size();
  }
  const HANDLE twice[] = {e, e};  // refused for all, fine for any
  EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0);
  const std::vector<HANDLE> most(MAXIMUM_WAIT_OBJECTS, e);
  EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, most.data(), FALSE, 0), WAIT_OBJECT_0);
  for (HANDLE h : {e, mutex}) EXPECT_TRUE(CloseHandle(h));
}

TEST(EventTest, CreatingAnExistingNameOpensTheSameEventInEveryProcess) {
  const wchar_t* name = L"ostrel-test-shared-event";
  HANDLE first = CreateEventW(nullptr, TRUE, FALSE, name);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  HANDLE second = CreateEventW(nullptr, FALSE, TRUE, name);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);  // it keeps its own mode and state
  EXPECT_TRUE(SetEvent(second));
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ResetEvent(first));
  HANDLE local = CreateEventW(nullptr, TRUE, FALSE, L"Local\\ostrel-test-shared-event");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);  // "Local\" is the namespace of plain names

  ChildProcess child([&](ChildProcess& self) {
    HANDLE mine = CreateEventW(nullptr, TRUE, FALSE, name);
    self.Send(GetLastError());
    return mine && SetEvent(mine) ? 0 : 1;
  });
  EXPECT_EQ(Next(child), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  // The event ends with the last handle of any live process (the child
  // exited without closing its own); the name then makes a new one.
  for (HANDLE h : {first, second, local}) EXPECT_TRUE(CloseHandle(h));
  HANDLE again = CreateEventW(nullptr, FALSE, FALSE, name);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_TRUE(CloseHandle(again));
}

TEST(EventTest, SignalsPulsesAndThreadEndsReleaseWaitingProcessesAsTheirKindSays) {
  // Auto reset: one signal, exactly one of two waiters; a signal with nobody
  // waiting stays until a waiter comes.
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ChildProcess a(WaitAndReport({event}, 10000));
  ChildProcess b(WaitAndReport({event}, 10000));
  ASSERT_TRUE(WaitersBlocked(event, 2));
  EXPECT_TRUE(SetEvent(event));
  std::uint32_t result = kSentinel;
  const int first = ChildProcess::ReceiveAny({&a, &b}, &result);
  ASSERT_NE(first, -1);
  EXPECT_EQ(result, WAIT_OBJECT_0);
  ChildProcess& other = first == 0 ? b : a;
  EXPECT_EQ(Next(other, 200), kSentinel);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(event));
  EXPECT_EQ(Next(other), WAIT_OBJECT_0);
  EXPECT_TRUE(SetEvent(event));
  ChildProcess late(WaitAndReport({event}, 0));
  EXPECT_EQ(Next(late), WAIT_OBJECT_0);

  // A pulse of a manual event: every waiter of that moment, no later one.
  HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ChildProcess c(WaitAndReport({manual}, 10000));
  ChildProcess d(WaitAndReport({event, manual}, 10000));
  ASSERT_TRUE(WaitersBlocked(manual, 2));
  EXPECT_TRUE(PulseEvent(manual));
  EXPECT_EQ(Next(c), WAIT_OBJECT_0);
  EXPECT_EQ(Next(d), WAIT_OBJECT_0 + 1);
  ChildProcess after(WaitAndReport({manual}, 300));
  EXPECT_EQ(Next(after), WAIT_TIMEOUT);

  // A thread is signalled at its end, and stays so, for waiters anywhere.
  HANDLE thread = CreateThread(nullptr, 0, WaitThenReturn42, manual, 0, nullptr);
  ChildProcess e(WaitAndReport({event, thread}, 10000));
  ASSERT_TRUE(WaitersBlocked(thread, 1));
  EXPECT_TRUE(SetEvent(manual));
  EXPECT_EQ(Next(e), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  for (HANDLE h : {event, manual, thread}) EXPECT_TRUE(CloseHandle(h));
}

TEST(EventTest, ADeathInTheMiddleNeitherTakesTheSignalNorStrandsTheWaiter) {
  // A waiter killed while waiting does not take the signal with it.
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ChildProcess doomed(WaitAndReport({event}, INFINITE));
  ASSERT_TRUE(WaitersBlocked(event, 1));
  doomed.Kill();  // ended, not yet reaped
  EXPECT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);

  // A process that dies holding the table's lock after granting a waiter and
  // before waking it: the next user of the table wakes it.
  ChildProcess waiter(WaitAndReport({event}, INFINITE));
  ASSERT_TRUE(WaitersBlocked(event, 1));
  ChildProcess setter([event](ChildProcess&) {
    seams::DieInNextGrant();
    SetEvent(event);
    return 0;
  });
  EXPECT_EQ(setter.Wait(), -1);
  EXPECT_TRUE(ResetEvent(event));
  EXPECT_EQ(Next(waiter), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(event));
}
