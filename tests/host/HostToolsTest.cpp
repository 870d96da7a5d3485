// The hosts' refusals and errors, each clear and with its exit status:
// ostrel-regsvr, ostrel-browser without a usable helper or with addresses
// it cannot take, and ostrel-serve, which serves its folder and nothing
// above it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "com/Interfaces.h"
#include "common/TestEnv.h"
#include "host/Programs.h"
#include "platform/LibLoaderApi.h"
#include "platform/ProcessFacts.h"
#include "platform/Utf16.h"
#include "platform/Utf8.h"
#include "platform/WinInet.h"
#include "platform/WinReg.h"
#include "settings/Settings.h"

using namespace ostrel::test;

namespace {

std::string PlatformLibrary() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&CoCreateGuid), &module);
  wchar_t path[4096] = {};
  GetModuleFileNameW(module, path, 4096);
  return ostrel::platform::ToUtf8(path);
}

// The browser's filter polls nothing but a closed port of this machine.
void UpdatesGoNowhere() {
  CSettings::SetBHOVersion(CSettings::BuildNumber);
  CSettings::SetMDRemoteUri(L"http://127.0.0.1:9/md");
  CSettings::SetDBRemoteUpdUri(L"http://127.0.0.1:9/db");
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A GET through the platform's HTTP client: the status and the body.
std::pair<DWORD, std::string> Get(const std::string& url) {
  HINTERNET session = InternetOpenW(L"test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET file =
      InternetOpenUrlW(session, ostrel::platform::FromUtf8(url).c_str(), nullptr, 0, 0, 0);
  DWORD status = 0, size = sizeof status;
  std::string body;
  if (file) {
    HttpQueryInfoW(file, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
    char buffer[4096];
    DWORD read = 0;
    while (InternetReadFile(file, buffer, sizeof buffer, &read) && read) body.append(buffer, read);
    InternetCloseHandle(file);
  }
  InternetCloseHandle(session);
  return {status, body};
}

}  // namespace

TEST(HostTools, RegistrationAndWhatTheBrowserNeedsOfIt) {
  UpdatesGoNowhere();
  ProgramRun run = RunProgram(OSTREL_BROWSER, {"http://a.test/"});
  EXPECT_EQ(run.status, 3) << "nothing registered: no browsing unprotected";
  EXPECT_TRUE(Contains(run.err, "ostrel-regsvr")) << run.err;

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
  };
  const Case refusals[] = {
      {{}, 2, "usage"},
      {{"/u", "a.so", "b.so"}, 2, "unexpected argument b.so"},
      {{"/nonexistent/module.so"}, 3, "cannot load /nonexistent/module.so"},
      {{PlatformLibrary()}, 4, "has no DllRegisterServer"},
  };
  for (const Case& c : refusals) {
    run = RunProgram(OSTREL_REGSVR, c.args);
    EXPECT_EQ(run.status, c.status) << c.says;
    EXPECT_TRUE(Contains(run.err, c.says)) << run.err;
  }

  ASSERT_EQ(RunProgram(OSTREL_REGSVR, {OSTREL_MODULE}).status, 0);
  EXPECT_EQ(RunProgram(OSTREL_BROWSER, {"about:blank"}).status, 0);
  // A helper whose module is gone: the browser says which and stops.
  wchar_t clsid[40];
  StringFromGUID2(CLSID_MyBHO, clsid, 40);
  const std::wstring server = std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32";
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, KEY_SET_VALUE, &key),
            ERROR_SUCCESS);
  const std::string moved = ostrel::platform::ToUtf16Le(L"/nonexistent/OstrelAntiPhishingBHO.so");
  RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(moved.data()),
                 static_cast<DWORD>(moved.size()));
  RegCloseKey(key);
  run = RunProgram(OSTREL_BROWSER, {"about:blank"});
  EXPECT_EQ(run.status, 3);
  EXPECT_TRUE(Contains(run.err, "/nonexistent/OstrelAntiPhishingBHO.so cannot be loaded"))
      << run.err;

  run = RunProgram(OSTREL_REGSVR, {"/u", OSTREL_MODULE});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(RunProgram(OSTREL_BROWSER, {"about:blank"}).status, 3) << "unregistered: gone";
}

