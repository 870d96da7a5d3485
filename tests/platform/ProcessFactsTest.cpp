// The process facts and the UTF-16LE helpers, at their Windows conventions.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "common/TestEnv.h"
#include "platform/ProcessFacts.h"
#include "platform/Utf16.h"
#include "platform/Utf8.h"

namespace {

using ostrel::platform::FromUtf16Le;
using ostrel::platform::FromUtf8;
using ostrel::platform::ToUtf16Le;
using ostrel::test::TestRoot;

std::wstring TempPath() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  EXPECT_GT(length, 0u);
  EXPECT_EQ(length, std::wcslen(buffer));
  return std::wstring(buffer, length);
}

TEST(ProcessFacts, TempPathIsPrivateAndNeverShared) {
  const std::string tmpdir = std::getenv("TMPDIR");
  EXPECT_EQ(FromUtf8(tmpdir + "/"), TempPath());

  // Too small: the size needed with the terminator, nothing written.
  const DWORD needed = static_cast<DWORD>(tmpdir.size() + 2);
  wchar_t small[4] = {L'#', L'#', L'#', L'#'};
  EXPECT_EQ(needed, GetTempPathW(4, small));
  EXPECT_EQ(L'#', small[0]);
  EXPECT_EQ(needed, GetTempPathW(0, nullptr));

  // A shared or foreign folder is not used: the user's own folder is.
  const std::string cache = TestRoot() + "/cache";
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  const std::wstring own = FromUtf8(cache + "/ostrel/tmp/");
  const std::string open = TestRoot() + "/open";
  ASSERT_EQ(0, mkdir(open.c_str(), 0700));
  ASSERT_EQ(0, chmod(open.c_str(), 0755));
  const std::string missing = TestRoot() + "/missing";
  for (const char* shared : {"/tmp", "/", open.c_str(), missing.c_str()}) {
    setenv("TMPDIR", shared, 1);
    EXPECT_EQ(own, TempPath()) << shared;
  }
  struct stat st {};
  ASSERT_EQ(0, stat((cache + "/ostrel/tmp").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
  EXPECT_EQ(geteuid(), st.st_uid);
  unsetenv("TMPDIR");
  EXPECT_EQ(own, TempPath());
}

TEST(ProcessFacts, UserNameFromThePasswordDatabase) {
  const passwd* entry = getpwuid(geteuid());
  ASSERT_NE(nullptr, entry);
  const std::wstring expected = FromUtf8(entry->pw_name);

  DWORD size = 0;
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(GetUserNameW(nullptr, &size));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_EQ(expected.size() + 1, size);

  std::wstring buffer(size, L'#');
  size = static_cast<DWORD>(buffer.size());
  ASSERT_TRUE(GetUserNameW(buffer.data(), &size));
  EXPECT_EQ(expected.size() + 1, size);
  EXPECT_EQ(expected, buffer.c_str());

  wchar_t small[1] = {L'#'};
  size = 1;
  EXPECT_FALSE(GetUserNameW(small, &size));
  EXPECT_EQ(L'#', small[0]);
  EXPECT_FALSE(GetUserNameW(small, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
}

TEST(ProcessFacts, ModuleFileNames) {
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
  ASSERT_GT(n, 0);
  const std::wstring program = FromUtf8(std::string(exe, static_cast<std::size_t>(n)));

  wchar_t buffer[PATH_MAX];
  EXPECT_EQ(program.size(), GetModuleFileNameW(nullptr, buffer, PATH_MAX));
  EXPECT_EQ(program, buffer);

  // Too small: cut to nSize characters with the terminator, nSize returned.
  std::wmemset(buffer, L'#', 8);
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(5u, GetModuleFileNameW(nullptr, buffer, 5));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_EQ(program.substr(0, 4), buffer);
  EXPECT_EQ(L'#', buffer[5]);

  // The platform library, by its dlopen handle and by its load address.
  Dl_info info{};
  ASSERT_NE(0, dladdr(reinterpret_cast<void*>(&GetModuleFileNameW), &info));
  char* real = realpath(info.dli_fname, nullptr);
  ASSERT_NE(nullptr, real);
  const std::wstring library = FromUtf8(real);
  std::free(real);
  void* handle = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  ASSERT_NE(nullptr, handle);
  EXPECT_EQ(library.size(), GetModuleFileNameW(static_cast<HMODULE>(handle), buffer, PATH_MAX));
  EXPECT_EQ(library, buffer);
  dlclose(handle);
  EXPECT_EQ(library.size(),
            GetModuleFileNameW(static_cast<HMODULE>(info.dli_fbase), buffer, PATH_MAX));
  EXPECT_EQ(library, buffer);

  void* self = dlopen(nullptr, RTLD_LAZY);
  EXPECT_EQ(program.size(), GetModuleFileNameW(static_cast<HMODULE>(self), buffer, PATH_MAX));
  dlclose(self);

  int local = 0;
  std::wmemset(buffer, L'#', 8);
  EXPECT_EQ(0u, GetModuleFileNameW(reinterpret_cast<HMODULE>(&local), buffer, PATH_MAX));
  EXPECT_EQ(ERROR_MOD_NOT_FOUND, GetLastError());
  EXPECT_EQ(L'#', buffer[0]);
}

TEST(Utf16, EncodesUnitsLowByteFirstAndDecodesEveryUnit) {
  struct Case {
    std::wstring text;
    std::string bytes;
  } cases[] = {
      {L"", ""},
      {L"1", std::string("1\0", 2)},
      {L"\u00e9\u20ac", std::string("\xE9\x00\xAC\x20", 4)},
      {L"\U0001F600", std::string("\x3D\xD8\x00\xDE", 4)},
      {std::wstring(L"a\0b", 3), std::string("a\0\0\0b\0", 6)},  // nulls are data
      {std::wstring(1, static_cast<wchar_t>(0xD800)),
       std::string("\x00\xD8", 2)},  // unpaired, kept
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.bytes, ToUtf16Le(c.text));
    EXPECT_EQ(c.text, FromUtf16Le(c.bytes.data(), c.bytes.size()));
  }
  EXPECT_EQ(L"a", FromUtf16Le("a\0b", 3));  // odd trailing byte ignored
  EXPECT_EQ(std::string("\xFD\xFF", 2), ToUtf16Le(std::wstring(1, static_cast<wchar_t>(0x110000))));
  EXPECT_EQ(L"", FromUtf16Le(nullptr, 4));
}

}  // namespace
