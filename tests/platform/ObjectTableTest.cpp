// The per-user object table: its private folder and file, a file of another
// layout, its capacity and what running out does, the reclaiming of what
// killed processes held, and handles closed twice.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/ChildProcess.h"
#include "common/TestEnv.h"
#include "platform/Event.h"
#include "platform/Mutex.h"
#include "platform/Testing.h"
#include "platform/Wait.h"

namespace seams = ostrel::platform::testing;
using ostrel::test::ChildProcess;
using ostrel::test::Eventually;
using ostrel::test::RunInChild;
using ostrel::test::TestRoot;

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

std::vector<HANDLE> FillTable() {
  std::vector<HANDLE> handles;
  while (HANDLE h = CreateEventW(nullptr, FALSE, FALSE, nullptr)) handles.push_back(h);
  return handles;
}

// As a new process with this runtime folder ("": none) would: 0 when its
// first kernel-object call works, else the call's error.
int FirstUse(const std::string& runtime) {
  seams::ForgetKernelObjectTable();
  setenv("XDG_CACHE_HOME", (TestRoot() + "/cache").c_str(), 1);
  (void)(runtime.empty() ? unsetenv("XDG_RUNTIME_DIR")
                         : setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1));
  return CreateEventW(nullptr, FALSE, FALSE, nullptr) ? 0 : static_cast<int>(GetLastError());
}

std::string Mode(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? std::to_string(st.st_mode & 07777) : "missing";
}

std::vector<std::string> SetAside(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename().string().rfind("objects-v2.set-aside-", 0) == 0)
      found.push_back(entry.path());
  return found;
}

HANDLE g_closedTwice = nullptr;
HANDLE g_reused = nullptr;

}  // namespace

TEST(ObjectTableTest, TheTableLivesInAPrivateFolderOfTheRuntimeOrCacheFolder) {
  const std::string base = TestRoot() + "/places";
  for (const char* sub : {"", "/open", "/open/ostrel", "/link", "/link/real", "/fresh"})
    ASSERT_EQ(mkdir((base + sub).c_str(), 0700), 0) << sub;
  ASSERT_EQ(chmod((base + "/open/ostrel").c_str(), 0755), 0);
  ASSERT_EQ(symlink("real", (base + "/link/ostrel").c_str()), 0);
  struct Case {
    std::string runtime;
    int result;
    std::string folder;  // where the table is made
  };
  const Case cases[] = {
      {base + "/fresh", 0, base + "/fresh/ostrel"},
      {base + "/open", ERROR_ACCESS_DENIED, ""},
      {base + "/link", ERROR_ACCESS_DENIED, ""},
      {"", 0, TestRoot() + "/cache/ostrel"},  // never a shared folder someone else could take first
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunInChild([&] { return FirstUse(c.runtime); }), c.result) << c.runtime;
    if (c.folder.empty()) continue;
    EXPECT_EQ(Mode(c.folder), std::to_string(0700)) << c.folder;
    EXPECT_EQ(Mode(c.folder + "/objects-v2"), std::to_string(0600)) << c.folder;
  }
}

TEST(ObjectTableTest, AFileOfAnotherLayoutIsSetAsideOnceNoLiveProcessUsesIt) {
  const std::string runtime = TestRoot() + "/layout";
  const std::string folder = runtime + "/ostrel";
  const std::string file = folder + "/objects-v2";
  ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
  ChildProcess user([&](ChildProcess& self) {
    self.Send(FirstUse(runtime));
    std::uint32_t never;
    return self.Receive(&never, -1) ? 0 : 1;  // a user of the table until killed
  });
  std::uint32_t result = kSentinel;
  ASSERT_TRUE(user.Receive(&result) && result == 0);
  ASSERT_EQ(truncate(file.c_str(), 4096), 0);  // as a build of another layout finds it
  EXPECT_EQ(RunInChild([&] { return FirstUse(runtime); }), static_cast<int>(ERROR_INVALID_DATA));
  EXPECT_TRUE(SetAside(folder).empty());

  user.Kill();
  const std::string old = ostrel::test::ReadFileBytes(file);
  EXPECT_EQ(RunInChild([&] { return FirstUse(runtime); }), 0);
  EXPECT_EQ(RunInChild([&] { return FirstUse(runtime); }), 0);  // and the fresh one stays
  const std::vector<std::string> kept = SetAside(folder);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(ostrel::test::ReadFileBytes(kept[0]), old);
  EXPECT_GT(ostrel::test::ReadFileBytes(file).size(), 4096u);
}