TEST(HostTools, TheBrowserReportsEachNavigationsError) {
  UpdatesGoNowhere();
  ASSERT_EQ(RunProgram(OSTREL_REGSVR, {OSTREL_MODULE}).status, 0);
  const ProgramRun run =
      RunProgram(OSTREL_BROWSER, {"--json", "www.example.test", "http://[::1/", "continue",
                                  "new-window", "about:blank", "close-window", "about:blank"});
  EXPECT_EQ(run.status, 1) << run.err;
  std::vector<JsonLine> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = run.out.find('\n', start)) != std::string::npos; start = end + 1)
    if (std::optional<JsonLine> line = ParseJsonLine(run.out.substr(start, end - start)))
      lines.push_back(*line);
  ASSERT_EQ(lines.size(), 5u) << run.out;
  const std::string errors[] = {"no scheme", "not a valid address", "not on a warning page"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(lines[i].at("outcome"), "error");
    EXPECT_TRUE(Contains(lines[i].at("error"), errors[i])) << lines[i].at("error");
  }
  // A second window has a thread and helpers of its own; closing it goes
  // back to the first.
  EXPECT_EQ(lines[3].at("window"), "2");
  EXPECT_EQ(lines[3].at("outcome"), "allowed");
  EXPECT_EQ(lines[4].at("window"), "1");
  EXPECT_EQ(RunProgram(OSTREL_BROWSER, {"--no-such-option"}).status, 2);
}

TEST(HostTools, TheStaticServerServesItsFolderOnly) {
  namespace fs = std::filesystem;
  const std::string folder = TestRoot() + "/served";
  fs::create_directories(folder + "/sub");
  fs::create_directories(TestRoot() + "/served-old");
  ASSERT_TRUE(WriteFileBytes(folder + "/sub/page.html", "<p>page</p>"));
  ASSERT_TRUE(WriteFileBytes(TestRoot() + "/secret.txt", "secret"));
  ASSERT_TRUE(WriteFileBytes(TestRoot() + "/served-old/page.html", "secret"));
  // Links out of the folder, to a file, to a folder above it, and to a
  // folder whose name only begins like it; and one that stays inside.
  fs::create_symlink(TestRoot() + "/secret.txt", folder + "/file-link.txt");
  fs::create_symlink(TestRoot(), folder + "/up");
  fs::create_symlink("../served-old", folder + "/old");
  fs::create_symlink("sub/page.html", folder + "/alias.html");
  for (const std::vector<std::string>& wrong : {std::vector<std::string>{},
                                                {TestRoot() + "/secret.txt"},
                                                {folder, "--port", "http"},
                                                {folder, "--port", "70000"}})
    EXPECT_EQ(RunProgram(OSTREL_SERVE, wrong).status, 2);

  StaticServer server(folder);
  ASSERT_FALSE(server.Base().empty());
  const auto page = Get(server.Base() + "sub/page.html?x=1");
  EXPECT_EQ(page.first, 200u);
  EXPECT_EQ(page.second, "<p>page</p>");
  EXPECT_EQ(server.NextRequest().value_or(""), "GET /sub/page.html?x=1 200 11");
  EXPECT_EQ(Get(server.Base() + "alias.html").second, "<p>page</p>") << "a link inside is served";
  EXPECT_TRUE(server.NextRequest());
  for (const char* outside : {"../secret.txt", "sub/../../secret.txt", "%2e%2e/secret.txt",
                              "file-link.txt", "up/secret.txt", "old/page.html",
                              "file-link.txt%00.html"}) {
    const auto refused = Get(server.Base() + outside);
    EXPECT_NE(refused.second, "secret") << outside;
    EXPECT_TRUE(refused.first == 404 || refused.first == 403) << outside << ": " << refused.first;
    EXPECT_TRUE(server.NextRequest()) << "each request is logged";
  }

  // What a request line carries reaches the log escaped, never raw.
  const int port = std::stoi(server.Base().substr(server.Base().rfind(':') + 1));
  const std::string send =  // bash's printf writes the octal escapes as bytes
      "exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(port) +
      "; printf 'GET /\\033[2J\\033]0;owned\\007\\\\x?\\233 HTTP/1.1\\r\\nHost: a\\r\\n"
      "Connection: close\\r\\n\\r\\n' >&3; timeout 10 cat <&3 >/dev/null";
  ASSERT_EQ(RunProgram("/bin/bash", {"-c", send}).status, 0);
  const std::string logged = server.NextRequest().value_or("");
  EXPECT_EQ(logged.substr(0, logged.rfind(" 404 ")), "GET /\\x1b[2J\\x1b]0;owned\\x07\\\\x?\\x9b");
}
