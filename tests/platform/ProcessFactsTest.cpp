// The process facts at their Windows conventions.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "common/TestEnv.h"
#include "platform/ProcessFacts.h"
#include "platform/Utf8.h"

namespace {

using ostrel::platform::FromUtf8;
using ostrel::test::TestRoot;

std::wstring TempPath() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  return std::wstring(buffer, length);
}

TEST(ProcessFacts, TempPathIsPrivateAndNeverShared) {
  const std::string tmpdir = std::getenv("TMPDIR");
  EXPECT_EQ(FromUtf8(tmpdir + "/"), TempPath());
  wchar_t small[4] = {L'#', L'#', L'#', L'#'};  // too small: the size needed, nothing written
  EXPECT_EQ(tmpdir.size() + 2, GetTempPathW(4, small));
  EXPECT_EQ(L'#', small[0]);
  // A shared or foreign folder is not used: the user's own folder is.
  const std::string cache = TestRoot() + "/cache", open = TestRoot() + "/open";
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  ASSERT_EQ(0, mkdir(open.c_str(), 0700));
  ASSERT_EQ(0, chmod(open.c_str(), 0755));
  for (const std::string& shared : {std::string("/tmp"), open, TestRoot() + "/missing"}) {
    setenv("TMPDIR", shared.c_str(), 1);
    EXPECT_EQ(FromUtf8(cache + "/ostrel/tmp/"), TempPath()) << shared;
  }
  struct stat st {};
  ASSERT_EQ(0, stat((cache + "/ostrel/tmp").c_str(), &st));
  EXPECT_TRUE((st.st_mode & 0777) == 0700 && st.st_uid == geteuid());
}

TEST(ProcessFacts, UserNameFromThePasswordDatabase) {
  const std::wstring expected = FromUtf8(getpwuid(geteuid())->pw_name);
  DWORD size = 0;
  EXPECT_FALSE(GetUserNameW(nullptr, &size));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_EQ(expected.size() + 1, size);
  std::wstring buffer(size, L'#');
  ASSERT_TRUE(GetUserNameW(buffer.data(), &size));
  EXPECT_EQ(expected + L'\0', buffer);
}

TEST(ProcessFacts, ModuleFileNames) {
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
  const std::wstring program = FromUtf8(std::string(exe, static_cast<std::size_t>(n)));
  wchar_t buffer[PATH_MAX];
  EXPECT_EQ(program.size(), GetModuleFileNameW(nullptr, buffer, PATH_MAX));
  EXPECT_EQ(program, buffer);
  // Too small: cut to nSize characters with the terminator, nSize returned.
  EXPECT_EQ(5u, GetModuleFileNameW(nullptr, buffer, 5));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_EQ(program.substr(0, 4), buffer);
}

}  // namespace
