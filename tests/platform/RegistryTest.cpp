// Conformance of the registry stand-in: the Windows behaviour the system and
// the tools rely on, and the store's safety across processes and damage.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/ChildProcess.h"
#include "common/TestEnv.h"
#include "platform/Utf16.h"
#include "platform/Utf8.h"
#include "platform/WinReg.h"

namespace {

using ostrel::platform::CheckRegistryStore;
using ostrel::platform::ToUtf16Le;
using ostrel::test::ChildProcess;
using ostrel::test::ReadFileBytes;
using ostrel::test::TestRoot;
using ostrel::test::WriteFileBytes;
using Names = std::vector<std::wstring>;

const HKEY kBogusKey = reinterpret_cast<HKEY>(static_cast<LONG_PTR>(0x1234));
const HKEY kUser = HKEY_CURRENT_USER;

std::string StoreFolder() { return std::string(std::getenv("XDG_CONFIG_HOME")) + "/ostrel"; }
std::string StoreFile() { return StoreFolder() + "/registry.db"; }

LSTATUS CreateKey(HKEY root, const std::wstring& path, HKEY* key) {
  *key = kBogusKey;
  return RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key, nullptr);
}

HKEY Create(HKEY root, const std::wstring& path) {
  HKEY key;
  EXPECT_EQ(ERROR_SUCCESS, CreateKey(root, path, &key));
  return key;
}

LSTATUS Set(HKEY key, const std::wstring& name, const std::wstring& text) {
  const std::string bytes = ToUtf16Le(text);
  return RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
}

// A REG_SZ value as the test wrote it, or the code of the failure.
std::string Text(HKEY key, const std::wstring& name) {
  wchar_t buffer[512];
  DWORD size = sizeof buffer;
  const LSTATUS rc =
      RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
  if (rc != ERROR_SUCCESS) return "<error " + std::to_string(rc) + ">";
  return ostrel::platform::ToUtf8(
      ostrel::platform::FromUtf16Le(reinterpret_cast<const char*>(buffer), size));
}

// The names of a key's subkeys or values; the code that ended the
// enumeration in *end (ERROR_NO_MORE_ITEMS expected when end is null).
Names List(HKEY key, bool values, LSTATUS* end = nullptr) {
  Names names;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD chars = 256;
    const LSTATUS rc =
        values ? RegEnumValueW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr)
               : RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      EXPECT_TRUE(end || rc == ERROR_NO_MORE_ITEMS) << rc;
      if (end) *end = rc;
      return names;
    }
    names.emplace_back(name, chars);
  }
}

// What fn writes to standard error.
std::string StderrOf(const std::function<void()>& fn) {
  const std::string path = TestRoot() + "/stderr";
  const int saved = dup(2);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  dup2(fd, 2);
  close(fd);
  fn();
  dup2(saved, 2);
  close(saved);
  return ReadFileBytes(path);
}

// The files damaged stores were set aside as.
std::vector<std::string> SetAside() {
  std::vector<std::string> names;
  DIR* folder = opendir(StoreFolder().c_str());
  while (dirent* entry = folder ? readdir(folder) : nullptr)
    if (std::strncmp(entry->d_name, "registry.db.damaged-", 20) == 0)
      names.push_back(StoreFolder() + "/" + entry->d_name);
  if (folder) closedir(folder);
  return names;
}

