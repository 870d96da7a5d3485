// Conformance of the registry stand-in: the Windows behaviour the system and
// the tools rely on, and the store's safety across processes and damage.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/ChildProcess.h"
#include "common/TestEnv.h"
#include "platform/Utf16.h"
#include "platform/WinReg.h"

namespace {

using ostrel::platform::FromUtf16Le;
using ostrel::test::ChildProcess;
using ostrel::platform::ToUtf16Le;
using ostrel::test::ReadFileBytes;
using ostrel::test::TestRoot;
using ostrel::test::WriteFileBytes;

constexpr DWORD kSentinel = 0xA5A5A5A5;
const HKEY kBogusKey = reinterpret_cast<HKEY>(static_cast<LONG_PTR>(0x1234));

std::string StoreFile() {
  return std::string(std::getenv("XDG_CONFIG_HOME")) + "/ostrel/registry.db";
}

// Creates (or opens) a key with full access; fails the test on error.
HKEY Create(HKEY root, const wchar_t* path, DWORD* disposition = nullptr) {
  HKEY key = kBogusKey;
  EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_ALL_ACCESS, nullptr, &key, disposition));
  return key;
}

LSTATUS SetBytes(HKEY key, const wchar_t* name, DWORD type, const std::string& bytes) {
  return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
}

LSTATUS SetString(HKEY key, const wchar_t* name, const std::wstring& text) {
  return SetBytes(key, name, REG_SZ, ToUtf16Le(text));
}

// Reads a whole value; the type through *type when given.
LSTATUS Get(HKEY key, const wchar_t* name, std::string* bytes, DWORD* type = nullptr) {
  std::vector<BYTE> buffer(70000);
  DWORD size = static_cast<DWORD>(buffer.size());
  const LSTATUS rc = RegQueryValueExW(key, name, nullptr, type, buffer.data(), &size);
  if (rc == ERROR_SUCCESS) bytes->assign(reinterpret_cast<char*>(buffer.data()), size);
  return rc;
}

std::wstring GetString(HKEY key, const wchar_t* name) {
  std::string bytes;
  EXPECT_EQ(ERROR_SUCCESS, Get(key, name, &bytes));
  return FromUtf16Le(bytes.data(), bytes.size());
}

std::vector<std::wstring> SubkeyNames(HKEY key) {
  std::vector<std::wstring> names;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD chars = 256;
    const LSTATUS rc = RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(ERROR_NO_MORE_ITEMS, rc);
      return names;
    }
    names.emplace_back(name, chars);
  }
}

std::vector<std::wstring> ValueNames(HKEY key) {
  std::vector<std::wstring> names;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD chars = 256;
    const LSTATUS rc = RegEnumValueW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(ERROR_NO_MORE_ITEMS, rc);
      return names;
    }
    names.emplace_back(name, chars);
  }
}

TEST(Registry, KeysAndNamesIgnoreCaseAndKeepIt) {
  DWORD disposition = kSentinel;
  HKEY key = Create(HKEY_CURRENT_USER, L"SOFTWARE\\Ostrel\\AntiPhish", &disposition);
  EXPECT_EQ(REG_CREATED_NEW_KEY, disposition);
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"GreyRedirectUri", L"http://a/"));
  ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(key));

  disposition = kSentinel;
  HKEY again = Create(HKEY_CURRENT_USER, L"software\\OSTREL\\antiphish\\", &disposition);
  EXPECT_EQ(REG_OPENED_EXISTING_KEY, disposition);
  EXPECT_EQ(L"http://a/", GetString(again, L"GREYREDIRECTURI"));
  // Another spelling replaces the data of the same value, whose name stays.
  ASSERT_EQ(ERROR_SUCCESS, SetString(again, L"greyredirecturi", L"http://b/"));
  EXPECT_EQ(L"http://b/", GetString(again, L"GreyRedirectUri"));
  EXPECT_EQ(std::vector<std::wstring>{L"GreyRedirectUri"}, ValueNames(again));
  RegCloseKey(again);

  EXPECT_EQ(std::vector<std::wstring>{L"SOFTWARE"}, SubkeyNames(HKEY_CURRENT_USER));
  HKEY software = kBogusKey;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &software));
  EXPECT_EQ(std::vector<std::wstring>{L"Ostrel"}, SubkeyNames(software));
  RegCloseKey(software);

  // The hives are separate.
  HKEY other = kBogusKey;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Ostrel", 0, KEY_READ, &other));
  EXPECT_EQ(nullptr, other);
}

