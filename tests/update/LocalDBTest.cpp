// The local database file: saved whole or not at all, read under the
// shared mutex, never through a link.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "common/Database.h"
#include "support/KernelObjects.h"
#include "phishlist/PhishList.h"
#include "update/LocalDB.h"

using ostrel::test::LocalDatabasePath;
using ostrel::test::ReadFileBytes;
using ostrel::test::Widen;
using ostrel::test::WriteFileBytes;

namespace {

std::string ReadAll(CLocalDB& db) {
  std::string bytes;
  wchar_t c;
  while (db.GetStream().get(c)) bytes += static_cast<char>(c & 0xFF);
  return bytes;
}

// Whether another process could take the file's mutex at once.
bool MutexFreeForAnotherProcess() {
  return ostrel::test::RunInChild([] {
           CMutex mutex(false, L"_OSTREL_ANTIPHISH_BHO_LOCAL_DB_MUTEX", true);
           const DWORD result = mutex.Lock(0);
           if (result == WAIT_OBJECT_0) mutex.Unlock();
           return result == WAIT_OBJECT_0 ? 0 : 1;
         }) == 0;
}

std::size_t FilesBeside(const std::string& path) {
  std::size_t n = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(path).parent_path()))
    n += entry.path().string().rfind(path, 0) == 0;
  return n;
}

}  // namespace

TEST(LocalDBTest, SaveWritesTheBytesOfTheStreamAndLeavesTheCallersStreamUsable) {
  ostrel::test::UseLocalDatabase();
  EXPECT_FALSE(CLocalDB::Exists());
  std::string bytes = ostrel::test::Container("b ^evil\\.test/\n");
  bytes += std::string("\x00\xff\x80", 3);
  std::wistringstream source(Widen(bytes));
  source.get();  // the caller has read one character already
  {
    CLocalDB db;
    EXPECT_TRUE(db.Save(source));
  }
  EXPECT_EQ(ReadFileBytes(LocalDatabasePath()), bytes);
  EXPECT_TRUE(CLocalDB::Exists());
  EXPECT_TRUE(source.good());  // its state is its own; the buffer is shared
  source.seekg(0);
  EXPECT_EQ(source.get(), static_cast<wint_t>(static_cast<unsigned char>(bytes[0])));

  CLocalDB reader;
  ASSERT_TRUE(reader.OpenForRead());
  EXPECT_EQ(ReadAll(reader), bytes);
  EXPECT_FALSE(MutexFreeForAnotherProcess());
  reader.Close();
  EXPECT_TRUE(MutexFreeForAnotherProcess());
}

TEST(LocalDBTest, SaveReplacesALongerFileWhole) {
  ostrel::test::UseLocalDatabase();
  ASSERT_TRUE(WriteFileBytes(LocalDatabasePath(), std::string(10000, 'o')));
  std::wistringstream source(L"new");
  CLocalDB db;
  EXPECT_TRUE(db.Save(source));
  EXPECT_EQ(ReadFileBytes(LocalDatabasePath()), "new");
  EXPECT_EQ(FilesBeside(LocalDatabasePath()), 1u);
}

namespace {
class BreaksHalfway : public std::wstreambuf {
 public:
  BreaksHalfway() : m_data(1000, L'n') { setg(m_data.data(), m_data.data(), m_data.data() + 500); }

 protected:
  int_type underflow() override { throw std::ios_base::failure("device error"); }
  pos_type seekoff(off_type off, std::ios_base::seekdir, std::ios_base::openmode) override {
    setg(m_data.data(), m_data.data() + off, m_data.data() + 500);
    return pos_type(off);
  }
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override {
    return seekoff(off_type(pos), std::ios_base::beg, which);
  }

 private:
  std::wstring m_data;
};
}  // namespace

TEST(LocalDBTest, ASaveThatFailsPartWayKeepsTheOldFile) {
  ostrel::test::UseLocalDatabase();
  ASSERT_TRUE(WriteFileBytes(LocalDatabasePath(), "old content"));
  BreaksHalfway buffer;
  std::wistream source(&buffer);
  CLocalDB db;
  EXPECT_FALSE(db.Save(source));
  EXPECT_EQ(ReadFileBytes(LocalDatabasePath()), "old content");
  EXPECT_EQ(FilesBeside(LocalDatabasePath()), 1u);
  EXPECT_TRUE(MutexFreeForAnotherProcess());
}

