// The per-user object table: its private folder, and the reclaiming of what
// processes that died left in it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/ChildProcess.h"
#include "common/TestEnv.h"
#include "platform/Event.h"
#include "platform/Testing.h"
#include "platform/Wait.h"

using ostrel::platform::testing::KernelObjectFolder;
using ostrel::test::ChildProcess;

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

// Creates unnamed events until the table refuses one.
std::vector<HANDLE> FillTable() {
  std::vector<HANDLE> handles;
  while (HANDLE h = CreateEventW(nullptr, FALSE, FALSE, nullptr)) handles.push_back(h);
  return handles;
}

}  // namespace

TEST(ObjectTableTest, TheTableLivesInAPrivateFolderAndOneOpenToOthersIsRefused) {
  const std::string runtime = std::getenv("XDG_RUNTIME_DIR");
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  struct stat st;
  ASSERT_EQ(stat((runtime + "/ostrel").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(st.st_uid, geteuid());
  ASSERT_EQ(stat((runtime + "/ostrel/objects-v1").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(KernelObjectFolder(), runtime + "/ostrel");

  std::string pattern = ostrel::test::TestRoot() + "/elsewhere-XXXXXX";
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::string base = pattern;
  for (const char* sub : {"/open", "/open/ostrel", "/link", "/link/real", "/file", "/fresh"})
    ASSERT_EQ(mkdir((base + sub).c_str(), 0700), 0) << sub;
  ASSERT_EQ(chmod((base + "/open/ostrel").c_str(), 0755), 0);
  ASSERT_EQ(symlink("real", (base + "/link/ostrel").c_str()), 0);
  ASSERT_TRUE(ostrel::test::WriteFileBytes(base + "/file/ostrel", "x"));
  for (const char* refused : {"/open", "/link", "/file"}) {
    setenv("XDG_RUNTIME_DIR", (base + refused).c_str(), 1);
    EXPECT_EQ(KernelObjectFolder(), "") << refused;
  }
  setenv("XDG_RUNTIME_DIR", (base + "/fresh").c_str(), 1);
  EXPECT_EQ(KernelObjectFolder(), base + "/fresh/ostrel");
  ASSERT_EQ(stat((base + "/fresh/ostrel").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  EXPECT_TRUE(CloseHandle(event));
}

TEST(ObjectTableTest, WhatAKilledProcessHeldIsReclaimed) {
  // Its names are free again: creating one makes a new object.
  ChildProcess holder([](ChildProcess& self) {
    HANDLE named = CreateEventW(nullptr, TRUE, TRUE, L"ostrel-test-orphan");
    for (int i = 0; i < 100; ++i) CreateEventW(nullptr, FALSE, FALSE, nullptr);
    self.Send(named ? 1 : 0);
    std::uint32_t never;
    self.Receive(&never, -1);
    return 0;
  });
  std::uint32_t ok = 0;
  ASSERT_TRUE(holder.Receive(&ok));
  ASSERT_EQ(ok, 1u);
  holder.Kill();
  SetLastError(kSentinel);
  HANDLE fresh = CreateEventW(nullptr, TRUE, FALSE, L"ostrel-test-orphan");
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_TIMEOUT);

  // A process that filled the table: once it is dead, its entries are
  // reclaimed when new ones are needed.
  ChildProcess hog([](ChildProcess& self) {
    const std::vector<HANDLE> handles = FillTable();
    self.Send(static_cast<std::uint32_t>(handles.size()));
    self.Send(GetLastError());
    std::uint32_t never;
    self.Receive(&never, -1);
    return 0;
  });
  std::uint32_t taken = 0, error = 0;
  ASSERT_TRUE(hog.Receive(&taken));
  ASSERT_TRUE(hog.Receive(&error));
  EXPECT_GT(taken, 100u);
  EXPECT_EQ(error, ERROR_NOT_ENOUGH_MEMORY);
  hog.Kill();
  std::vector<HANDLE> mine = FillTable();
  EXPECT_GE(mine.size(), taken);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  for (HANDLE h : mine) CloseHandle(h);
  // and closing gives them back
  std::vector<HANDLE> again = FillTable();
  EXPECT_EQ(again.size(), mine.size());
  for (HANDLE h : again) CloseHandle(h);
  EXPECT_TRUE(CloseHandle(fresh));
}