TEST(Registry, ValuesAreRawBytesWhateverTheType) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Raw");
  const std::string binary("\x00\xFF\x01\x00\x80", 5);
  ASSERT_EQ(ERROR_SUCCESS, SetBytes(key, L"Bin", REG_BINARY, binary));
  std::string bytes;
  DWORD type = kSentinel;
  ASSERT_EQ(ERROR_SUCCESS, Get(key, L"Bin", &bytes, &type));
  EXPECT_EQ(binary, bytes);
  EXPECT_EQ(REG_BINARY, type);

  // A REG_SZ "1" read into a DWORD: its two bytes, no terminator added, the
  // rest of the buffer untouched and the real type reported.
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"One", L"1"));
  BYTE dword[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  DWORD size = sizeof dword;
  type = kSentinel;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"One", nullptr, &type, dword, &size));
  EXPECT_EQ(REG_SZ, type);
  EXPECT_EQ(2u, size);
  EXPECT_EQ((std::vector<BYTE>{0x31, 0x00, 0xEE, 0xEE}), std::vector<BYTE>(dword, dword + 4));

  // A non-BMP character travels as a surrogate pair; a stored null is data.
  const std::wstring text = std::wstring(L"a\U0001F600") + L'\0' + L"z";
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"Text", text));
  ASSERT_EQ(ERROR_SUCCESS, Get(key, L"Text", &bytes));
  EXPECT_EQ(std::string("a\0\x3D\xD8\x00\xDE\0\0z\0", 10), bytes);
  EXPECT_EQ(text, FromUtf16Le(bytes.data(), bytes.size()));

  // A REG_DWORD with a length other than 4 is stored as given.
  ASSERT_EQ(ERROR_SUCCESS, SetBytes(key, L"Odd", REG_DWORD, "\x01\x02\x03"));
  ASSERT_EQ(ERROR_SUCCESS, Get(key, L"Odd", &bytes, &type));
  EXPECT_EQ("\x01\x02\x03", bytes);
  EXPECT_EQ(REG_DWORD, type);
  RegCloseKey(key);
}

TEST(Registry, SizesFollowTheWindowsConventions) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Sizes");
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"Uri", L"http://x/"));  // 18 bytes

  DWORD type = kSentinel;
  DWORD size = kSentinel;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Uri", nullptr, &type, nullptr, &size));
  EXPECT_EQ(18u, size);
  EXPECT_EQ(REG_SZ, type);

  BYTE small[17];
  std::memset(small, 0xEE, sizeof small);
  size = sizeof small;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExW(key, L"Uri", nullptr, nullptr, small, &size));
  EXPECT_EQ(18u, size);
  EXPECT_EQ(std::vector<BYTE>(17, 0xEE), std::vector<BYTE>(small, small + 17));

  BYTE exact[18];
  size = sizeof exact;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Uri", nullptr, nullptr, exact, &size));
  EXPECT_EQ(18u, size);
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Uri", nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegQueryValueExW(key, L"Uri", nullptr, nullptr, exact, nullptr));

  // A missing value leaves the out-parameters alone.
  type = kSentinel;
  size = kSentinel;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key, L"Nope", nullptr, &type, nullptr, &size));
  EXPECT_EQ(kSentinel, type);
  EXPECT_EQ(kSentinel, size);

  // The empty string is a value of no bytes; null and "" name the default.
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"Empty", 0, REG_SZ, nullptr, 0));
  size = kSentinel;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Empty", nullptr, &type, exact, &size));
  EXPECT_EQ(0u, size);
  EXPECT_EQ(REG_SZ, type);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &size));
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"", L"default"));
  EXPECT_EQ(L"default", GetString(key, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegSetValueExW(key, L"Bad", 0, REG_SZ, nullptr, 2));
  RegCloseKey(key);
}

