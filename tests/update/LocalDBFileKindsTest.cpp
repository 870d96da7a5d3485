// The local database file against what only Linux plants or runs here: a
// link or FIFO at its path, and a reader and a writer in two processes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "common/ChildProcess.h"
#include "common/Database.h"
#include "update/LocalDB.h"

using namespace ostrel::test;

// A link or FIFO planted at the path: nothing opens (without blocking),
// nothing is written through the link, no mutex stays held, and it counts
// as no file.
TEST(LocalDBFileKindsTest, ALinkOrFifoCountsAsNoFileAndNeverBlocks) {
  const std::string target = TestRoot() + "/elsewhere.dat", stored = Container("b ^a\\.test/\n");
  ASSERT_TRUE(WriteFileBytes(target, stored));
  const std::string path = LocalDatabasePath();
  const struct {
    std::string name;
    std::function<int()> plant;
  } rows[] = {
      {path, [&] { return symlink(target.c_str(), path.c_str()); }},
      {path, [&] { return mkfifo(path.c_str(), 0600); }},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    std::filesystem::remove(path);
    ASSERT_EQ(rows[i].plant(), 0);
    UseLocalDatabase(rows[i].name);
    ChildProcess child([](ChildProcess&) {
      CLocalDB db;
      std::wistringstream source(L"written");
      return CLocalDB::Exists() || db.OpenForRead() || db.Close() || db.Save(source);
    });
    EXPECT_EQ(child.Wait(5000), 0) << "row " << i << " (-2: the child blocked)";
    EXPECT_TRUE(LocalDBMutexFreeForAnotherThread()) << i;
  }
  EXPECT_EQ(ReadFileBytes(target), stored);
}

TEST(LocalDBFileKindsTest, AReaderInOneProcessHoldsOffAWriterInAnother) {
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
