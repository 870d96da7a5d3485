// ostrel-db run as the program (files, exit status, messages) and its
// analysis called directly, each checked against the filter's own classes:
// the cipher for the container, Load for what a database yields.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/TestEnv.h"
#include "db/DbText.h"
#include "update/Cipher.h"

namespace {

using ostrel::test::ReadFileBytes;
using ostrel::test::TestRoot;
using ostrel::test::WriteFileBytes;
using namespace ostrel::tools::db;
using ::testing::HasSubstr;
using ::testing::StartsWith;

using Outcome = ostrel::test::ProgramRun;

// Runs the tool with standard input closed off.
Outcome Db(const std::vector<std::string>& args) {
  return ostrel::test::RunProgram(OSTREL_DB_TOOL, args);
}

// A folder of its own per test, so leftovers can be counted.
std::string Folder() {
  const std::string dir =
      TestRoot() + "/" + testing::UnitTest::GetInstance()->current_test_info()->name();
  std::filesystem::create_directories(dir);
  return dir;
}

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Container(const std::string& plain) { return CEncrypt(plain).GetResult(); }

TEST(DbTool, EncryptAndDecryptRoundTripThroughFilesAndRefuseADamagedContainer) {
  const std::string dir = Folder();
  // Every byte value, and long enough for the key table to wrap.
  std::string plain;
  for (int b = 0; b < 256; ++b) plain += static_cast<char>(b);
  while (plain.size() < 3000) plain += "b ^([a-z0-9-]+\\.)*evil-site\\.test(:|/|$)\n";
  const std::string plainPath = dir + "/list-\xC3\xA4.txt";  // a UTF-8 name
  ASSERT_TRUE(WriteFileBytes(plainPath, plain));
  ASSERT_TRUE(WriteFileBytes(dir + "/db.dat", std::string(5000, 'x')));  // longer, replaced
  EXPECT_EQ(0, Db({"encrypt", plainPath, dir + "/db.dat"}).status);
  EXPECT_EQ(Container(plain), ReadFileBytes(dir + "/db.dat"));
  EXPECT_EQ(0, Db({"decrypt", dir + "/db.dat", dir + "/back.txt"}).status);
  EXPECT_EQ(plain, ReadFileBytes(dir + "/back.txt"));
  // Empty text gives the container that verifies, so it survives the way back.
  ASSERT_TRUE(WriteFileBytes(dir + "/empty.txt", ""));
  EXPECT_EQ(0, Db({"encrypt", dir + "/empty.txt", dir + "/empty.dat"}).status);
  EXPECT_EQ(std::string(1, '\0'), ReadFileBytes(dir + "/empty.dat"));
  EXPECT_EQ(0, Db({"decrypt", dir + "/empty.dat", dir + "/empty.back"}).status);

  // A damaged container: nothing written, unless forced.
  std::string damaged = Container(plain);
  damaged[3] = static_cast<char>(damaged[3] ^ 0x40);
  ASSERT_TRUE(WriteFileBytes(dir + "/bad.dat", damaged));
  EXPECT_THAT(Db({"decrypt", dir + "/bad.dat", dir + "/back.txt"}).err,
              HasSubstr("checksum fails: the container is damaged; nothing written"));
  EXPECT_EQ(plain, ReadFileBytes(dir + "/back.txt"));
  EXPECT_EQ(3, Db({"decrypt", "--force", dir + "/bad.dat", dir + "/forced.txt"}).status);
  EXPECT_EQ(CDecrypt(damaged).GetResult(), ReadFileBytes(dir + "/forced.txt"));
  // explain will not pass a damaged container off as an empty list.
  EXPECT_THAT(Db({"explain", dir + "/bad.dat", "http://evil.test/"}).err,
              HasSubstr("neither a valid container"));
}

TEST(DbTool, BadInvocationsFailWithAMessageAndWriteNothing) {
  const std::string dir = Folder();
  const std::string plain = dir + "/plain.txt";
  ASSERT_TRUE(WriteFileBytes(plain, "b ^evil\\.test/\n"));
  std::filesystem::create_directories(dir + "/sub");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{}, 2, "a command is needed"},
      {{"frob", plain}, 2, "unknown command 'frob'"},
      {{"encrypt", plain}, 2, "encrypt takes PLAIN and OUT"},
      {{"explain", plain}, 2, "at least one URL"},
      {{"encrypt", "--force", plain, dir + "/x"}, 2, "--force applies to decrypt only"},
      {{"explain", dir + "/missing", "http://a.test/"}, 1,
       "cannot read '" + dir + "/missing': No such file or directory"},
      {{"encrypt", plain, dir + "/none/x"}, 1, "cannot write '" + dir + "/none/x'"},
      {{"encrypt", plain, dir + "/sub"}, 1, "cannot write '" + dir + "/sub': it is a folder"},
  };
  for (const Case& c : cases) {
    const Outcome o = Db(c.args);
    const std::string shown = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(c.status, o.status) << shown;
    EXPECT_THAT(o.err, HasSubstr(c.message)) << shown;
    EXPECT_EQ(c.status == 2, o.err.find("Usage:") != std::string::npos) << shown;
  }
  EXPECT_EQ((std::vector<std::string>{"plain.txt", "sub"}), Names(dir));
  EXPECT_TRUE(std::filesystem::is_empty(dir + "/sub"));

  const Outcome help = Db({"--help"});
  EXPECT_EQ(0, help.status);
  EXPECT_THAT(help.out, StartsWith("Usage:"));
}

