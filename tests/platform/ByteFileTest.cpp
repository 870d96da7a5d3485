// Files as bytes through wide streams: one character per byte both ways,
// seeking back while reading, replacement that is all or nothing, and links
// that are never followed.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <istream>
#include <string>

#include "common/TestEnv.h"
#include "platform/ByteFile.h"
#include "platform/Utf8.h"

using ostrel::platform::ByteFileBuf;
using ostrel::test::ReadFileBytes;
using ostrel::test::TestRoot;
using ostrel::test::WriteFileBytes;

namespace {
std::wstring W(const std::string& path) { return ostrel::platform::FromUtf8(path); }
}  // namespace

TEST(ByteFileTest, ReadsOneCharacterPerByteAndSeeksBack) {
  const std::string path = TestRoot() + "/bytes.bin";
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  bytes += std::string(200000, 'z');  // several buffer fills
  ASSERT_TRUE(WriteFileBytes(path, bytes));
  ByteFileBuf buffer;
  ASSERT_TRUE(buffer.Open(W(path), ByteFileBuf::Mode::Read));
  std::wistream in(&buffer);
  for (int pass = 0; pass < 2; ++pass) {
    std::string read;
    wchar_t c;
    while (in.get(c)) {
      ASSERT_LT(static_cast<unsigned>(c), 256u);
      read += static_cast<char>(c);
    }
    EXPECT_TRUE(in.eof());
    EXPECT_EQ(read, bytes) << pass;
    in.clear();
    in.seekg(0);
  }
  in.seekg(255);
  EXPECT_EQ(in.get(), 255);
  EXPECT_TRUE(buffer.Close());
}

TEST(ByteFileTest, ReplacementTakesEffectOnlyOnCloseAndWritesLowBytes) {
  const std::string path = TestRoot() + "/target.bin";
  ASSERT_TRUE(WriteFileBytes(path, "old"));
  chmod(path.c_str(), 0640);
  {
    ByteFileBuf buffer;
    ASSERT_TRUE(buffer.Open(W(path), ByteFileBuf::Mode::Replace));
    std::wostream out(&buffer);
    out << L"new" << static_cast<wchar_t>(0x1FF) << std::wstring(100000, L'n');
    out.flush();
    EXPECT_EQ(ReadFileBytes(path), "old");  // not yet
    EXPECT_TRUE(buffer.Close());
  }
  const std::string now = ReadFileBytes(path);
  EXPECT_EQ(now.substr(0, 4), std::string("new\xff", 4));
  EXPECT_EQ(now.size(), 100004u);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // the old file's permissions carry over

  {
    ByteFileBuf abandoned;  // destroyed without Close: nothing changes
    ASSERT_TRUE(abandoned.Open(W(path), ByteFileBuf::Mode::Replace));
    std::wostream(&abandoned) << L"lost";
  }
  EXPECT_EQ(ReadFileBytes(path), now);
  ByteFileBuf discarded;
  ASSERT_TRUE(discarded.Open(W(path), ByteFileBuf::Mode::Replace));
  discarded.Discard();
  EXPECT_FALSE(discarded.IsOpen());
  EXPECT_EQ(ReadFileBytes(path), now);
  EXPECT_EQ(access((path + ".new").c_str(), F_OK), -1);
}

TEST(ByteFileTest, LinksAndNonFilesAreRefused) {
  const std::string target = TestRoot() + "/real.bin";
  const std::string link = TestRoot() + "/link.bin";
  ASSERT_TRUE(WriteFileBytes(target, "real"));
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  ByteFileBuf buffer;
  EXPECT_FALSE(buffer.Open(W(link), ByteFileBuf::Mode::Read));
  EXPECT_FALSE(buffer.Open(W(link), ByteFileBuf::Mode::Replace));
  EXPECT_FALSE(buffer.Open(W(TestRoot()), ByteFileBuf::Mode::Read));
  EXPECT_FALSE(buffer.Open(W(TestRoot() + "/missing"), ByteFileBuf::Mode::Read));
  EXPECT_FALSE(buffer.Open(L"", ByteFileBuf::Mode::Read));
  EXPECT_EQ(ReadFileBytes(target), "real");

  EXPECT_EQ(GetFileAttributesW(W(link).c_str()) & FILE_ATTRIBUTE_REPARSE_POINT,
            FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(GetFileAttributesW(W(TestRoot()).c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesW(W(TestRoot() + "/missing").c_str()), INVALID_FILE_ATTRIBUTES);
}
