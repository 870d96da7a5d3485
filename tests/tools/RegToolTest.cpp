// ostrel-reg, run as the program (exit status, standard output and error,
// no questions asked) against the registry of this test process.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "common/TestEnv.h"
#include "platform/Utf16.h"
#include "platform/WinReg.h"
#include "reg/RegTool.h"

namespace {

using ostrel::platform::ToUtf16Le;
using ostrel::test::ReadFileBytes;
using ostrel::test::WriteFileBytes;
using Outcome = ostrel::test::ProgramRun;

Outcome Reg(const std::vector<std::string>& args) {
  return ostrel::test::RunProgram(OSTREL_REG_TOOL, args);
}

std::string Raw(const wchar_t* key, const wchar_t* name) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return "<no key>";
  BYTE buffer[256];
  DWORD size = sizeof buffer;
  const LSTATUS rc = RegQueryValueExW(h, name, nullptr, nullptr, buffer, &size);
  RegCloseKey(h);
  return rc == ERROR_SUCCESS ? std::string(reinterpret_cast<char*>(buffer), size) : "<no value>";
}

std::string StoreFile() {
  return std::string(std::getenv("XDG_CONFIG_HOME")) + "/ostrel/registry.db";
}

const char* const kKey = "HKCU\\SOFTWARE\\Ostrel\\AntiPhish";
const wchar_t* const kPath = L"SOFTWARE\\Ostrel\\AntiPhish";

TEST(RegTool, AddsAndQueriesStringsAndDwords) {
  EXPECT_EQ(0, Reg({"add", kKey, "/v", "GreyRedirectUri", "/d", "http://w\xC3\xA4rn/"}).status);
  EXPECT_EQ(0, Reg({"ADD", "hkey_current_user\\software\\ostrel\\antiphish", "/V", "ACTGrey", "/T",
                    "reg_dword", "/D", "0x1F"})
                   .status);
  EXPECT_EQ(0, Reg({"add", kKey, "/ve", "/d", "default"}).status);
  EXPECT_EQ(0, Reg({"add", std::string(kKey) + "\\Child"}).status);  // a key alone
  // The bytes the system reads: UTF-16LE without terminator, 4 bytes LE.
  EXPECT_EQ(ToUtf16Le(L"http://w\u00e4rn/"), Raw(kPath, L"GreyRedirectUri"));
  EXPECT_EQ(std::string("\x1F\0\0\0", 4), Raw(kPath, L"ACTGrey"));

  const Outcome all = Reg({"query", kKey});
  EXPECT_EQ(0, all.status) << all.err;
  EXPECT_EQ(
      "\nHKEY_CURRENT_USER\\SOFTWARE\\Ostrel\\AntiPhish\n"
      "    GreyRedirectUri    REG_SZ    http://w\xC3\xA4rn/\n"
      "    ACTGrey    REG_DWORD    0x1f\n"
      "    (Default)    REG_SZ    default\n"
      "\nHKEY_CURRENT_USER\\SOFTWARE\\Ostrel\\AntiPhish\\Child\n",
      all.out);
  const Outcome one = Reg({"query", kKey, "/v", "actgrey"});
  EXPECT_EQ("\nHKEY_CURRENT_USER\\SOFTWARE\\Ostrel\\AntiPhish\n    actgrey    REG_DWORD    0x1f\n",
            one.out);
}

TEST(RegTool, RefusesRatherThanAsks) {
  ASSERT_EQ(0, Reg({"add", kKey, "/v", "Name", "/d", "old"}).status);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"add", kKey, "/v", "Name", "/d", "new"},
        {"delete", kKey, "/v", "Name"},
        {"delete", kKey}}) {
    const Outcome refused = Reg(args);
    EXPECT_EQ(1, refused.status);
    EXPECT_NE(std::string::npos, refused.err.find("/f")) << refused.err;
  }
  EXPECT_EQ(ToUtf16Le(L"old"), Raw(kPath, L"Name"));
  EXPECT_EQ(0, Reg({"add", kKey, "/v", "Name", "/d", "new", "/f"}).status);
  EXPECT_EQ(ToUtf16Le(L"new"), Raw(kPath, L"Name"));
  EXPECT_EQ(0, Reg({"delete", kKey, "/v", "NAME", "/f"}).status);
  EXPECT_EQ("<no value>", Raw(kPath, L"Name"));
  ASSERT_EQ(0, Reg({"add", std::string(kKey) + "\\Deep\\Er", "/v", "x", "/d", "y"}).status);
  EXPECT_EQ(0, Reg({"delete", "HKCU\\SOFTWARE\\Ostrel", "/f"}).status);
  EXPECT_EQ("<no key>", Raw(L"SOFTWARE\\Ostrel", nullptr));
}

