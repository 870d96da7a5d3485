// ostrel-db run as the program (files, exit status, messages) and its
// analysis called directly, each checked against the filter's own classes:
// the cipher for the container, Load for what a database yields.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
  const std::string dir = TestRoot() + "/work";
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

TEST(DbTool, EncryptAndDecryptRoundTripThroughFiles) {
  const std::string dir = Folder();
  // Every byte value, and long enough for the key table to wrap.
  std::string plain;
  for (int b = 0; b < 256; ++b) plain += static_cast<char>(b);
  while (plain.size() < 3000) plain += "b ^([a-z0-9-]+\\.)*evil-site\\.test(:|/|$)\n";
  const std::string plainPath = dir + "/list-\xC3\xA4.txt";  // a UTF-8 name
  ASSERT_TRUE(WriteFileBytes(plainPath, plain));
  ASSERT_TRUE(WriteFileBytes(dir + "/db.dat", std::string(5000, 'x')));  // longer, replaced
  chmod((dir + "/db.dat").c_str(), 0640);

  const Outcome enc = Db({"encrypt", plainPath, dir + "/db.dat"});
  EXPECT_EQ(0, enc.status) << enc.err;
  EXPECT_EQ(Container(plain), ReadFileBytes(dir + "/db.dat"));
  struct stat st {};
  ASSERT_EQ(0, stat((dir + "/db.dat").c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 0777u) << "a replaced file keeps its permissions";

  const Outcome dec = Db({"decrypt", dir + "/db.dat", dir + "/back.txt"});
  EXPECT_EQ(0, dec.status) << dec.err;
  EXPECT_EQ(plain, ReadFileBytes(dir + "/back.txt"));

  // Empty text gives the container that verifies, so it survives the way back.
  ASSERT_TRUE(WriteFileBytes(dir + "/empty.txt", ""));
  EXPECT_EQ(0, Db({"encrypt", dir + "/empty.txt", dir + "/empty.dat"}).status);
  EXPECT_EQ(std::string(1, '\0'), ReadFileBytes(dir + "/empty.dat"));
  EXPECT_EQ(0, Db({"decrypt", dir + "/empty.dat", dir + "/empty.back"}).status);
  EXPECT_TRUE(std::filesystem::exists(dir + "/empty.back"));
  EXPECT_EQ("", ReadFileBytes(dir + "/empty.back"));

  // No temporary file is left beside the outputs.
  EXPECT_EQ((std::vector<std::string>{"back.txt", "db.dat", "empty.back", "empty.dat",
                                      "empty.txt", "list-\xC3\xA4.txt"}),
            Names(dir));
}

TEST(DbTool, DamagedContainerIsRefusedUnlessForced) {
  const std::string dir = Folder();
  const std::string plain = "b ^evil\\.test/\nw ^good\\.test/\n";
  std::string damaged = Container(plain);
  damaged[3] = static_cast<char>(damaged[3] ^ 0x40);
  ASSERT_TRUE(WriteFileBytes(dir + "/bad.dat", damaged));
  ASSERT_TRUE(WriteFileBytes(dir + "/old.txt", "previous content"));

  for (const char* out : {"/old.txt", "/new.txt"}) {
    const Outcome refused = Db({"decrypt", dir + "/bad.dat", dir + out});
    EXPECT_EQ(1, refused.status);
    EXPECT_THAT(refused.err, HasSubstr("checksum fails"));
    EXPECT_THAT(refused.err, HasSubstr("nothing written"));
  }
  EXPECT_EQ("previous content", ReadFileBytes(dir + "/old.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/new.txt"));

  const Outcome forced = Db({"decrypt", "--force", dir + "/bad.dat", dir + "/old.txt"});
  EXPECT_EQ(3, forced.status);
  EXPECT_THAT(forced.err, HasSubstr("warning"));
  const std::string written = ReadFileBytes(dir + "/old.txt");
  EXPECT_EQ(CDecrypt(damaged).GetResult(), written);
  ASSERT_EQ(plain.size(), written.size());
  for (std::size_t i = 0; i < plain.size(); ++i)
    EXPECT_EQ(i == 3, plain[i] != written[i]) << "only the damaged byte differs, at " << i;

  // explain will not pass a damaged container off as an empty list.
  const Outcome explained = Db({"explain", dir + "/bad.dat", "http://evil.test/"});
  EXPECT_EQ(1, explained.status);
  EXPECT_THAT(explained.err, HasSubstr("neither a valid container"));
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
      {{"--frob"}, 2, "unknown option '--frob'"},
      {{"encrypt", plain}, 2, "encrypt takes PLAIN and OUT"},
      {{"decrypt", plain, dir + "/x", dir + "/y"}, 2, "decrypt takes IN and OUT"},
      {{"check"}, 2, "check takes PLAIN"},
      {{"explain", plain}, 2, "at least one URL"},
      {{"encrypt", "--force", plain, dir + "/x"}, 2, "--force applies to decrypt only"},
      {{"encrypt", dir + "/missing", dir + "/x"}, 1, "cannot read '" + dir + "/missing'"},
      {{"check", dir + "/sub"}, 1, "cannot read '" + dir + "/sub'"},
      {{"explain", dir + "/missing", "http://a.test/"}, 1, "No such file"},
      {{"encrypt", plain, dir + "/none/x"}, 1, "cannot write '" + dir + "/none/x'"},
      {{"encrypt", plain, dir + "/sub"}, 1, "not a regular file"},
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
  EXPECT_THAT(help.out, HasSubstr("3 decrypt --force"));
}

// Line by line: what the filter makes of each, and the line number check gives.
const char kMixed[] =
    "# the publisher's list\n"              // 1: comment
    "w ^www\\.bank\\.test/\n"               // 2: white
    "b\n"                                   // 3: one field
    "b ^bad(\n"                             // 4: pattern does not compile
    "\n"                                    // 5: empty
    "G ^grey\\.test/\r\n"                   // 6: grey, CR LF
    "b\t^tab\\.test/\n"                     // 7: TAB joins the fields into one
    "black  ^evil\\.test/  extra\n"         // 8: black
    "w trusted.test # keep it\n"            // 9: a comment after all
    "x ^odd\\.test/\n"                      // 10: no kind
    "b ^last\\.test/";                      // 11: no LF

TEST(DbCheck, ReportsEachLineTheFilterDropsWithItsNumberAndReason) {
  const CheckReport report = Check(kMixed);
  using K = Finding::Kind;
  ASSERT_EQ(5u, report.findings.size());
  const struct {
    std::size_t line;
    K kind;
    const wchar_t* reason;
    const char* text;
  } expected[] = {
      {3, K::Rejected, L"too few fields", "b"},
      {4, K::Rejected, L"pattern does not compile: Unmatched marking parenthesis", "b ^bad("},
      {7, K::Rejected, L"too few fields (TAB does not separate fields)", "b^tab\\.test/"},
      {9, K::Commented, L"the \"#\" makes the whole line a comment", "w trusted.test # keep it"},
      {11, K::Unended, L"the last line does not end with LF", "b ^last\\.test/"},
  };
  for (std::size_t i = 0; i < report.findings.size(); ++i) {
    const Finding& f = report.findings[i];
    EXPECT_EQ(expected[i].line, f.line);
    EXPECT_EQ(expected[i].kind, f.kind) << f.line;
    EXPECT_EQ(0u, f.reason.find(expected[i].reason)) << f.line;
    EXPECT_EQ(expected[i].text, f.text) << f.line;
  }
  EXPECT_EQ(1u, report.accepted[LIST_KIND_WHITE]);
  EXPECT_EQ(1u, report.accepted[LIST_KIND_GREY]);
  EXPECT_EQ(1u, report.accepted[LIST_KIND_BLACK]);
  EXPECT_EQ(1u, report.accepted[LIST_KIND_NONE]);

  // The filter's own load agrees on what is accepted.
  CPhishListEntries list;
  LoadInto(list, kMixed, DbForm::Plain);
  EXPECT_EQ(report.AcceptedCount(), list.GetCount());

  // The program: the same report, and a failing status.
  const std::string dir = Folder();
  ASSERT_TRUE(WriteFileBytes(dir + "/mixed.txt", kMixed));
  const Outcome o = Db({"check", dir + "/mixed.txt"});
  EXPECT_EQ(1, o.status);
  EXPECT_THAT(o.out, HasSubstr("line 3: rejected: too few fields\n    b\n"));
  EXPECT_THAT(o.out, HasSubstr("line 4: rejected: pattern does not compile: "));
  EXPECT_THAT(o.out, HasSubstr("line 11: ignored: the last line does not end with LF"));
  EXPECT_THAT(o.out, HasSubstr("accepted 4 entries: white 1, grey 1, black 1, none 1\n"
                               "rejected 3 lines, ignored 2\n"));

  // A clean list passes; a trailing comment or blanks without LF hold no entry.
  ASSERT_TRUE(WriteFileBytes(dir + "/clean.txt", "b ^evil\\.test/\r\n   \n# end"));
  const Outcome clean = Db({"check", dir + "/clean.txt"});
  EXPECT_EQ(0, clean.status) << clean.out;
  EXPECT_THAT(clean.out, HasSubstr("accepted 1 entries: white 0, grey 0, black 1, none 0\n"
                                   "rejected 0 lines, ignored 0\n"));
}

const char kOrdered[] =
    "w ^www\\.bank\\.test/\n"  // 1: the bank's own site
    "b bank\\.test\n"          // 2: anything else that mentions it
    "g ^grey\\.test/\n";       // 3

TEST(DbExplain, FirstMatchDecidesForContainerAndPlainTextAlike) {
  const std::string dir = Folder();
  ASSERT_TRUE(WriteFileBytes(dir + "/list.txt", kOrdered));
  ASSERT_TRUE(WriteFileBytes(dir + "/list.dat", Container(kOrdered)));
  const std::vector<std::string> urls = {"http://www.bank.test/login", "https://login.bank.test/",
                                         "http://nothing.test/", "ftp://www.bank.test/"};
  const char kVerdicts[] =
      "address: http://www.bank.test/login\n"
      "  searched in: www.bank.test/login\n"
      "  white: entry 1 of 3 (counting from 1): ^www\\.bank\\.test/\n"
      "address: https://login.bank.test/\n"
      "  searched in: login.bank.test/\n"
      "  black: entry 2 of 3 (counting from 1): bank\\.test\n"
      "address: http://nothing.test/\n"
      "  searched in: nothing.test/\n"
      "  not listed: no entry matches\n"
      // Other schemes keep their prefix, so the anchored white entry misses.
      "address: ftp://www.bank.test/\n"
      "  searched in: ftp://www.bank.test/ (not http or https: searched as given)\n"
      "  black: entry 2 of 3 (counting from 1): bank\\.test\n"
      "  note: the filter does not look this address up: it scans only http and https\n";

  for (const char* name : {"/list.dat", "/list.txt"}) {
    std::vector<std::string> args = {"explain", dir + name};
    args.insert(args.end(), urls.begin(), urls.end());
    const Outcome o = Db(args);
    EXPECT_EQ(0, o.status) << o.err;
    const std::string form = name == std::string("/list.dat")
                                 ? "enciphered container"
                                 : "plain text (not a container; enciphered in memory)";
    EXPECT_EQ("database: " + dir + name + ": " + form + ", 3 entries\n" + kVerdicts, o.out);
  }

  // The library agrees with the list's own verdict for each address.
  CPhishListEntries list;
  LoadInto(list, Container(kOrdered), DbForm::Container);
  for (const std::string& url : urls) {
    const std::wstring address(url.begin(), url.end());
    const Explanation e = Explain(list, address);
    EXPECT_EQ(list.LookUp(CUri(address)), e.kind) << url;
    EXPECT_EQ(list.FindIndex(CUri(address)), e.index) << url;
  }
}

TEST(DbDetect, PlainTextThatHappensToVerifyIsStillReadAsPlain) {
  // One plain file in 256 has a last byte equal to the sum of the others;
  // pad a comment until this one does.
  std::string text = "b ^evil\\.test/\n# pad ";
  unsigned need = 0;
  for (;;) {
    unsigned sum = 0;
    for (char c : text) sum += static_cast<unsigned char>(c);
    need = (0x0A - sum) & 0xFF;
    if (need == 0) break;
    text += static_cast<char>(need >= 0x20 && need <= 0x7E ? need : 0x7E);
  }
  text += '\n';
  ASSERT_TRUE(CDecrypt(text).IsValid());

  const Detection d = Detect(text);
  EXPECT_EQ(DbForm::Plain, d.form);
  EXPECT_EQ(text, d.plain);
  CPhishListEntries list;
  LoadInto(list, text, d.form);
  EXPECT_EQ(LIST_KIND_BLACK, list.LookUp(CUri(L"http://evil.test/")));

  // The other forms, for contrast.
  EXPECT_EQ(DbForm::Container, Detect(Container(text)).form);
  EXPECT_EQ(text, Detect(Container(text)).plain);
  std::string damaged = Container(text);
  damaged.back() = static_cast<char>(damaged.back() + 1);
  EXPECT_EQ(DbForm::Damaged, Detect(damaged).form);
  EXPECT_EQ(DbForm::Plain, Detect("").form);
  EXPECT_EQ(DbForm::Container, Detect(std::string(1, '\0')).form);
}

}  // namespace
