// The kernel-object wrappers: the "Global\" naming rule, creation failures,
// the thread's quit event and status words, waits on one or several objects,
// and the scoped locks.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "common/ChildProcess.h"
#include "platform/Testing.h"
#include "support/Exception.h"
#include "support/KernelObjects.h"

namespace seams = ostrel::platform::testing;
using ostrel::test::Eventually;

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;
const std::wstring kVersionFailure =
    L"Unable to verify Windows version when creating thread synchronisation object";

class KernelObjectsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    seams::SetReportedWindowsVersion(6, 1);
    seams::SetVersionQueryFails(false);
  }
};

// The message of the CException fn raises ("(code N)" added unless 0).
std::wstring Raised(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const CException& e) {
    return e.GetMessage() + (e.GetCode() ? L" (code " + std::to_wstring(e.GetCode()) + L")" : L"");
  }
  return L"(nothing raised)";
}

// Runs fn on a thread of its own; false when it has not returned within
// seconds (it is then left blocked, so a held lock shows as a failure).
bool FinishesOnAnotherThread(std::function<void()> fn) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread([fn, done] {
    fn();
    *done = true;
  }).detach();
  return Eventually([done] { return done->load(); }, 5000);
}

struct QuitProbe {
  CThread* thread = nullptr;
  DWORD result = 5;
};

DWORD WINAPI UntilQuit(LPVOID parameter) {
  auto* probe = static_cast<QuitProbe*>(parameter);
  probe->thread->GetQuitEvent().Wait(INFINITE);
  return probe->result;
}

struct Gate {
  CEvent release{false, true};
  CEvent done{false, true};
};

DWORD WINAPI PassTheGate(LPVOID parameter) {
  auto* gate = static_cast<Gate*>(parameter);
  gate->release.Wait(INFINITE);
  gate->done.Set();
  return 9;
}

DWORD WINAPI ReturnAtOnce(LPVOID) { return 0; }

}  // namespace

TEST_F(KernelObjectsTest, MakeNameAddsGlobalOnlyToPlainGlobalNamesOnVersionFive) {
  struct Case {
    const wchar_t* name;
    bool global;
    DWORD major;
    const wchar_t* expected;
    bool queries;
  };
  const Case cases[] = {
      {L"_X", true, 5, L"Global\\_X", true},
      {L"_X", true, 6, L"_X", true},
      {L"_X", true, 4, L"_X", true},
      {L"_X", true, 10, L"_X", true},
      {L"Local\\_X", true, 5, L"Local\\_X", false},
      {L"Global\\_X", true, 5, L"Global\\_X", false},
      {L"global\\_X", true, 5, L"Global\\global\\_X", true},  // prefixes are case-sensitive
      {L"Local", true, 5, L"Global\\Local", true},
      {L"_X", false, 5, L"_X", false},
      {L"", true, 5, L"", false},
  };
  for (const Case& c : cases) {
    seams::SetReportedWindowsVersion(c.major, 0);
    const unsigned long before = seams::VersionQueryCount();
    EXPECT_EQ(CSyncObject::MakeName(c.name, c.global), c.expected) << c.name << " v" << c.major;
    EXPECT_EQ(seams::VersionQueryCount() - before, c.queries ? 1u : 0u) << c.name;
  }

  // A failed query raises, but only where the version matters.
  seams::SetVersionQueryFails(true);
  EXPECT_EQ(Raised([] { CSyncObject::MakeName(L"_X", true); }), kVersionFailure);
  EXPECT_EQ(CSyncObject::MakeName(L"_X", false), L"_X");
  EXPECT_EQ(CSyncObject::MakeName(L"Local\\_X", true), L"Local\\_X");
}