TEST(Registry, EnumerationAndDeleteTree) {
  HKEY top = Create(HKEY_CURRENT_USER, L"Top");
  for (const wchar_t* path : {L"b2", L"B\\C\\D", L"a1", L"B_x", L"B]"})
    RegCloseKey(Create(top, path));
  HKEY c = Create(top, L"B\\C");
  ASSERT_EQ(ERROR_SUCCESS, SetString(c, L"InC", L"x"));
  ASSERT_EQ(ERROR_SUCCESS, SetString(top, L"Second", L"2"));
  ASSERT_EQ(ERROR_SUCCESS, SetString(top, L"First", L"1"));
  ASSERT_EQ(ERROR_SUCCESS, SetString(top, L"second", L"2b"));  // keeps its place

  EXPECT_EQ((std::vector<std::wstring>{L"a1", L"B", L"b2", L"B]", L"B_x"}), SubkeyNames(top));
  EXPECT_EQ((std::vector<std::wstring>{L"Second", L"First"}), ValueNames(top));

  // A name that does not fit is refused and nothing is written.
  wchar_t name[2] = {L'#', L'#'};
  DWORD chars = 2;
  EXPECT_EQ(ERROR_MORE_DATA,
            RegEnumKeyExW(top, 2, name, &chars, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(L'#', name[0]);
  chars = 2;
  FILETIME written{kSentinel, kSentinel};
  EXPECT_EQ(ERROR_SUCCESS,
            RegEnumKeyExW(top, 1, name, &chars, nullptr, nullptr, nullptr, &written));
  EXPECT_EQ(1u, chars);
  EXPECT_STREQ(L"B", name);
  EXPECT_NE(kSentinel, written.dwHighDateTime);

  // Deleting B takes C, D and C's value, and nothing beside B.
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(top, L"b"));
  EXPECT_EQ((std::vector<std::wstring>{L"a1", L"b2", L"B]", L"B_x"}), SubkeyNames(top));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeW(top, L"B"));
  // A handle to a deleted key does not bring it back.
  EXPECT_EQ(ERROR_KEY_DELETED, SetString(c, L"InC", L"y"));
  RegCloseKey(c);
  HKEY gone = kBogusKey;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExW(HKEY_CURRENT_USER, L"Top\\B\\C", 0, KEY_READ, &gone));
  EXPECT_EQ(nullptr, gone);
  EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(top, L"B\\C", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_READ, nullptr, &c, nullptr));
  std::string bytes;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Get(c, L"InC", &bytes));
  RegCloseKey(c);

  // Without a subkey: everything in the key goes, the key stays.
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(top, nullptr));
  EXPECT_TRUE(SubkeyNames(top).empty());
  EXPECT_TRUE(ValueNames(top).empty());
  ASSERT_EQ(ERROR_SUCCESS, SetString(top, L"Still", L"here"));
  RegCloseKey(top);
}

TEST(Registry, HandlesAccessAndPaths) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Handles");
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
  EXPECT_EQ(ERROR_INVALID_HANDLE, SetString(kBogusKey, L"x", L"y"));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CURRENT_USER));
  EXPECT_EQ(ERROR_SUCCESS, SetString(HKEY_CURRENT_USER, L"AtRoot", L"ok"));  // still usable

  HKEY readOnly = kBogusKey;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Handles", 0, KEY_READ, &readOnly));
  EXPECT_EQ(ERROR_ACCESS_DENIED, SetString(readOnly, L"x", L"y"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueW(readOnly, L"x"));
  HKEY child = kBogusKey;
  EXPECT_EQ(ERROR_ACCESS_DENIED,
            RegCreateKeyExW(readOnly, L"New", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &child, nullptr));
  EXPECT_EQ(nullptr, child);
  RegCloseKey(readOnly);

  for (const wchar_t* bad : {L"\\Lead", L"A\\\\B"}) {
    child = kBogusKey;
    EXPECT_EQ(ERROR_BAD_PATHNAME,
              RegCreateKeyExW(HKEY_CURRENT_USER, bad, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &child, nullptr));
    EXPECT_EQ(nullptr, child);
  }
  const std::wstring tooLong(256, L'k');
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegCreateKeyExW(HKEY_CURRENT_USER, tooLong.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &child, nullptr));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(HKEY_CURRENT_USER, L"Missing"));
}