// Letter case in names is the tool's test; here: handles and their rights.
TEST(Registry, HandlesAndNames) {
  HKEY key = Create(kUser, L"Key"), readOnly = kBogusKey, other = kBogusKey;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(key, nullptr, 0, KEY_READ, &readOnly));
  EXPECT_EQ(ERROR_ACCESS_DENIED, Set(readOnly, L"x", L"y"));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  EXPECT_EQ(ERROR_INVALID_HANDLE, Set(key, L"x", L"y"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,  // the hives are separate
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Key", 0, KEY_READ, &other));
  RegCloseKey(readOnly);
  // Empty path elements, names too long, and names holding a value that is
  // no code point (stored, it would become U+FFFD, as another name would).
  const std::wstring lone(1, static_cast<wchar_t>(0xD800));
  const std::pair<std::wstring, LSTATUS> paths[] = {
      {L"\\Lead", ERROR_BAD_PATHNAME},
      {L"A\\\\B", ERROR_BAD_PATHNAME},
      {std::wstring(256, L'k'), ERROR_INVALID_PARAMETER},
      {L"A\\" + lone, ERROR_INVALID_PARAMETER}};
  for (const auto& [path, rc] : paths) {
    EXPECT_EQ(rc, CreateKey(kUser, path, &other));
    EXPECT_EQ(nullptr, other);
  }
  EXPECT_EQ(ERROR_INVALID_PARAMETER, Set(kUser, L"x" + lone, L"v"));
  EXPECT_EQ(ERROR_SUCCESS, Set(kUser, L"x\uFFFD", L"v"));
}

TEST(Registry, EnumerationAndDeleteTree) {
  HKEY top = Create(kUser, L"Top");
  for (const wchar_t* path : {L"b2", L"B\\C\\D", L"a1", L"B_x", L"B]"})
    RegCloseKey(Create(top, path));
  HKEY c = Create(top, L"B\\C");
  ASSERT_EQ(ERROR_SUCCESS, Set(c, L"InC", L"x"));
  for (const wchar_t* name : {L"Second", L"First", L"second"})
    ASSERT_EQ(ERROR_SUCCESS, Set(top, name, name));
  EXPECT_EQ((Names{L"a1", L"B", L"b2", L"B]", L"B_x"}), List(top, false));
  EXPECT_EQ((Names{L"Second", L"First"}), List(top, true));  // in the order first set
  // Deleting B takes C, D and C's value, and nothing beside B; a handle to
  // C does not bring it back.
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(top, L"b"));
  EXPECT_EQ((Names{L"a1", L"b2", L"B]", L"B_x"}), List(top, false));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeW(top, L"B"));
  EXPECT_EQ(ERROR_KEY_DELETED, Set(c, L"InC", L"y"));
  RegCloseKey(c);
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(top, nullptr));  // the key's content only
  EXPECT_TRUE(List(top, false).empty() && List(top, true).empty());
  EXPECT_EQ(ERROR_SUCCESS, Set(top, L"Still", L"here"));
  RegCloseKey(top);
}

TEST(Registry, StoreIsPrivateAndReadsCreateNothing) {
  EXPECT_EQ("<error 2>", Text(kUser, L"Nothing"));
  EXPECT_TRUE(List(kUser, false).empty());
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeW(kUser, L"X"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(kUser, L"Nothing"));
  EXPECT_EQ(ERROR_SUCCESS, CheckRegistryStore());
  struct stat st {};
  EXPECT_NE(0, stat(StoreFolder().c_str(), &st)) << "a read created the store";
  ASSERT_EQ(ERROR_SUCCESS, Set(kUser, L"V", L"v"));
  EXPECT_TRUE(stat(StoreFile().c_str(), &st) == 0 && (st.st_mode & 0777) == 0600);
  EXPECT_TRUE(stat(StoreFolder().c_str(), &st) == 0 && (st.st_mode & 0777) == 0700);
}

