// The local database file: saved whole or not at all, read under the shared
// mutex, never from a folder; a read error is an error. Built for Windows
// too (LocalDBFileKindsTest.cpp: links, FIFOs and another process, Linux).
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "common/Database.h"
#include "phishlist/PhishList.h"
#include "support/Exception.h"
#include "update/LocalDB.h"

using namespace ostrel::test;

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
  EXPECT_FALSE(LocalDBMutexFreeForAnotherThread());
  EXPECT_TRUE(reader.Close() && LocalDBMutexFreeForAnotherThread());

  ostrel::platform::ByteFileBuf broken;  // a source whose read fails: the old file stays
  ASSERT_TRUE(broken.Open(ostrel::platform::FromUtf8(UnreadableFilePath()),
                          ostrel::platform::ByteFileBuf::Mode::Read));
  std::wistream failing(&broken);
  EXPECT_FALSE(CLocalDB().Save(failing));
  EXPECT_EQ(ReadFileBytes(LocalDatabasePath()), bytes);
  EXPECT_TRUE(LocalDBMutexFreeForAnotherThread());
}

// No file, no name, no folder, or a folder planted at the path: nothing
// opens, no mutex stays held, and it all counts as no file, so the update
// service fetches the database instead. Save creates a missing file only.
TEST(LocalDBTest, WhatOpenRefusesCountsAsNoFile) {
  const std::string path = LocalDatabasePath();
  const struct {
    std::string name;
    bool folder;
  } rows[] = {{path, false}, {"", false}, {TestRoot() + "/no/such/folder/db", false}, {path, true}};
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const std::filesystem::path file = std::filesystem::u8path(path);
    std::filesystem::remove(file);
    if (rows[i].folder) {
      ASSERT_TRUE(std::filesystem::create_directory(file));
    }
    UseLocalDatabase(rows[i].name);
    CLocalDB db;
    std::wistringstream source(L"written");
    EXPECT_FALSE(CLocalDB::Exists()) << i;
    EXPECT_FALSE(db.OpenForRead()) << i;
    EXPECT_FALSE(db.Close()) << i;
    EXPECT_EQ(db.Save(source), i == 0) << i;
    EXPECT_TRUE(LocalDBMutexFreeForAnotherThread()) << i;
  }
}

TEST(LocalDBTest, AReadErrorReachesTheListAsAnError) {
  CPhishList list;
  auto stream = ContainerStream("w ^white\\.test/\nb ^black\\.test/\n");
  list.Load(stream);
  const LONGLONG stamp = list.GetLoadStamp();
  UseLocalDatabase(UnreadableFilePath());  // opens as a file; its first read fails
  try {
    list.LoadFromLocalDB();
    ADD_FAILURE() << "a failed read loaded as a short file";
  } catch (const CException& e) {
    EXPECT_EQ(e.GetMessage(), L"Error decrypting phish database");
  }
  EXPECT_EQ(list.GetLoadStamp(), stamp);
  EXPECT_EQ(list.GetCount(), 2u);  // nothing dropped before the new entries were in hand
  EXPECT_TRUE(LocalDBMutexFreeForAnotherThread());
  ListKind seen[2] = {-1, -1};  // the failed load let the list's lock go
  std::thread([&] {
    seen[0] = list.LookUp(CUri(L"http://white.test/"));
    seen[1] = list.LookUp(CUri(L"http://black.test/"));
  }).join();
  EXPECT_EQ(seen[0], LIST_KIND_WHITE);
  EXPECT_EQ(seen[1], LIST_KIND_BLACK);
}