TEST(LocalDBTest, MissingFilesAndNamesOpenNothingAndHoldNoMutex) {
  ostrel::test::UseLocalDatabase();
  CLocalDB db;
  EXPECT_FALSE(db.OpenForRead());
  EXPECT_TRUE(MutexFreeForAnotherProcess());
  EXPECT_FALSE(db.Close());

  CSettings::SetDBFileName(L"");
  EXPECT_FALSE(CLocalDB::Exists());
  EXPECT_FALSE(db.OpenForRead());
  std::wistringstream source(L"x");
  EXPECT_FALSE(db.Save(source));

  CSettings::SetDBFileName(L"/no/such/folder/db.dat");
  EXPECT_FALSE(db.Save(source));
  EXPECT_TRUE(MutexFreeForAnotherProcess());
}

TEST(LocalDBTest, ALinkInPlaceOfTheFileIsNeitherFollowedNorReplaced) {
  const std::string target = ostrel::test::TestRoot() + "/elsewhere.dat";
  ASSERT_TRUE(WriteFileBytes(target, "precious"));
  ostrel::test::UseLocalDatabase();
  ASSERT_EQ(symlink(target.c_str(), LocalDatabasePath().c_str()), 0);
  CLocalDB db;
  EXPECT_FALSE(db.OpenForRead());
  std::wistringstream source(L"overwritten");
  EXPECT_FALSE(db.Save(source));
  EXPECT_EQ(ReadFileBytes(target), "precious");
  EXPECT_TRUE(CLocalDB::Exists());  // the link itself is there
}

TEST(LocalDBTest, AReaderInOneProcessHoldsOffAWriterInAnother) {
  ostrel::test::UseLocalDatabase();
  ASSERT_TRUE(WriteFileBytes(LocalDatabasePath(), "first"));
  CLocalDB reader;
  ASSERT_TRUE(reader.OpenForRead());
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const int writer = ostrel::test::StartChild([&] {
    CLocalDB db;
    std::wistringstream source(L"second");
    const bool saved = db.Save(source);  // waits for the reader's Close
    const char done = saved ? 'y' : 'n';
    return write(pipeFds[1], &done, 1) == 1 ? 0 : 1;
  });
  EXPECT_EQ(ReadAll(reader), "first");
  usleep(100000);  // the writer is waiting on the mutex meanwhile
  EXPECT_EQ(ReadFileBytes(LocalDatabasePath()), "first");
  reader.Close();
  char done = 0;
  EXPECT_EQ(read(pipeFds[0], &done, 1), 1);
  EXPECT_EQ(ostrel::test::WaitChild(writer), 0);
  EXPECT_EQ(done, 'y');
  EXPECT_EQ(ReadFileBytes(LocalDatabasePath()), "second");
}

TEST(LocalDBTest, ADatabaseSavedHereIsWhatAListLoadsAndLooksUp) {
  ostrel::test::UseLocalDatabase();
  const std::string plain = "w ^ok\\.evil\\.test/\nb ^([a-z]+\\.)*evil\\.test(:|/|$)\n";
  std::wistringstream download(Widen(CEncrypt(plain).GetResult()));
  {
    CLocalDB db;
    ASSERT_TRUE(db.Save(download));
  }
  CPhishList list;
  list.LoadFromLocalDB();
  ASSERT_TRUE(list.IsLoaded());
  EXPECT_EQ(list.LookUp(CUri(L"http://www.evil.test/login")), LIST_KIND_BLACK);
  EXPECT_EQ(list.LookUp(CUri(L"http://ok.evil.test/")), LIST_KIND_WHITE);
  EXPECT_EQ(list.LookUp(CUri(L"http://evil.test.example/")), LIST_KIND_NONE);
  // The download stream is still whole for a second reader, as the update
  // cycle saves it and then loads it.
  list.Load(download);
  EXPECT_EQ(list.GetCount(), 2u);
}