// A store folder or file that another user owns or may write to, or a link
// in their place, could feed the filter its settings: every call is refused,
// nothing is written, and standard error says why. A value read before is
// still answered from memory while only the folder changed (the file is
// the same, unchanged, and only its owner can write it).
TEST(Registry, RefusesAStoreOtherUsersCouldChange) {
  ASSERT_EQ(ERROR_SUCCESS, Set(kUser, L"V", L"v"));
  ASSERT_EQ("v", Text(kUser, L"V"));
  const std::string sound = ReadFileBytes(StoreFile()), moved = TestRoot() + "/moved";
  const uid_t self = geteuid(), other = self == 0 ? 65534 : self;  // only root gives files away
  const struct {
    std::string path;
    mode_t mode;  // 0: moved away, a link to it in its place
    uid_t owner;
    const char* says;
  } cases[] = {{StoreFolder(), 0777, self, "other users may write to it (mode 0777)"},
               {StoreFile(), 0602, self, "other users may write to it (mode 0602)"},
               {StoreFile(), 0600, other, "belongs to user 65534"},
               {StoreFolder(), 0700, other, "belongs to user 65534"},
               {StoreFile(), 0, self, "it is a link"},
               {StoreFolder(), 0, self, "it is a link"}};
  for (const auto& c : cases) {
    if (c.owner == self && std::strstr(c.says, "belongs")) continue;
    if (c.mode == 0) {
      ASSERT_EQ(0, rename(c.path.c_str(), moved.c_str()));
      ASSERT_EQ(0, symlink(moved.c_str(), c.path.c_str()));
    } else {
      ASSERT_EQ(0, chmod(c.path.c_str(), c.mode));
      ASSERT_EQ(0, chown(c.path.c_str(), c.owner, static_cast<gid_t>(-1)));
    }
    const std::wstring unread = L"Unread" + std::to_wstring(&c - cases);
    const std::string said = StderrOf([&] {
      HKEY key;
      EXPECT_EQ(c.path == StoreFolder() ? "v" : "<error 5>", Text(kUser, L"V")) << c.says;
      EXPECT_EQ("<error 5>", Text(kUser, unread)) << c.says;
      EXPECT_EQ(ERROR_ACCESS_DENIED, Set(kUser, L"V", L"fed"));
      EXPECT_EQ(ERROR_ACCESS_DENIED, CreateKey(kUser, L"K", &key));
      EXPECT_EQ(ERROR_ACCESS_DENIED, CheckRegistryStore());
    });
    EXPECT_NE(std::string::npos, said.find(c.path + " is refused")) << said;
    EXPECT_NE(std::string::npos, said.find(c.says)) << said;
    if (c.mode == 0) {
      ASSERT_EQ(0, unlink(c.path.c_str()) + rename(moved.c_str(), c.path.c_str()));
    }
    ASSERT_EQ(0, chown(c.path.c_str(), self, static_cast<gid_t>(-1)));
    ASSERT_EQ(0, chmod(c.path.c_str(), c.path == StoreFile() ? 0600 : 0700));
    EXPECT_TRUE(sound == ReadFileBytes(StoreFile())) << c.says;
    EXPECT_EQ("v", Text(kUser, L"V")) << c.says;
  }
}

// A damaged store, or one that is not a registry store of this layout,
// reads as damaged (never as empty) and reads leave it as it is; the next
// change sets it aside, kept whole for inspection, and starts a new store.
TEST(Registry, DamagedStoreIsSetAsideAtTheNextChange) {
  HKEY key = Create(kUser, L"Keep");
  for (int i = 0; i < 40; ++i)  // pages enough for damage to spare the header
    ASSERT_EQ(ERROR_SUCCESS, Set(key, L"Value" + std::to_wstring(i), std::wstring(1000, L'v')));
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS, Set(kUser, L"Root", L"r"));
  const std::string sound = ReadFileBytes(StoreFile());
  ASSERT_GT(sound.size(), 16u * 4096u);
  const auto patched = [&sound](std::size_t at, const std::string& bytes, std::size_t at2 = 0,
                                const std::string& bytes2 = "") {
    return std::string(sound).replace(at, bytes.size(), bytes).replace(at2, bytes2.size(), bytes2);
  };
  std::string garbage(sound.size(), '\0'), page(4096, '\0');
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 131 + 7);
  for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<char>(0xC3 ^ i);
  const struct {
    const char* what;
    std::string bytes;
    bool readsFail;  // whether a read of a value surely visits the damage
  } cases[] = {{"garbage", garbage, true},
               {"not a database", "not a database", true},
               {"a damaged page", patched(sound.size() - 6 * 4096, page), false},
               {"another version", patched(60, std::string("\0\0\0\2", 4)), true},
               {"another program's", patched(60, std::string(12, '\0')), true},
               // As an ALTER TABLE leaves it: other tables, the schema version counted up.
               {"altered tables", patched(sound.find("data BLOB"), "dat4 BLOB", 40, "\x7F"), true}};
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteFileBytes(StoreFile(), c.bytes));
    std::string said = StderrOf([&] {
      LSTATUS end = ERROR_SUCCESS;
      if (c.readsFail) {
        EXPECT_EQ("<error 1015>", Text(kUser, L"Root")) << c.what;
        EXPECT_TRUE(List(kUser, false, &end).empty());
        EXPECT_EQ(ERROR_REGISTRY_CORRUPT, end) << c.what;
      }
      HKEY keep = nullptr;  // may read or fail; must not crash
      if (!RegOpenKeyExW(kUser, L"Keep", 0, KEY_READ, &keep)) List(keep, true, &end);
      EXPECT_EQ(ERROR_REGISTRY_CORRUPT, CheckRegistryStore()) << c.what;
      EXPECT_TRUE(c.bytes == ReadFileBytes(StoreFile())) << c.what << ": a read changed it";
      EXPECT_EQ(ERROR_SUCCESS, Set(kUser, L"New", L"n")) << c.what;
    });
    EXPECT_NE(std::string::npos, said.find("is kept as " + StoreFile() + ".damaged-")) << said;
    const std::vector<std::string> aside = SetAside();
    ASSERT_EQ(1u, aside.size()) << c.what;
    EXPECT_TRUE(c.bytes == ReadFileBytes(aside[0])) << c.what;
    EXPECT_EQ("n", Text(kUser, L"New")) << c.what;
    EXPECT_EQ("<error 2>", Text(kUser, L"Root")) << c.what;
    ASSERT_EQ(0, unlink(aside[0].c_str()));
  }
}