TEST(Registry, StoreIsPrivateAndReadsCreateNothing) {
  std::string bytes;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Get(HKEY_CURRENT_USER, L"Nothing", &bytes));
  HKEY key = kBogusKey;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CURRENT_USER, L"X", 0, KEY_READ, &key));
  EXPECT_TRUE(SubkeyNames(HKEY_CURRENT_USER).empty());
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeW(HKEY_CURRENT_USER, L"X"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CURRENT_USER, nullptr));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(HKEY_CURRENT_USER, L"Nothing"));
  struct stat st {};
  EXPECT_NE(0, stat(StoreFile().c_str(), &st)) << "a read created the store";

  ASSERT_EQ(ERROR_SUCCESS, SetString(HKEY_CURRENT_USER, L"V", L"v"));
  ASSERT_EQ(0, stat(StoreFile().c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  ASSERT_EQ(0, stat((std::string(std::getenv("XDG_CONFIG_HOME")) + "/ostrel").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
}

// Two processes create the store together, then each write many values,
// one of them shared, and read them back: every read gives a whole value
// one of them wrote, no write is lost, and the store stays sound.
// Every call on a damaged store fails cleanly, and the file is left exactly
// as it was: never replaced, truncated or recreated.
void ExpectDamagedStoreUntouched(const std::string& damaged) {
  ASSERT_TRUE(WriteFileBytes(StoreFile(), damaged));
  HKEY key = kBogusKey;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CURRENT_USER, L"Keep", 0, KEY_READ, &key));
  std::string bytes;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Get(HKEY_CURRENT_USER, L"Root", &bytes));
  EXPECT_EQ(SubkeyNames(HKEY_CURRENT_USER), std::vector<std::wstring>());
  EXPECT_EQ(ERROR_REGISTRY_CORRUPT,
            RegCreateKeyExW(HKEY_CURRENT_USER, L"New", 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr));
  EXPECT_EQ(ERROR_REGISTRY_CORRUPT, SetString(HKEY_CURRENT_USER, L"Root", L"new"));
  EXPECT_EQ(ERROR_REGISTRY_CORRUPT, RegDeleteValueW(HKEY_CURRENT_USER, L"Root"));
  EXPECT_EQ(ERROR_REGISTRY_CORRUPT, RegDeleteTreeW(HKEY_CURRENT_USER, nullptr));
  EXPECT_TRUE(damaged == ReadFileBytes(StoreFile())) << "the damaged store was changed";
  struct stat st {};
  EXPECT_NE(0, stat((StoreFile() + "-journal").c_str(), &st));
}

TEST(Registry, DamagedStoreReadsAsMissingAndStaysUnchanged) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Keep");
  // Enough values for several pages, so that damage can spare the header.
  for (int i = 0; i < 200; ++i)
    ASSERT_EQ(ERROR_SUCCESS,
              SetString(key, (L"Value" + std::to_wstring(i)).c_str(), std::wstring(100, L'v')));
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKEY_CURRENT_USER, L"Root", L"r"));
  RegCloseKey(key);
  const std::string sound = ReadFileBytes(StoreFile());
  ASSERT_GT(sound.size(), 4u * 4096u);

  std::string garbage(sound.size(), '\0');
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 131 + 7);
  ExpectDamagedStoreUntouched(garbage);
  ExpectDamagedStoreUntouched("not a database");

  // One damaged page that a change would not even visit: the change is still
  // refused, so nothing is written into a damaged store.
  std::string torn = sound;
  for (std::size_t i = torn.size() - 4096; i < torn.size(); ++i)
    torn[i] = static_cast<char>(0xC3 ^ i);
  ASSERT_TRUE(WriteFileBytes(StoreFile(), torn));
  HKEY fresh = kBogusKey;
  EXPECT_EQ(ERROR_REGISTRY_CORRUPT,
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Fresh", 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &fresh, nullptr));
  EXPECT_EQ(ERROR_REGISTRY_CORRUPT, SetString(HKEY_CURRENT_USER, L"Root", L"new"));
  std::string bytes;
  Get(HKEY_CURRENT_USER, L"Root", &bytes);  // may or may not be readable; must not crash
  EXPECT_TRUE(torn == ReadFileBytes(StoreFile())) << "the damaged store was changed";
}

