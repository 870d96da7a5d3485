// Files as bytes through wide streams: one character per byte both ways,
// seeking back while reading, replacement that is all or nothing, links
// and non-files refused with a reason. (A read error: LocalDBTest.)
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <istream>
#include <string>

#include "common/TestEnv.h"
#include "platform/ByteFile.h"
#include "platform/FileApi.h"
#include "platform/Utf8.h"

using ostrel::platform::ByteFileBuf;
using ostrel::test::ReadFileBytes;
using ostrel::test::TestRoot;

namespace {
std::wstring W(const std::string& path) { return ostrel::platform::FromUtf8(path); }
}  // namespace

TEST(ByteFileTest, ReadsOneCharacterPerByteAndSeeksBack) {
  const std::string path = TestRoot() + "/bytes.bin";
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  bytes += std::string(200000, 'z');  // several buffer fills
  ASSERT_TRUE(ostrel::test::WriteFileBytes(path, bytes));
  ByteFileBuf buffer;
  ASSERT_TRUE(buffer.Open(W(path), ByteFileBuf::Mode::Read));
  std::wistream in(&buffer);
  for (int pass = 0; pass < 2; ++pass, in.clear(), in.seekg(0)) {
    std::string read;
    for (wchar_t c; in.get(c);) read += static_cast<char>(c);
    EXPECT_TRUE(in.eof());
    EXPECT_EQ(read, bytes) << pass;
  }
  in.seekg(255);
  EXPECT_EQ(in.get(), 255);
}

TEST(ByteFileTest, ReplacementTakesEffectOnlyOnCloseAndWritesLowBytes) {
  const std::string path = TestRoot() + "/target.bin";
  ASSERT_TRUE(ostrel::test::WriteFileBytes(path, "old"));
  chmod(path.c_str(), 0640);
  ByteFileBuf buffer;
  ASSERT_TRUE(buffer.Open(W(path), ByteFileBuf::Mode::Replace));
  std::wostream(&buffer) << L"new" << static_cast<wchar_t>(0x1FF) << std::wstring(100000, L'n');
  EXPECT_EQ(ReadFileBytes(path), "old");  // not yet
  EXPECT_TRUE(buffer.Close());
  const std::string now = ReadFileBytes(path);
  EXPECT_EQ(now, std::string("new\xff", 4) + std::string(100000, 'n'));
  {
    ByteFileBuf abandoned;  // destroyed without Close: nothing changes
    ASSERT_TRUE(abandoned.Open(W(path), ByteFileBuf::Mode::Replace));
    std::wostream(&abandoned) << L"lost";
  }
  EXPECT_EQ(ReadFileBytes(path), now);
  for (const auto& entry : std::filesystem::directory_iterator(TestRoot()))
    EXPECT_EQ(entry.path().filename().string().rfind("target.bin.", 0), std::string::npos);

  // Permissions: a replaced file keeps its own; a new one is the user's
  // alone for the system, as the file-creation mask allows for a person.
  const mode_t mask = umask(022);
  for (auto [name, origin, mode] : {std::tuple{"/target.bin", ByteFileBuf::Origin::System, 0640u},
                                    std::tuple{"/new1", ByteFileBuf::Origin::System, 0600u},
                                    std::tuple{"/new2", ByteFileBuf::Origin::Person, 0644u}}) {
    ASSERT_TRUE(buffer.Open(W(TestRoot() + name), ByteFileBuf::Mode::Replace, origin));
    ASSERT_TRUE(buffer.Close());
    struct stat st;
    ASSERT_EQ(stat((TestRoot() + name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, mode) << name;
  }
  umask(mask);
}

TEST(ByteFileTest, LinksAndNonFilesAreRefusedWithAReason) {
  const std::string target = TestRoot() + "/real.bin", link = TestRoot() + "/link.bin",
                    fifo = TestRoot() + "/fifo";
  ASSERT_TRUE(ostrel::test::WriteFileBytes(target, "real"));
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    ByteFileBuf::Mode mode;
    const char* reason;
  } refused[] = {
      {link, ByteFileBuf::Mode::Read, "it is a symbolic link"},
      {link, ByteFileBuf::Mode::Replace, "it is a symbolic link"},
      {fifo, ByteFileBuf::Mode::Replace, "it is not a regular file"},
      {TestRoot(), ByteFileBuf::Mode::Read, "it is a folder"},
      {TestRoot() + "/missing", ByteFileBuf::Mode::Read, "No such file or directory"},
      {"", ByteFileBuf::Mode::Read, "no file name"},
  };
  for (const auto& r : refused) {
    ByteFileBuf buffer;
    EXPECT_FALSE(buffer.Open(W(r.path), r.mode)) << r.path;
    EXPECT_EQ(buffer.GetErrorText(), r.reason) << r.path;
  }
  EXPECT_EQ(ReadFileBytes(target), "real");
  ByteFileBuf person;  // a tool reads through a link a person names
  ASSERT_TRUE(person.Open(W(link), ByteFileBuf::Mode::Read, ByteFileBuf::Origin::Person));
  EXPECT_EQ(std::wistream(&person).get(), L'r');

  for (auto [path, attribute] : {std::pair{link, FILE_ATTRIBUTE_REPARSE_POINT},
                                 std::pair{TestRoot(), FILE_ATTRIBUTE_DIRECTORY},
                                 std::pair{fifo, FILE_ATTRIBUTE_DEVICE},
                                 std::pair{target, FILE_ATTRIBUTE_NORMAL},
                                 std::pair{TestRoot() + "/missing", INVALID_FILE_ATTRIBUTES}})
    EXPECT_EQ(GetFileAttributesW(W(path).c_str()), attribute) << path;
}