// Processes that find the store damaged at once: one sets it aside, none
// sets aside the new store another has begun, no change is lost, and
// readers meanwhile see the damage, no store or the new values.
TEST(Registry, SettingAsideIsSafeAcrossProcesses) {
  const std::string damaged(16384, '\x5A');
  ASSERT_EQ(ERROR_SUCCESS, Set(kUser, L"Old", L"old"));
  ASSERT_TRUE(WriteFileBytes(StoreFile(), damaged));
  constexpr int kWriters = 3, kProcesses = 5;
  std::vector<std::unique_ptr<ChildProcess>> children;
  for (int i = 0; i < kProcesses; ++i) {
    children.push_back(std::make_unique<ChildProcess>([i](ChildProcess& self) -> int {
      std::uint32_t go = 0;
      if (!self.Receive(&go)) return 10;
      if (i < kWriters) return Set(kUser, std::to_wstring(i), L"w") ? 11 : 0;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      for (int seen = 0; seen < kWriters;) {
        if (std::chrono::steady_clock::now() > deadline) return 12;
        seen = 0;
        for (int w = 0; w < kWriters; ++w) {
          const std::string text = Text(kUser, std::to_wstring(w));
          seen += text == "w";
          if (text != "w" && text != "<error 1015>" && text != "<error 2>") return 13;
        }
      }
      return 0;
    }));
  }
  for (auto& child : children) ASSERT_TRUE(child->Send(1));
  for (auto& child : children) EXPECT_EQ(0, child->Wait(30000));
  const std::vector<std::string> aside = SetAside();
  ASSERT_EQ(1u, aside.size());
  EXPECT_TRUE(damaged == ReadFileBytes(aside[0]));
  for (int w = 0; w < kWriters; ++w) EXPECT_EQ("w", Text(kUser, std::to_wstring(w)));
  EXPECT_EQ(ERROR_SUCCESS, CheckRegistryStore());
}