// Line by line: what the filter makes of each, and the line number check gives.
const std::string kMixed = "# the publisher's list\n"  // 1: comment
                           "w ^www\\.bank\\.test/\n"   // 2: white
                           "b\n"                       // 3: one field
                           "b ^bad(\n"                 // 4: pattern does not compile
                           "\n"                        // 5: empty
                           "G ^grey\\.test/\r\n"       // 6: grey, CR LF
                           "b\t^tab\\.test/\n"         // 7: TAB joins the fields into one
                           "black  ^evil\\.test/  extra\n"  // 8: black
                           "w trusted.test # keep it\n"     // 9: a comment after all
                           "x ^odd\\.test/\n"               // 10: no kind
                           "b " + std::string(513, 'x') + "\n"  // 11: too long
                           "b ^last\\.test/";                   // 12: no LF

TEST(DbCheck, ReportsEachLineTheFilterDropsWithItsNumberAndReason) {
  const std::string dir = Folder();
  ASSERT_TRUE(WriteFileBytes(dir + "/mixed.txt", kMixed));
  const Outcome o = Db({"check", dir + "/mixed.txt"});
  EXPECT_EQ(1, o.status);
  EXPECT_EQ("line 3: rejected: too few fields\n    b\n"
            "line 4: rejected: pattern does not compile: Unmatched marking parenthesis ( or \\(."
            "  The error occurred while parsing the regular expression: '^bad(>>>HERE>>>'.\n"
            "    b ^bad(\n"
            "line 7: rejected: too few fields (TAB does not separate fields)\n    b^tab\\.test/\n"
            "line 9: ignored: the \"#\" makes the whole line a comment, text before it included\n"
            "    w trusted.test # keep it\n"
            "line 11: rejected: pattern longer than 512 characters\n    b " + std::string(513, 'x') +
                "\n"
            "line 12: ignored: the last line does not end with LF, so it is ignored\n"
            "    b ^last\\.test/\n"
            "accepted 4 entries: white 1, grey 1, black 1, none 1\n"
            "rejected 4 lines, ignored 2\n",
            o.out);
  CPhishListEntries list;  // the filter's own load agrees on what is accepted
  LoadInto(list, kMixed, DbForm::Plain);
  EXPECT_EQ(Check(kMixed).AcceptedCount(), list.GetCount());

  // A clean list passes; a trailing comment or blanks without LF hold no entry.
  ASSERT_TRUE(WriteFileBytes(dir + "/clean.txt", "b ^evil\\.test/\r\n   \n# end"));
  const Outcome clean = Db({"check", dir + "/clean.txt"});
  EXPECT_EQ(0, clean.status) << clean.out;
  EXPECT_THAT(clean.out, HasSubstr("accepted 1 entries: white 0, grey 0, black 1, none 0\n"
                                   "rejected 0 lines, ignored 0\n"));
}

TEST(DbExplain, FirstMatchDecidesForContainerAndPlainTextAlike) {
  const std::string dir = Folder();
  const char kOrdered[] = "w ^www\\.bank\\.test/\nb bank\\.test\ng ^grey\\.test/\n";
  ASSERT_TRUE(WriteFileBytes(dir + "/list.txt", kOrdered));
  ASSERT_TRUE(WriteFileBytes(dir + "/list.dat", Container(kOrdered)));
  const char kVerdicts[] =
      "address: http://www.bank.test/login\n"
      "  searched in: www.bank.test/login\n"
      "  white: entry 1 of 3 (counting from 1): ^www\\.bank\\.test/\n"
      "address: http://nothing.test/\n"
      "  searched in: nothing.test/\n"
      "  not listed: no entry matches\n"
      // Other schemes keep their prefix, so the anchored white entry misses.
      "address: ftp://www.bank.test/\n"
      "  searched in: ftp://www.bank.test/ (not http or https: searched as given)\n"
      "  black: entry 2 of 3 (counting from 1): bank\\.test\n"
      "  note: the filter does not look this address up: it scans only http and https\n";
  for (const char* name : {"/list.dat", "/list.txt"}) {
    const Outcome o = Db({"explain", dir + name, "http://www.bank.test/login",
                          "http://nothing.test/", "ftp://www.bank.test/"});
    EXPECT_EQ(0, o.status) << o.err;
    const std::string form = name == std::string("/list.dat")
                                 ? "enciphered container"
                                 : "plain text (not a container; enciphered in memory)";
    EXPECT_EQ("database: " + dir + name + ": " + form + ", 3 entries\n" + kVerdicts, o.out);
  }
}

TEST(DbDetect, PlainTextThatHappensToVerifyIsStillReadAsPlain) {
  // One plain file in 256 has a last byte equal to the sum of the others;
  // pad a comment until this one does.
  std::string text = "b ^evil\\.test/\n# pad ";
  for (unsigned sum = 0;; sum = 0) {
    for (char c : text) sum += static_cast<unsigned char>(c);
    const unsigned need = (0x0A - sum) & 0xFF;
    if (need == 0) break;
    text += static_cast<char>(need >= 0x20 && need <= 0x7E ? need : 0x7E);
  }
  text += '\n';
  ASSERT_TRUE(CDecrypt(text).IsValid());

  const Detection d = Detect(text);
  EXPECT_EQ(DbForm::Plain, d.form);
  CPhishListEntries list;
  LoadInto(list, text, d.form);
  EXPECT_EQ(LIST_KIND_BLACK, list.LookUp(CUri(L"http://evil.test/")));

  // The other forms, for contrast.
  EXPECT_EQ(text, Detect(Container(text)).plain);
  EXPECT_EQ(DbForm::Plain, Detect("").form);
  EXPECT_EQ(DbForm::Container, Detect(std::string(1, '\0')).form);
}

}  // namespace