TEST(Registry, StoreBehindALinkIsNotFollowed) {
  const std::string target = TestRoot() + "/elsewhere.db";
  ASSERT_TRUE(WriteFileBytes(target, ""));
  ASSERT_EQ(0, mkdir((std::string(std::getenv("XDG_CONFIG_HOME")) + "/ostrel").c_str(), 0700));
  ASSERT_EQ(0, symlink(target.c_str(), StoreFile().c_str()));
  EXPECT_EQ(ERROR_ACCESS_DENIED, SetString(HKEY_CURRENT_USER, L"V", L"v"));
  std::string bytes;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Get(HKEY_CURRENT_USER, L"V", &bytes));
  EXPECT_EQ("", ReadFileBytes(target));
}

TEST(Registry, UnwritableConfigFolderFailsWritesAndReadsNothing) {
  // A regular file where the folder should be: no user, root included, can
  // create the store below it.
  const std::string blocker = TestRoot() + "/blocker";
  ASSERT_TRUE(WriteFileBytes(blocker, "file"));
  setenv("XDG_CONFIG_HOME", (blocker + "/config").c_str(), 1);
  EXPECT_EQ(ERROR_ACCESS_DENIED, SetString(HKEY_CURRENT_USER, L"V", L"v"));
  HKEY key = kBogusKey;
  EXPECT_EQ(ERROR_ACCESS_DENIED,
            RegCreateKeyExW(HKEY_CURRENT_USER, L"K", 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr));
  std::string bytes;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Get(HKEY_CURRENT_USER, L"V", &bytes));
  EXPECT_EQ("file", ReadFileBytes(blocker));

  if (geteuid() == 0) return;  // root writes through the mode bits below
  // A folder without write permission: the existing store can still be read.
  const std::string config = TestRoot() + "/readonly-config";
  ASSERT_EQ(0, mkdir(config.c_str(), 0700));
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKEY_CURRENT_USER, L"V", L"v"));
  ASSERT_EQ(0, chmod((config + "/ostrel").c_str(), 0500));
  EXPECT_NE(ERROR_SUCCESS, SetString(HKEY_CURRENT_USER, L"V", L"w"));
  EXPECT_EQ(L"v", GetString(HKEY_CURRENT_USER, L"V"));
  chmod((config + "/ostrel").c_str(), 0700);
}

// Reads keep a connection per thread between calls; it must stand for the
// file the path names now. A store replaced, removed, moved behind a link or
// made unreadable after a read is noticed by the next read.
TEST(Registry, ReadsFollowWhateverFileThePathNamesNow) {
  const std::string config = std::getenv("XDG_CONFIG_HOME");
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKEY_CURRENT_USER, L"V", L"first"));
  EXPECT_EQ(L"first", GetString(HKEY_CURRENT_USER, L"V"));

  // A store built under another folder, renamed over this one.
  const std::string other = TestRoot() + "/other-config";
  setenv("XDG_CONFIG_HOME", other.c_str(), 1);
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKEY_CURRENT_USER, L"V", L"second"));
  EXPECT_EQ(L"second", GetString(HKEY_CURRENT_USER, L"V"));  // the folder is followed too
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  EXPECT_EQ(L"first", GetString(HKEY_CURRENT_USER, L"V"));
  ASSERT_EQ(0, rename((other + "/ostrel/registry.db").c_str(), StoreFile().c_str()));
  EXPECT_EQ(L"second", GetString(HKEY_CURRENT_USER, L"V"));

  // Moved away and replaced by a link to it: the link is not followed.
  const std::string moved = TestRoot() + "/moved.db";
  ASSERT_EQ(0, rename(StoreFile().c_str(), moved.c_str()));
  ASSERT_EQ(0, symlink(moved.c_str(), StoreFile().c_str()));
  std::string bytes;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Get(HKEY_CURRENT_USER, L"V", &bytes));

  // Removed: nothing to read, and the next write starts a new store.
  ASSERT_EQ(0, unlink(StoreFile().c_str()));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Get(HKEY_CURRENT_USER, L"V", &bytes));
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKEY_CURRENT_USER, L"W", L"new"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Get(HKEY_CURRENT_USER, L"V", &bytes));
  EXPECT_EQ(L"new", GetString(HKEY_CURRENT_USER, L"W"));

  if (geteuid() == 0) return;  // root reads through the mode bits below
  ASSERT_EQ(0, chmod(StoreFile().c_str(), 0));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Get(HKEY_CURRENT_USER, L"W", &bytes));
  ASSERT_EQ(0, chmod(StoreFile().c_str(), 0600));
  EXPECT_EQ(L"new", GetString(HKEY_CURRENT_USER, L"W"));
}