// A writer that died inside a change leaves its journal behind. Readers
// open the store read-only, which refuses to play a journal back: a read
// then does it as a change would, and reads on.
TEST(Registry, ReadsRecoverTheJournalOfAWriterThatDied) {
  ASSERT_EQ(ERROR_SUCCESS, Set(kUser, L"V", L"kept"));
  const std::string journal = StoreFile() + "-journal";
  // A journal header (big-endian): no page records, the store's size in
  // pages, 512-byte sectors, 4096-byte pages.
  std::string header("\xD9\xD5\x05\xF9\x20\xA1\x63\xD7", 8);
  for (std::size_t field : {0ul, 0x2468ul, ReadFileBytes(StoreFile()).size() / 4096, 512ul, 4096ul})
    for (int shift = 24; shift >= 0; shift -= 8) header += static_cast<char>(field >> shift);
  ASSERT_TRUE(WriteFileBytes(journal, header + std::string(512 - header.size(), '\0')));
  EXPECT_EQ("kept", Text(kUser, L"V"));
  EXPECT_NE(0, access(journal.c_str(), F_OK)) << "the journal was not played back";
}

// Reads keep a connection per thread between calls (that it follows the
// file the path names is shown above); it must see every commit of the
// process that has read and of a child forked from it, at once.
TEST(Registry, KeptConnectionsSeeEveryCommit) {
  const auto turn = [](int round) { return Set(kUser, L"Turn", std::to_wstring(round)); };
  const auto seen = [](int round) { return Text(kUser, L"Turn") == std::to_string(round); };
  ASSERT_TRUE(turn(0) == ERROR_SUCCESS && seen(0));
  ChildProcess child([&](ChildProcess& self) -> int {  // each reads the other's last write
    for (std::uint32_t round = 1, next = 0; round < 20; round += 2)
      if (!seen(round - 1) || turn(round) || !self.Send(round) || !self.Receive(&next)) return 10;
    return 0;
  });
  for (std::uint32_t round = 2, done = 0; round <= 20; round += 2) {
    ASSERT_TRUE(child.Receive(&done) && seen(round - 1)) << round;
    ASSERT_TRUE(turn(round) == ERROR_SUCCESS && child.Send(round));
  }
  EXPECT_EQ(0, child.Wait());
}

// ---- Reads answered from memory ----

// A change by any process, this one, its parent or a child, shows at the
// next read, through handles opened before it and by name.
TEST(Registry, ReadsSeeEveryChangeOfAnyProcessAtTheNextRead) {
  HKEY key = Create(kUser, L"Seen"), opened = kBogusKey;
  ASSERT_EQ(ERROR_SUCCESS, Set(key, L"Value", L"1"));
  EXPECT_EQ("1", Text(key, L"Value"));
  EXPECT_EQ("1", Text(key, L"VALUE"));
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(kUser, L"Seen", 0, KEY_READ, &opened));
  RegCloseKey(opened);
  // The child starts with all this process has read.
  ChildProcess child([key](ChildProcess& self) -> int {
    std::uint32_t step = 0;
    if (Text(key, L"Value") != "1" || Set(key, L"Value", L"2") || !self.Send(1)) return 10;
    if (!self.Receive(&step) || Text(key, L"Value") != "3") return 11;
    if (RegDeleteValueW(key, L"Value") || !self.Send(2) || !self.Receive(&step)) return 12;
    return RegDeleteTreeW(kUser, L"Seen") || !self.Send(3) ? 13 : 0;
  });
  std::uint32_t step = 0;
  ASSERT_TRUE(child.Receive(&step));
  EXPECT_EQ("2", Text(key, L"Value"));
  ASSERT_TRUE(Set(key, L"vALUE", L"3") == ERROR_SUCCESS && child.Send(0));
  ASSERT_TRUE(child.Receive(&step));
  EXPECT_EQ("<error 2>", Text(key, L"Value"));
  ASSERT_TRUE(child.Send(0) && child.Receive(&step));
  EXPECT_EQ("<error 1018>", Text(key, L"Value"));  // the key is gone
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(kUser, L"Seen", 0, KEY_READ, &opened));
  EXPECT_EQ(0, child.Wait());
  RegCloseKey(key);
}

