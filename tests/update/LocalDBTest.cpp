// The local database file: saved whole or not at all, read under the shared
// mutex, never through a link, FIFO or folder; a read error is an error.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "common/ChildProcess.h"
#include "common/Database.h"
#include "phishlist/PhishList.h"
#include "support/Exception.h"
#include "update/LocalDB.h"

using namespace ostrel::test;

namespace {

std::string ReadAll(CLocalDB& db) {
  std::string bytes;
  for (wchar_t c; db.GetStream().get(c);) bytes += static_cast<char>(c & 0xFF);
  return bytes;
}

// Whether another thread could take the file's mutex at once (a mutex is
// its owning thread's; a thread rather than a child process, because the
// list under test runs its update thread, and forking beside a running
// thread can leave the child stuck on a lock that thread held).
bool MutexFreeForAnotherThread() {
  DWORD result = WAIT_FAILED;
  std::thread([&result] {
    CMutex mutex(false, L"_OSTREL_ANTIPHISH_BHO_LOCAL_DB_MUTEX", true);
    result = mutex.Lock(0);
    if (result == WAIT_OBJECT_0) mutex.Unlock();
  }).join();
  return result == WAIT_OBJECT_0;
}

}  // namespace

TEST(LocalDBTest, SaveReplacesTheFileWholeAndLeavesTheCallersStreamUsable) {
  UseLocalDatabase();
  ASSERT_TRUE(WriteFileBytes(LocalDatabasePath(), std::string(10000, 'o')));
  const std::string bytes = Container("b ^evil\\.test/\n") + std::string("\x00\xff\x80", 3);
  std::wistringstream source(Widen(bytes));
  source.get();  // the caller has read one character already
  EXPECT_TRUE(CLocalDB().Save(source));
  EXPECT_EQ(ReadFileBytes(LocalDatabasePath()), bytes);
  EXPECT_TRUE(source.good());  // its state is its own; the buffer is shared
  source.seekg(0);
  EXPECT_EQ(source.get(), static_cast<wint_t>(static_cast<unsigned char>(bytes[0])));

  CLocalDB reader;
  ASSERT_TRUE(reader.OpenForRead());
  EXPECT_EQ(ReadAll(reader), bytes);
  EXPECT_FALSE(MutexFreeForAnotherThread());
  EXPECT_TRUE(reader.Close() && MutexFreeForAnotherThread());

  ostrel::platform::ByteFileBuf broken;  // a source whose read fails: the old file stays
  ASSERT_TRUE(broken.Open(L"/proc/self/mem", ostrel::platform::ByteFileBuf::Mode::Read));
  std::wistream failing(&broken);
  EXPECT_FALSE(CLocalDB().Save(failing));
  EXPECT_EQ(ReadFileBytes(LocalDatabasePath()), bytes);
  EXPECT_TRUE(MutexFreeForAnotherThread());
}

// No file, no name, no folder, or a link, FIFO or folder planted at the
// path: nothing opens (without blocking), nothing is written through a
// link, no mutex stays held, and it all counts as no file, so the update
// service fetches the database instead. Save creates a missing file only.
TEST(LocalDBTest, WhatOpenRefusesCountsAsNoFileAndNeverBlocks) {
  const std::string target = TestRoot() + "/elsewhere.dat", stored = Container("b ^a\\.test/\n");
  ASSERT_TRUE(WriteFileBytes(target, stored));
  const std::string path = LocalDatabasePath();
  const struct {
    std::string name;
    std::function<int()> plant;
  } rows[] = {
      {path, [] { return 0; }},
      {"", [] { return 0; }},
      {"/no/such/folder/db", [] { return 0; }},
      {path, [&] { return symlink(target.c_str(), path.c_str()); }},
      {path, [&] { return mkfifo(path.c_str(), 0600); }},
      {path, [&] { return mkdir(path.c_str(), 0700); }},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    std::filesystem::remove(path);
    ASSERT_EQ(rows[i].plant(), 0);
    UseLocalDatabase(rows[i].name);
    ChildProcess child([created = i == 0](ChildProcess&) {
      CLocalDB db;
      std::wistringstream source(L"written");
      return CLocalDB::Exists() || db.OpenForRead() || db.Close() || db.Save(source) != created;
    });
    EXPECT_EQ(child.Wait(5000), 0) << "row " << i << " (-2: the child blocked)";
    EXPECT_TRUE(MutexFreeForAnotherThread()) << i;
  }
  EXPECT_EQ(ReadFileBytes(target), stored);
}

TEST(LocalDBTest, AReadErrorReachesTheListAsAnError) {
  CPhishList list;
  auto stream = ContainerStream("w ^white\\.test/\nb ^black\\.test/\n");
  list.Load(stream);
  const LONGLONG stamp = list.GetLoadStamp();
  UseLocalDatabase("/proc/self/mem");  // opens as a file; its first read fails (EIO)
  try {
    list.LoadFromLocalDB();
    ADD_FAILURE() << "a failed read loaded as a short file";
  } catch (const CException& e) {
    EXPECT_EQ(e.GetMessage(), L"Error decrypting phish database");
  }
  EXPECT_EQ(list.GetLoadStamp(), stamp);
  EXPECT_EQ(list.GetCount(), 2u);  // nothing dropped before the new entries were in hand
  EXPECT_TRUE(MutexFreeForAnotherThread());
  ListKind seen[2] = {-1, -1};  // the failed load let the list's lock go
  std::thread([&] {
    seen[0] = list.LookUp(CUri(L"http://white.test/"));
    seen[1] = list.LookUp(CUri(L"http://black.test/"));
  }).join();
  EXPECT_EQ(seen[0], LIST_KIND_WHITE);
  EXPECT_EQ(seen[1], LIST_KIND_BLACK);
}

TEST(LocalDBTest, AReaderInOneProcessHoldsOffAWriterInAnother) {
  UseLocalDatabase();
  ASSERT_TRUE(WriteFileBytes(LocalDatabasePath(), "first"));
  CLocalDB reader;
  ASSERT_TRUE(reader.OpenForRead());
  ChildProcess writer([](ChildProcess& self) {
    std::wistringstream source(L"second");
    return self.Send(CLocalDB().Save(source)) ? 0 : 1;  // waits for the reader's Close
  });
  EXPECT_EQ(ReadAll(reader), "first");
  std::uint32_t saved = 9;
  EXPECT_FALSE(writer.Receive(&saved, 100));  // the writer is waiting on the mutex
  EXPECT_EQ(ReadFileBytes(LocalDatabasePath()), "first");
  reader.Close();
  EXPECT_TRUE(writer.Receive(&saved) && saved == 1u);
  EXPECT_EQ(writer.Wait(), 0);
  EXPECT_EQ(ReadFileBytes(LocalDatabasePath()), "second");
}
