// Conformance of events: reset modes, pulses, and names shared by processes.
#include <gtest/gtest.h>

#include <string>

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

bool WaitersBlocked(HANDLE object, unsigned long count) {
  return Eventually([&] { return KernelObjectWaits(object) == count; });
}

// A child that waits on the event and sends the wait's result.
ChildProcess::Body WaitAndReport(HANDLE event, DWORD timeout) {
  return [event, timeout](ChildProcess& self) {
    self.Send(WaitForSingleObject(event, timeout));
    return 0;
  };
}

}  // namespace

TEST(EventTest, ManualResetStaysSignalledAndAutoResetIsTakenByOneWait) {
  HANDLE manual = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  HANDLE automatic = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  ASSERT_NE(manual, nullptr);
  ASSERT_NE(automatic, nullptr);
  EXPECT_NE(manual, automatic);

  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ResetEvent(manual));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);

  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(automatic));
  EXPECT_TRUE(SetEvent(automatic));  // signals do not add up
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);

  // A pulse with nobody waiting releases nobody and leaves the event clear.
  EXPECT_TRUE(SetEvent(manual));
  EXPECT_TRUE(PulseEvent(manual));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(PulseEvent(automatic));
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);

  EXPECT_TRUE(CloseHandle(manual));
  EXPECT_TRUE(CloseHandle(automatic));
}

TEST(EventTest, OperationsOnAnythingButAnOpenEventFail) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
  HANDLE closed = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  ASSERT_TRUE(CloseHandle(closed));
  for (HANDLE bad : {HANDLE(nullptr), mutex, closed, reinterpret_cast<HANDLE>(0x1235),
                     reinterpret_cast<HANDLE>(0x40000)}) {
    for (BOOL (*operation)(HANDLE) : {SetEvent, ResetEvent, PulseEvent}) {
      SetLastError(kSentinel);
      EXPECT_FALSE(operation(bad));
      EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
  }
  SetLastError(kSentinel);
  EXPECT_EQ(WaitForSingleObject(closed, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  SetLastError(kSentinel);
  EXPECT_FALSE(CloseHandle(closed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(CloseHandle(mutex));
}

TEST(EventTest, CreatingAnExistingNameOpensTheSameEventInEveryProcess) {
  const wchar_t* name = L"ostrel-test-shared-event";
  SetLastError(kSentinel);
  HANDLE first = CreateEventW(nullptr, TRUE, FALSE, name);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  SetLastError(kSentinel);
  HANDLE second = CreateEventW(nullptr, FALSE, TRUE, name);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_NE(second, first);
  // The existing event keeps its own reset mode and state.
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(second));
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ResetEvent(first));

  // "Local\" is the namespace of plain names; "Global\" is one of its own.
  HANDLE local = CreateEventW(nullptr, TRUE, FALSE, L"Local\\ostrel-test-shared-event");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  HANDLE global = CreateEventW(nullptr, TRUE, FALSE, L"Global\\ostrel-test-shared-event");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

  // A name belongs to one kind of object, and has at most 260 characters.
  SetLastError(kSentinel);
  EXPECT_EQ(CreateMutexW(nullptr, FALSE, name), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  std::wstring longName(261, L'n');
  SetLastError(kSentinel);
  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, longName.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
  longName.pop_back();
  HANDLE longest = CreateEventW(nullptr, TRUE, FALSE, longName.c_str());
  EXPECT_NE(longest, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

  // Another process opens it by name and signals it.
  ChildProcess child([&](ChildProcess& self) {
    HANDLE mine = CreateEventW(nullptr, TRUE, FALSE, name);
    self.Send(GetLastError());
    return mine && SetEvent(mine) ? 0 : 1;
  });
  std::uint32_t error = kSentinel;
  ASSERT_TRUE(child.Receive(&error));
  EXPECT_EQ(error, ERROR_ALREADY_EXISTS);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);

  // The event ends with the last handle of any live process (the child
  // exited without closing its own); the name then makes a new one.
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_TRUE(CloseHandle(local));
  SetLastError(kSentinel);
  HANDLE again = CreateEventW(nullptr, FALSE, FALSE, name);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(again, 0), WAIT_TIMEOUT);
  for (HANDLE h : {again, global, longest}) EXPECT_TRUE(CloseHandle(h));
}

TEST(EventTest, AnAutoResetSignalReleasesExactlyOneOfTwoWaitingProcesses) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, L"ostrel-test-auto");
  ChildProcess a(WaitAndReport(event, 10000));
  ChildProcess b(WaitAndReport(event, 10000));
  ASSERT_TRUE(WaitersBlocked(event, 2));
  EXPECT_TRUE(SetEvent(event));
  std::uint32_t result = kSentinel;
  const int first = ChildProcess::ReceiveAny({&a, &b}, &result);
  ASSERT_NE(first, -1);
  EXPECT_EQ(result, WAIT_OBJECT_0);
  // The other still waits: the one signal was used up.
  ChildProcess& other = first == 0 ? b : a;
  EXPECT_FALSE(other.Receive(&result, 200));
  EXPECT_EQ(KernelObjectWaits(event), 1u);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(event));
  ASSERT_TRUE(other.Receive(&result));
  EXPECT_EQ(result, WAIT_OBJECT_0);

  // A signal with nobody waiting stays until a waiter comes, in any process.
  EXPECT_TRUE(SetEvent(event));
  ChildProcess late(WaitAndReport(event, 0));
  result = kSentinel;
  ASSERT_TRUE(late.Receive(&result));
  EXPECT_EQ(result, WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(event));
}

TEST(EventTest, APulseReleasesTheWaitersOfThatMomentInOtherProcessesAndNoLaterOne) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, L"ostrel-test-pulse");
  ChildProcess a(WaitAndReport(event, 10000));
  ChildProcess b(WaitAndReport(event, 10000));
  ASSERT_TRUE(WaitersBlocked(event, 2));
  EXPECT_TRUE(PulseEvent(event));
  std::uint32_t first = kSentinel, second = kSentinel;
  ASSERT_TRUE(a.Receive(&first));
  ASSERT_TRUE(b.Receive(&second));
  EXPECT_EQ(first, WAIT_OBJECT_0);
  EXPECT_EQ(second, WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);

  ChildProcess late(WaitAndReport(event, 300));
  std::uint32_t third = kSentinel;
  ASSERT_TRUE(late.Receive(&third));
  EXPECT_EQ(third, WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(event));
}

TEST(EventTest, AWaiterKilledWhileWaitingDoesNotTakeTheSignalWithIt) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ChildProcess doomed(WaitAndReport(event, INFINITE));
  ASSERT_TRUE(WaitersBlocked(event, 1));
  doomed.Kill();  // ended, not yet reaped
  EXPECT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(KernelObjectWaits(event), 0u);
  EXPECT_TRUE(CloseHandle(event));
}
