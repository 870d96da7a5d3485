// Kernel objects across two processes, as Windows provides them: a named
// event and a named mutex are one object in every process that names them
// (the second creation reports ERROR_ALREADY_EXISTS and keeps the first's
// state and owner), a mutex whose owner process ends is abandoned to the
// next waiter, and the update mutex lets one of two processes download
// while the other's cycle reloads that download. The other process is
// this program again, running a ChildRole test (WinTestEnv.h).
#include <windows.h>

#include <gtest/gtest.h>

#include "support/KernelObjects.h"
#include "windows/WinTestEnv.h"
#include "windows/WinUpdateSite.h"

using namespace ostrel::test;

namespace {

const wchar_t kTried[] = L"ostrel-test-child-tried";
const wchar_t kOwned[] = L"ostrel-test-child-owned";
const wchar_t kShared[] = L"ostrel-test-shared-mutex";
const wchar_t kGo[] = L"ostrel-test-go";
const wchar_t kUpdateMutex[] = L"_OSTREL_ANTIPHISH_BHO_AUTOUPD_MUTEX";

}  // namespace

TEST(KernelObjectsAcrossProcessesTest, NamedObjectsAreSharedAndAMutexOfADeadOwnerIsAbandoned) {
  CEvent tried(false, true, kTried);
  CEvent owned(false, true, kOwned);
  CMutex mutex(true, kShared);  // new, so owned by this thread
  ChildRole child(L"ChildRole.OpensItsParentsObjectsAndDiesOwningTheMutex");
  ASSERT_TRUE(tried.Wait(20000));
  EXPECT_FALSE(owned.IsSignalled());  // the child waits for the mutex this thread holds
  EXPECT_TRUE(mutex.Unlock());
  EXPECT_TRUE(owned.Wait(20000));
  EXPECT_EQ(child.Wait(), 0);
  // The child ended owning it: the next wait owns it, abandoned, once.
  EXPECT_EQ(mutex.Lock(5000), static_cast<DWORD>(WAIT_ABANDONED));
  EXPECT_TRUE(mutex.Unlock());
  EXPECT_EQ(mutex.Lock(0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(mutex.Unlock());
}

TEST(ChildRole, OpensItsParentsObjectsAndDiesOwningTheMutex) {
  // An existing event keeps its state and reset mode whatever the opener asks.
  HANDLE tried = CreateEventW(nullptr, FALSE, TRUE, kTried);
  ASSERT_NE(tried, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(WaitForSingleObject(tried, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  // An existing mutex is opened without being taken, though the opener asks.
  HANDLE mutex = CreateMutexW(nullptr, TRUE, kShared);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // the parent's
  SetEvent(tried);
  CloseHandle(tried);
  CMutex shared(false, kShared);
  EXPECT_EQ(shared.Lock(20000), static_cast<DWORD>(WAIT_OBJECT_0));
  CEvent(false, true, kOwned).Set();
  // Ends without releasing: both handles close at exit, the ownership dies with the thread.
}

// Two processes, each with a list whose first cycle is due, against one
// server whose database answer is slow enough that both cycles overlap:
// one process downloads under the update mutex, the other reloads its file.
TEST(KernelObjectsAcrossProcessesTest, TheUpdateMutexGivesOneDownloadForTwoProcesses) {
  WinUpdateSite site;
  ASSERT_TRUE(site.InstallVersionOne("b ^old\\.test/\n"));
  site.Publish("DB_VERSION=2\n");
  site.server.Serve("/db", Container("b ^new\\.test/\n"), 200, 1500);
  CEvent go(false, true, kGo);
  ChildRole first(L"ChildRole.UpdatesItsListOnGo");
  ChildRole second(L"ChildRole.UpdatesItsListOnGo");
  go.Set();
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);
  EXPECT_EQ(site.server.Count("/db"), 1);
  EXPECT_EQ(CSettings::GetPDBUN(0), 2);
}

TEST(ChildRole, UpdatesItsListOnGo) {
  ASSERT_TRUE(CEvent(false, true, kGo).Wait(20000));
  CPhishList list;
  EXPECT_TRUE(Eventually([&] { return IsBlack(list, L"http://new.test/"); }));
}

// A browser that died during an update cycle leaves the update mutex
// abandoned; the next cycle owns it all the same and updates.
TEST(KernelObjectsAcrossProcessesTest, AnUpdateMutexLeftByADeadProcessDoesNotStopUpdates) {
  CMutex updateMutex(false, kUpdateMutex);  // kept open, so the child's abandons it
  ASSERT_EQ(ChildRole(L"ChildRole.TakesTheUpdateMutexAndDies").Wait(), 0);
  WinUpdateSite site;
  ASSERT_TRUE(site.InstallVersionOne("b ^old\\.test/\n"));
  site.Publish("DB_VERSION=2\n");
  site.Publish("b ^new\\.test/\n", "/db");
  CPhishList list;
  EXPECT_TRUE(Eventually([&] { return IsBlack(list, L"http://new.test/"); }));
  EXPECT_EQ(site.server.Count("/db"), 1);
}

TEST(ChildRole, TakesTheUpdateMutexAndDies) {
  CMutex updateMutex(false, kUpdateMutex);
  EXPECT_EQ(updateMutex.Lock(5000), static_cast<DWORD>(WAIT_OBJECT_0));
}