TEST_F(KernelObjectsTest, CreationFailuresRaiseTheirMessagesAndUnnamedObjectsSkipTheVersion) {
  seams::SetVersionQueryFails(true);
  const unsigned long before = seams::VersionQueryCount();
  EXPECT_EQ(Raised([] {
              CEvent event(false, true, L"", true);
              CMutex mutex(false, L"", true);
              CThread thread(ReturnAtOnce, nullptr);  // its quit event is unnamed
              thread.Stop(INFINITE);
            }),
            L"(nothing raised)");
  EXPECT_EQ(seams::VersionQueryCount(), before);
  EXPECT_EQ(Raised([] { CEvent event(false, false, L"_KO_NAMED", true); }), kVersionFailure);
  EXPECT_EQ(Raised([] { CMutex mutex(false, L"_KO_NAMED", true); }), kVersionFailure);
  seams::SetVersionQueryFails(false);

  EXPECT_EQ(Raised([] { CEvent event(false, false, std::wstring(300, L'n')); }),
            L"Unable to create event object");
  CEvent holder(false, false, L"_KO_TAKEN");
  EXPECT_EQ(Raised([] { CMutex mutex(false, L"_KO_TAKEN"); }), L"Unable to create mutex object");
  EXPECT_EQ(Raised([] { CThread thread(ReturnAtOnce, nullptr, 0, SIZE_T(1) << 50); }),
            L"Unable to create thread object");
}

TEST_F(KernelObjectsTest, EventsAreSharedByTheirPlatformNameAndReportThePlatformsResults) {
  seams::SetReportedWindowsVersion(5, 1);
  CEvent a(false, true, L"_KO_EVENT", true);
  CEvent b(true, false, L"_KO_EVENT", true);  // opens "Global\_KO_EVENT": manual reset, clear
  CEvent plain(false, true, L"_KO_EVENT", false);
  EXPECT_FALSE(b.IsSignalled());
  EXPECT_TRUE(a.Set());
  EXPECT_TRUE(b.IsSignalled());
  EXPECT_TRUE(b.IsSignalled());
  EXPECT_FALSE(plain.IsSignalled());  // another name on version 5
  EXPECT_TRUE(b.Reset());
  EXPECT_FALSE(a.IsSignalled());
  EXPECT_TRUE(a.Set());
  EXPECT_TRUE(b.Pulse());  // nobody waits: it only clears
  EXPECT_FALSE(a.IsSignalled());

  CEvent automatic(true, false);
  EXPECT_TRUE(automatic.IsSignalled());
  EXPECT_FALSE(automatic.IsSignalled());
}

TEST_F(KernelObjectsTest, ScopedLocksReleaseOnEveryPathAndHoldAnAbandonedMutex) {
  CMutex mutex(false, L"_KO_MUTEX", true);
  auto freeElsewhere = [] {
    DWORD result = kSentinel;
    std::thread([&] {
      CMutex other(false, L"_KO_MUTEX", true);
      result = other.Lock(0);
      if (result == WAIT_OBJECT_0) other.Unlock();
    }).join();
    return result == WAIT_OBJECT_0;
  };
  try {
    CMutexLock lock(mutex);
    EXPECT_TRUE(lock.Owns());
    EXPECT_FALSE(lock.IsAbandoned());
    EXPECT_FALSE(freeElsewhere());
    throw 1;
  } catch (int) {
  }
  EXPECT_TRUE(freeElsewhere());

  // A thread ends holding it: the next lock holds it all the same, and lets go.
  std::thread([] {
    CMutex other(false, L"_KO_MUTEX", true);
    other.Lock(INFINITE);
  }).join();
  {
    CMutexLock lock(mutex);
    EXPECT_EQ(lock.GetWaitResult(), WAIT_ABANDONED);
    EXPECT_TRUE(lock.Owns());
    EXPECT_TRUE(lock.IsAbandoned());
    EXPECT_FALSE(freeElsewhere());
  }
  EXPECT_TRUE(freeElsewhere());
  EXPECT_EQ(mutex.Lock(), WAIT_OBJECT_0);
  EXPECT_EQ(mutex.Lock(0), WAIT_OBJECT_0);
  EXPECT_TRUE(mutex.Unlock());
  EXPECT_TRUE(mutex.Unlock());
  EXPECT_FALSE(mutex.Unlock());

  CCriticalSection section;
  try {
    CCriticalSectionLock outer(section);
    CCriticalSectionLock inner(section);  // recursive
    throw 1;
  } catch (int) {
  }
  EXPECT_TRUE(FinishesOnAnotherThread([&section] { CCriticalSectionLock lock(section); }));
}