// What other programs or people do to the store file shows at the next read
// too: rewritten in place (with older content of the same size), replaced,
// removed; and another environment names another store.
TEST(Registry, AStoreFileChangedOtherwiseIsReadAfresh) {
  ASSERT_EQ(ERROR_SUCCESS, Set(kUser, L"V", L"old"));
  const std::string old = ReadFileBytes(StoreFile());
  ASSERT_EQ(ERROR_SUCCESS, Set(kUser, L"V", L"new"));
  const std::string current = ReadFileBytes(StoreFile());
  EXPECT_EQ(old.size(), current.size());
  EXPECT_EQ("new", Text(kUser, L"V"));
  ASSERT_TRUE(WriteFileBytes(StoreFile(), old));
  EXPECT_EQ("old", Text(kUser, L"V"));

  const std::string replacement = TestRoot() + "/replacement";
  ASSERT_TRUE(WriteFileBytes(replacement, current));
  ASSERT_EQ(0, chmod(replacement.c_str(), 0600) + rename(replacement.c_str(), StoreFile().c_str()));
  EXPECT_EQ("new", Text(kUser, L"V"));
  ASSERT_EQ(0, unlink(StoreFile().c_str()));
  EXPECT_EQ("<error 2>", Text(kUser, L"V"));

  const std::string saved = std::getenv("XDG_CONFIG_HOME");
  ASSERT_EQ(ERROR_SUCCESS, Set(kUser, L"V", L"first"));
  EXPECT_EQ("first", Text(kUser, L"V"));
  ASSERT_EQ(0, setenv("XDG_CONFIG_HOME", (TestRoot() + "/other").c_str(), 1));
  EXPECT_EQ("<error 2>", Text(kUser, L"V"));
  ASSERT_EQ(ERROR_SUCCESS, Set(kUser, L"V", L"second"));
  EXPECT_EQ("second", Text(kUser, L"V"));
  ASSERT_EQ(0, setenv("XDG_CONFIG_HOME", saved.c_str(), 1));
  EXPECT_EQ("first", Text(kUser, L"V"));
}

// Readers racing a writer in another process never go back to an older
// value, and once the writer is done they all find its last value, or
// whether its key is there (a key look-up is kept on the change counter
// alone; value reads, which also look at the file, are raced apart so as
// not to hide it): no read that began before a change may be kept as if
// it came after.
TEST(Registry, ReadersRacingAWriterEndOnItsLastValue) {
  constexpr int kWrites = 150;  // even: the key is deleted last
  ASSERT_EQ(ERROR_SUCCESS, Set(kUser, L"N", L"0"));
  for (const bool keys : {true, false}) {
    ChildProcess writer([keys](ChildProcess& self) -> int {
      std::uint32_t go = 0;
      if (!self.Receive(&go)) return 10;
      for (int i = 1; i <= kWrites; ++i) {
        HKEY made = nullptr;
        if (!keys && Set(kUser, L"N", std::to_wstring(i)) != ERROR_SUCCESS) return 11;
        if (keys && (i % 2 ? CreateKey(kUser, L"K", &made) || RegCloseKey(made)
                           : RegDeleteTreeW(kUser, L"K")))
          return 12;
      }
      return 0;
    });
    std::atomic<bool> done{false};
    std::atomic<int> backwards{0}, failed{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
      readers.emplace_back([&] {
        for (long last = 0; !done.load();) {
          HKEY key = nullptr;
          if (keys) {
            if (RegOpenKeyExW(kUser, L"K", 0, KEY_READ, &key) == ERROR_SUCCESS) RegCloseKey(key);
            continue;
          }
          const std::string text = Text(kUser, L"N");
          char* end = nullptr;
          const long n = std::strtol(text.c_str(), &end, 10);
          failed += text.empty() || *end;
          backwards += n < last;
          last = std::max(last, n);
        }
      });
    }
    ASSERT_TRUE(writer.Send(1));
    EXPECT_EQ(0, writer.Wait(60000));
    done = true;
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(0, backwards.load());
    EXPECT_EQ(0, failed.load());
    const auto lastSeen = [keys] {
      HKEY key = nullptr;
      if (keys)
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(kUser, L"K", 0, KEY_READ, &key));
      else
        EXPECT_EQ(std::to_string(kWrites), Text(kUser, L"N"));
    };
    for (int r = 0; r < 2; ++r) std::thread(lastSeen).join();
    lastSeen();
  }
}

}  // namespace