TEST(RegTool, ReportsErrorsWithStatusOneAndNothingWritten) {
  const char* const kDword = "is not a REG_DWORD: give a number from 0 to 4294967295";
  const char* const kUtf8 = "is not valid UTF-8";
  // clang-format off
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{}, "Usage"}, {{"list", kKey}, "Usage"}, {{"query", "HKXX\\Foo"}, "Usage"},
      {{"query", kKey, "/v"}, "Usage"}, {{"query", kKey, "/d", "x"}, "Usage"},
      {{"add", kKey, "/v", "a", "/ve"}, "Usage"}, {{"delete", "HKCU", "/f"}, "root key"},
      {{"query", "HKCU\\Missing"}, "not found"}, {{"delete", "HKCU", "/v", "X", "/f"}, "not found"},
      {{"add", kKey, "/v", "T", "/t", "REG_BINARY", "/d", "00"}, "REG_SZ or REG_DWORD"},
      {{"add", "HKCU\\A\\\\B"}, "not valid"},
      // Not UTF-8: each would be stored with U+FFFD for its bytes, as others.
      {{"add", "HKCU\\A\xFF"}, kUtf8}, {{"add", kKey, "/v", "\xC3", "/d", "x"}, kUtf8},
      {{"add", kKey, "/v", "V", "/d", "\xED\xA0\x80"}, kUtf8}, {{"query", "HKCU\\\xC0\xAF"}, kUtf8}};
  // clang-format on
  for (const auto& c : cases) {
    const Outcome o = Reg(c.args);
    EXPECT_EQ(1, o.status) << c.says;
    EXPECT_NE(std::string::npos, o.err.find(c.says)) << o.err;
    EXPECT_EQ("", o.out);
  }
  for (const char* bad : {"", "-1", "+1", " 1", "12abc", "4294967296", "0x1FFFFFFFF", "0x",
                          "9999999999999999999999"}) {
    const Outcome o = Reg({"add", kKey, "/v", "D", "/t", "REG_DWORD", "/d", bad});
    EXPECT_NE(std::string::npos, o.err.find(kDword)) << bad << ": " << o.err;
  }
  EXPECT_EQ("", ReadFileBytes(StoreFile())) << "a refused command wrote the store";
}

// A damaged store is said to be damaged, never listed in part nor taken for
// a missing key; a change sets it aside (kept) and starts a new store.
TEST(RegTool, SaysTheStoreIsDamaged) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr));
  const std::string data = ToUtf16Le(std::wstring(1000, L'd'));
  for (int i = 0; i < 40; ++i)
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, (L"V" + std::to_wstring(i)).c_str(), 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(data.data()), 2000));
  RegCloseKey(key);
  std::string torn = ReadFileBytes(StoreFile());
  ASSERT_GT(torn.size(), 12u * 4096);
  for (std::size_t i = 8 * 4096; i < 9 * 4096; ++i) torn[i] = static_cast<char>(0xC3 ^ i);
  for (const std::string& damaged : {torn, std::string(8192, '\x5A')}) {
    ASSERT_TRUE(WriteFileBytes(StoreFile(), damaged));
    for (const std::vector<std::string>& args : {std::vector<std::string>{"query", kKey},
                                                 {"query", kKey, "/v", "V3"},
                                                 {"query", "HKCU"}}) {
      const Outcome o = Reg(args);
      EXPECT_EQ(1, o.status) << args.size();
      EXPECT_EQ("", o.out);
      EXPECT_NE(std::string::npos, o.err.find("ERROR: Cannot read")) << o.err;
      EXPECT_NE(std::string::npos, o.err.find("damaged")) << o.err;
    }
    const Outcome add = Reg({"add", kKey, "/v", "V", "/d", "w"});
    EXPECT_EQ(0, add.status) << add.err;
    EXPECT_NE(std::string::npos, add.err.find("is kept as " + StoreFile() + ".damaged-"))
        << add.err;
    EXPECT_EQ(ToUtf16Le(L"w"), Raw(kPath, L"V"));
  }
}

TEST(RegTool, FailsWhenItsReportCannotBeWritten) {
  ASSERT_EQ(0, Reg({"add", kKey, "/v", "V", "/d", "v"}).status);
  const int status = ostrel::test::RunInChild([] {
    if (!std::freopen("/dev/full", "w", stdout)) return 10;
    return ostrel::tools::reg::Run({"query", kKey}, std::cout, std::cerr);
  });
  EXPECT_EQ(1, status);
}

}  // namespace