TEST_F(KernelObjectsTest, ThreadStopSignalsTheQuitEventAndRecordsTheTwoStatusWords) {
  QuitProbe probe;
  CThread thread(UntilQuit, &probe, THREAD_PRIORITY_BELOW_NORMAL, 0, CREATE_SUSPENDED);
  probe.thread = &thread;
  EXPECT_NE(thread.GetThreadId(), 0u);
  EXPECT_EQ(thread.GetPriority(), THREAD_PRIORITY_BELOW_NORMAL);
  EXPECT_TRUE(thread.SetPriority(THREAD_PRIORITY_NORMAL));
  EXPECT_EQ(thread.GetWaitResult(), 0xFFFFFFFFu);
  EXPECT_EQ(thread.GetExitCode(), 0xFFFFFFFFu);
  EXPECT_FALSE(thread.IsSignalled());
  EXPECT_TRUE(thread.Start());
  EXPECT_TRUE(thread.Start());  // no longer suspended: not a failure
  thread.Stop(INFINITE);
  EXPECT_EQ(thread.GetWaitResult(), 1u);
  EXPECT_EQ(thread.GetExitCode(), 5u);
  EXPECT_TRUE(thread.IsSignalled());
  thread.Stop(0);  // an ended thread
  EXPECT_EQ(thread.GetWaitResult(), 1u);
  EXPECT_EQ(thread.GetExitCode(), 5u);
  EXPECT_FALSE(thread.Suspend());

  // A thread that does not end in time: 0, and still active.
  Gate gate;
  CThread slow(PassTheGate, &gate);
  slow.Stop(50);
  EXPECT_EQ(slow.GetWaitResult(), 0u);
  EXPECT_EQ(slow.GetExitCode(), STILL_ACTIVE);
  EXPECT_TRUE(gate.release.Set());
  slow.Stop(INFINITE);
  EXPECT_EQ(slow.GetWaitResult(), 1u);
  EXPECT_EQ(slow.GetExitCode(), 9u);
}

TEST_F(KernelObjectsTest, DestroyingAThreadObjectLeavesTheThreadRunning) {
  Gate gate;
  { CThread thread(PassTheGate, &gate); }
  EXPECT_FALSE(gate.done.IsSignalled());
  EXPECT_TRUE(gate.release.Set());
  EXPECT_TRUE(gate.done.Wait(10000));
}

TEST_F(KernelObjectsTest, WaitObjectsKeepIndicesAndOwnership) {
  CWaitMultiObj empty;
  CWaitMultiObj nulls;
  nulls.Add(nullptr);
  nulls.Add(nullptr);
  SetLastError(kSentinel);
  EXPECT_EQ(empty.WaitAny(0), 0xFFFFFFFFu);
  EXPECT_EQ(empty.WaitAll(0), 0xFFFFFFFFu);
  EXPECT_EQ(nulls.WaitAny(0), 0xFFFFFFFFu);
  EXPECT_EQ(GetLastError(), kSentinel);  // the platform was not asked

  CEvent e0, e1, e2;
  CWaitMultiObj three;
  three.Add(&e0);
  three.Add(&e1);
  three.Add(&e2);
  EXPECT_EQ(three.WaitAny(0), WAIT_TIMEOUT);
  EXPECT_TRUE(e1.Set());
  EXPECT_EQ(three.WaitAny(0), WAIT_OBJECT_0 + 1);
  EXPECT_TRUE(e0.Set());
  EXPECT_TRUE(e2.Set());
  EXPECT_EQ(three.WaitAll(0), WAIT_TIMEOUT);
  EXPECT_TRUE(e1.Set());
  EXPECT_EQ(three.WaitAll(0), WAIT_OBJECT_0);
  EXPECT_EQ(three.WaitAny(0), WAIT_TIMEOUT);

  // A null entry keeps its place, so the platform sees a null handle there.
  CWaitMultiObj gap;
  gap.Add(nullptr);
  gap.Add(&e0);
  EXPECT_TRUE(e0.Set());
  SetLastError(kSentinel);
  EXPECT_EQ(gap.WaitAny(0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  EXPECT_EQ(CWaitSingleObj(e0, 0).Wait(), WAIT_OBJECT_0);
  EXPECT_EQ(CWaitSingleObj::Wait(e0, 0), WAIT_TIMEOUT);
  HANDLE raw = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  {
    CWaitSingleObj owner(raw, 0);
    EXPECT_EQ(owner.Wait(), WAIT_OBJECT_0);
  }
  SetLastError(kSentinel);
  EXPECT_EQ(WaitForSingleObject(raw, 0), WAIT_FAILED);  // closed with its owner
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}
