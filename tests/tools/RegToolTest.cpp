// ostrel-reg, run as the program (exit status, standard output and error,
// no questions asked) against the registry of this test process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/TestEnv.h"
#include "platform/Utf16.h"
#include "platform/WinReg.h"
#include "reg/RegTool.h"

namespace {

using ostrel::test::ReadFileBytes;
using ostrel::test::TestRoot;

using Outcome = ostrel::test::ProgramRun;

// Runs the tool with standard input closed off, so that any question it
// asked would find no answer.
Outcome Reg(const std::vector<std::string>& args) {
  return ostrel::test::RunProgram(OSTREL_REG_TOOL, args);
}

std::string Raw(HKEY root, const wchar_t* key, const wchar_t* name, DWORD* type = nullptr) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(root, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return "<no key>";
  BYTE buffer[256];
  DWORD size = sizeof buffer;
  const LSTATUS rc = RegQueryValueExW(h, name, nullptr, type, buffer, &size);
  RegCloseKey(h);
  return rc == ERROR_SUCCESS ? std::string(reinterpret_cast<char*>(buffer), size) : "<no value>";
}

const char* const kKey = "HKCU\\SOFTWARE\\Ostrel\\AntiPhish";

TEST(RegTool, AddsAndQueriesStringsAndDwords) {
  EXPECT_EQ(0,
            Reg({"add", kKey, "/v", "GreyRedirectUri", "/t", "REG_SZ", "/d", "http://w\xC3\xA4rn/"})
                .status);
  EXPECT_EQ(0, Reg({"ADD", "hkey_current_user\\software\\ostrel\\antiphish", "/V", "ACTGrey", "/T",
                    "reg_dword", "/D", "0x1F"})
                   .status);
  EXPECT_EQ(0, Reg({"add", kKey, "/v", "PDBUN", "/t", "REG_DWORD", "/d", "4294967295"}).status);
  EXPECT_EQ(0, Reg({"add", kKey, "/ve", "/d", "default"}).status);
  EXPECT_EQ(0, Reg({"add", "HKLM\\SOFTWARE\\Ostrel\\AntiPhish\\Sub"}).status);  // a key alone
  EXPECT_EQ(0, Reg({"add", std::string(kKey) + "\\Child"}).status);

  // The bytes the system reads: UTF-16LE without terminator, 4 bytes LE.
  DWORD type = 0;
  EXPECT_EQ(ostrel::platform::ToUtf16Le(L"http://w\u00e4rn/"),
            Raw(HKEY_CURRENT_USER, L"SOFTWARE\\Ostrel\\AntiPhish", L"GreyRedirectUri", &type));
  EXPECT_EQ(REG_SZ, type);
  EXPECT_EQ(std::string("\x1F\0\0\0", 4),
            Raw(HKEY_CURRENT_USER, L"Software\\Ostrel\\AntiPhish", L"ACTGrey", &type));
  EXPECT_EQ(REG_DWORD, type);
  EXPECT_EQ("\xFF\xFF\xFF\xFF", Raw(HKEY_CURRENT_USER, L"Software\\Ostrel\\AntiPhish", L"PDBUN"));

  const Outcome all = Reg({"query", kKey});
  EXPECT_EQ(0, all.status) << all.err;
  EXPECT_EQ(
      "\nHKEY_CURRENT_USER\\SOFTWARE\\Ostrel\\AntiPhish\n"
      "    GreyRedirectUri    REG_SZ    http://w\xC3\xA4rn/\n"
      "    ACTGrey    REG_DWORD    0x1f\n"
      "    PDBUN    REG_DWORD    0xffffffff\n"
      "    (Default)    REG_SZ    default\n"
      "\nHKEY_CURRENT_USER\\SOFTWARE\\Ostrel\\AntiPhish\\Child\n",
      all.out);
  const Outcome one = Reg({"query", kKey, "/v", "actgrey"});
  EXPECT_EQ(0, one.status);
  EXPECT_EQ("\nHKEY_CURRENT_USER\\SOFTWARE\\Ostrel\\AntiPhish\n    actgrey    REG_DWORD    0x1f\n",
            one.out);
  EXPECT_EQ(0, Reg({"query", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Ostrel\\AntiPhish\\Sub"}).status);
}

TEST(RegTool, RefusesRatherThanAsks) {
  ASSERT_EQ(0, Reg({"add", kKey, "/v", "Name", "/d", "old"}).status);
  const Outcome refused = Reg({"add", kKey, "/v", "Name", "/d", "new"});
  EXPECT_EQ(1, refused.status);
  EXPECT_NE(std::string::npos, refused.err.find("/f")) << refused.err;
  EXPECT_EQ(ostrel::platform::ToUtf16Le(L"old"),
            Raw(HKEY_CURRENT_USER, L"SOFTWARE\\Ostrel\\AntiPhish", L"Name"));
  EXPECT_EQ(0, Reg({"add", kKey, "/v", "Name", "/d", "new", "/f"}).status);
  EXPECT_EQ(ostrel::platform::ToUtf16Le(L"new"),
            Raw(HKEY_CURRENT_USER, L"SOFTWARE\\Ostrel\\AntiPhish", L"Name"));

  const Outcome keep = Reg({"delete", kKey, "/v", "Name"});
  EXPECT_EQ(1, keep.status);
  EXPECT_NE(std::string::npos, keep.err.find("/f"));
  EXPECT_EQ(1, Reg({"delete", kKey}).status);
  EXPECT_EQ(ostrel::platform::ToUtf16Le(L"new"),
            Raw(HKEY_CURRENT_USER, L"SOFTWARE\\Ostrel\\AntiPhish", L"Name"));

  EXPECT_EQ(0, Reg({"delete", kKey, "/v", "NAME", "/f"}).status);
  EXPECT_EQ("<no value>", Raw(HKEY_CURRENT_USER, L"SOFTWARE\\Ostrel\\AntiPhish", L"Name"));
  ASSERT_EQ(0, Reg({"add", std::string(kKey) + "\\Deep\\Er", "/v", "x", "/d", "y"}).status);
  EXPECT_EQ(0, Reg({"delete", "HKCU\\SOFTWARE\\Ostrel", "/f"}).status);
  EXPECT_EQ("<no key>", Raw(HKEY_CURRENT_USER, L"SOFTWARE\\Ostrel", nullptr));
  EXPECT_EQ(1, Reg({"delete", "HKCU", "/f"}).status);
}

TEST(RegTool, ReportsErrorsWithStatusOne) {
  struct Case {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{}, "Usage"},
      {{"query"}, "Usage"},
      {{"list", kKey}, "Usage"},
      {{"query", "HKXX\\Foo"}, "Usage"},
      {{"query", kKey, "/v"}, "Usage"},
      {{"query", kKey, "/d", "x"}, "Usage"},
      {{"add", kKey, "/v", "a", "/ve"}, "Usage"},
      {{"add", kKey, "/v", "a", "/x"}, "Usage"},
      {{"query", "HKCU\\Missing"}, "not found"},
      {{"query", "HKCU", "/v", "Missing"}, "not found"},
      {{"delete", "HKCU\\Missing", "/f"}, "not found"},
      {{"delete", "HKCU", "/v", "Missing", "/f"}, "not found"},
      {{"add", kKey, "/v", "T", "/t", "REG_BINARY", "/d", "00"}, "REG_SZ or REG_DWORD"},
      {{"add", "HKCU\\A\\\\B"}, "not valid"},
  };
  for (const Case& c : cases) {
    const Outcome o = Reg(c.args);
    EXPECT_EQ(1, o.status) << c.says;
    EXPECT_NE(std::string::npos, o.err.find(c.says)) << o.err;
    EXPECT_EQ("", o.out);
  }
  // A DWORD must be a number from 0 to 4294967295, decimal or 0x hex.
  for (const char* bad : {"", "abc", "-1", "+1", " 1", "1 ", "12abc", "4294967296", "0x1FFFFFFFF",
                          "0x", "0x-1", "99999999999999999999999"}) {
    const Outcome o = Reg({"add", kKey, "/v", "D", "/t", "REG_DWORD", "/d", bad});
    EXPECT_EQ(1, o.status) << bad;
    EXPECT_NE(std::string::npos, o.err.find("4294967295")) << bad << ": " << o.err;
  }
  EXPECT_EQ("<no key>", Raw(HKEY_CURRENT_USER, L"SOFTWARE\\Ostrel\\AntiPhish", L"D"));
  unsigned long value = 7;
  EXPECT_TRUE(ostrel::tools::reg::ParseDword("0", &value));
  EXPECT_EQ(0ul, value);
  EXPECT_TRUE(ostrel::tools::reg::ParseDword("0XfFfFfFfF", &value));
  EXPECT_EQ(4294967295ul, value);
  EXPECT_TRUE(ostrel::tools::reg::ParseDword("007", &value));
  EXPECT_EQ(7ul, value);
}

TEST(RegTool, LeavesADamagedStoreAlone) {
  ASSERT_EQ(0, Reg({"add", kKey, "/v", "V", "/d", "v"}).status);
  const std::string store = std::string(std::getenv("XDG_CONFIG_HOME")) + "/ostrel/registry.db";
  ASSERT_TRUE(ostrel::test::WriteFileBytes(store, std::string(8192, '\x5A')));
  const Outcome add = Reg({"add", kKey, "/v", "V", "/d", "w", "/f"});
  EXPECT_EQ(1, add.status);
  EXPECT_NE(std::string::npos, add.err.find("damaged")) << add.err;
  EXPECT_EQ(1, Reg({"query", kKey}).status);
  EXPECT_TRUE(std::string(8192, '\x5A') == ReadFileBytes(store)) << "the damaged store was changed";
}

}  // namespace