// The descriptors this process holds open on the store file.
int OpenStoreDescriptors() {
  int count = 0;
  DIR* fds = opendir("/proc/self/fd");
  if (!fds) return -1;
  while (dirent* entry = readdir(fds)) {
    char target[PATH_MAX];
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t size = readlink(link.c_str(), target, sizeof target);
    if (size > 0 && std::string(target, static_cast<std::size_t>(size)) == StoreFile()) ++count;
  }
  closedir(fds);
  return count;
}

DWORD ReadRound(HKEY key, const wchar_t* name) {
  std::string bytes;
  DWORD round = kSentinel;
  if (Get(key, name, &bytes) == ERROR_SUCCESS && bytes.size() == 4)
    std::memcpy(&round, bytes.data(), 4);
  return round;
}

LSTATUS WriteRound(HKEY key, const wchar_t* name, DWORD round) {
  return SetBytes(key, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&round), 4));
}

// Every read sees the last value committed by any thread or process, though
// readers keep their connections from one read to the next: a process that
// has read, then a child forked from it, then the threads of one process.
TEST(Registry, KeptConnectionsStillSeeEveryCommit) {
  constexpr DWORD kRounds = 20;
  ASSERT_EQ(ERROR_SUCCESS, WriteRound(HKEY_CURRENT_USER, L"Turn", 0));
  ASSERT_EQ(0u, ReadRound(HKEY_CURRENT_USER, L"Turn"));

  // Parent and child take turns: each reads the other's last write at once.
  ChildProcess child([&](ChildProcess& self) -> int {
    for (DWORD round = 1; round <= kRounds; round += 2) {
      if (ReadRound(HKEY_CURRENT_USER, L"Turn") != round - 1) return 10;
      if (WriteRound(HKEY_CURRENT_USER, L"Turn", round) != ERROR_SUCCESS) return 11;
      std::uint32_t next = 0;
      if (!self.Send(round) || !self.Receive(&next) || next != round + 1) return 12;
    }
    return OpenStoreDescriptors() == 1 ? 0 : 13;
  });
  ASSERT_TRUE(child.Started());
  for (DWORD round = 2; round <= kRounds; round += 2) {
    std::uint32_t done = 0;
    ASSERT_TRUE(child.Receive(&done));
    ASSERT_EQ(round - 1, done);
    ASSERT_EQ(round - 1, ReadRound(HKEY_CURRENT_USER, L"Turn"));
    ASSERT_EQ(ERROR_SUCCESS, WriteRound(HKEY_CURRENT_USER, L"Turn", round));
    ASSERT_TRUE(child.Send(round));
  }
  EXPECT_EQ(0, child.Wait());

  // Threads, each with its own reader: each write is seen by the next read
  // of every thread, and a thread's connection goes when the thread ends.
  HKEY key = Create(HKEY_CURRENT_USER, L"Threads");
  std::vector<std::thread> threads;
  std::vector<int> faults(4, 0);
  for (std::size_t t = 0; t < faults.size(); ++t) {
    threads.emplace_back([&, t] {
      const std::wstring own = L"Own" + std::to_wstring(t);
      const std::wstring next = L"Own" + std::to_wstring((t + 1) % faults.size());
      DWORD last = kSentinel;
      for (DWORD round = 0; round < kRounds; ++round) {
        if (WriteRound(key, own.c_str(), round) != ERROR_SUCCESS) ++faults[t];
        if (ReadRound(key, own.c_str()) != round) ++faults[t];
        // Another thread's value is one it wrote, never older than seen.
        const DWORD seen = ReadRound(key, next.c_str());
        if (seen != kSentinel && (seen >= kRounds || (last != kSentinel && seen < last)))
          ++faults[t];
        if (seen != kSentinel) last = seen;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(std::vector<int>(faults.size(), 0), faults);
  for (std::size_t t = 0; t < faults.size(); ++t)
    EXPECT_EQ(kRounds - 1, ReadRound(key, (L"Own" + std::to_wstring(t)).c_str()));
  RegCloseKey(key);
  EXPECT_EQ(1, OpenStoreDescriptors()) << "only this thread's connection may remain";
}

}  // namespace