TEST(ObjectTableTest, TheTableHoldsThousandsOfWindowsAndRunningOutFailsOnlyTheCall) {
  // Two objects of its own per window: room for well over 2,000 windows. A
  // process that filled the table fails one call; once it is killed, its
  // entries are reclaimed when new ones are needed.
  ChildProcess hog([](ChildProcess& self) {
    std::vector<HANDLE> handles = FillTable();
    self.Send(static_cast<std::uint32_t>(handles.size()));
    self.Send(GetLastError());
    CloseHandle(handles.back());
    self.Send(CreateEventW(nullptr, FALSE, FALSE, nullptr) && SetEvent(handles[0]));
    std::uint32_t never;
    return self.Receive(&never, -1) ? 0 : 1;
  });
  std::uint32_t taken = 0, error = 0, again = 0;
  ASSERT_TRUE(hog.Receive(&taken, 60000) && hog.Receive(&error) && hog.Receive(&again));
  EXPECT_GE(taken, 4500u);
  EXPECT_EQ(error, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(again, static_cast<std::uint32_t>(TRUE));
  hog.Kill();
  std::vector<HANDLE> mine = FillTable();
  EXPECT_GE(mine.size(), taken);
  for (HANDLE h : mine) CloseHandle(h);

  // Hundreds of waits at once; beyond the limit, waits of any kind fail at once.
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
  std::vector<std::thread> waiters;
  for (int i = 0; i < 300; ++i) waiters.emplace_back([&] { WaitForSingleObject(go, 10000); });
  EXPECT_TRUE(Eventually([&] { return seams::KernelObjectWaits(go) == 300; }));
  seams::CapKernelObjectTable(0, 300);
  std::thread([&] {
    for (HANDLE h : {go, mutex}) {
      SetLastError(kSentinel);
      EXPECT_EQ(WaitForSingleObject(h, 1000), WAIT_FAILED);
      EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    }
  }).join();
  EXPECT_TRUE(SetEvent(go));
  for (std::thread& t : waiters) t.join();

  // A process finding every process entry taken fails its calls, not its
  // life, and gets going once one frees up.
  seams::CapKernelObjectTable(2, 0);
  ChildProcess first([&](ChildProcess& self) {
    self.Send(SetEvent(go));
    std::uint32_t never;
    return self.Receive(&never, -1) ? 0 : 1;
  });
  std::uint32_t value = kSentinel;
  ASSERT_TRUE(first.Receive(&value));
  EXPECT_EQ(value, static_cast<std::uint32_t>(TRUE));
  ChildProcess second([&](ChildProcess& self) {
    self.Send(SetEvent(go) ? 0 : GetLastError());
    while (!SetEvent(go)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return 0;
  });
  EXPECT_TRUE(second.Receive(&value));
  EXPECT_EQ(value, ERROR_NOT_ENOUGH_MEMORY);
  first.Kill();
  EXPECT_EQ(second.Wait(), 0);
  seams::CapKernelObjectTable(0, 0);
  for (HANDLE h : {go, mutex}) EXPECT_TRUE(CloseHandle(h));
}

TEST(ObjectTableTest, ClosingAHandleTwiceWhileItsSlotIsReusedLeavesOtherObjectsAlone) {
  HANDLE kept = CreateEventW(nullptr, TRUE, TRUE, L"ostrel-test-closed-twice");
  g_closedTwice = CreateEventW(nullptr, TRUE, TRUE, L"ostrel-test-closed-twice");
  // Another thread's close of the same handle, and a creation that reuses its
  // slot, come between this close's start and its lock.
  seams::BeforeNextHandleClose([] {
    CloseHandle(g_closedTwice);
    g_reused = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  });
  EXPECT_TRUE(CloseHandle(g_closedTwice));
  EXPECT_EQ(g_reused, g_closedTwice);
  EXPECT_EQ(WaitForSingleObject(g_reused, 0), WAIT_FAILED);  // the late close hit the reuse
  EXPECT_EQ(WaitForSingleObject(kept, 0), WAIT_OBJECT_0);    // and nothing else
  EXPECT_TRUE(CloseHandle(kept));
}
