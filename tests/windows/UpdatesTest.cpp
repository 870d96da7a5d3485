// Updates over Windows' own HTTP client (WinINet, Wine's under Wine)
// against a loopback server: what a fetch yields for a 2xx answer and for
// the others, a transfer abandoned by the abort event within a second
// (platform/InternetAbort.h, which Windows lacks and win32/ supplies), and
// an update cycle that saves and loads a download, changes nothing when the
// server fails, and never holds a closing window on a stalled server.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <tuple>

#include "platform/InternetAbort.h"
#include "support/KernelObjects.h"
#include "support/TraceCapture.h"
#include "update/Remote.h"
#include "update/RemoteMD.h"
#include "windows/WinTestEnv.h"
#include "windows/WinUpdateSite.h"

using namespace ostrel::test;
using Kind = LoopbackHttpServer::Kind;

namespace {

class Fetcher : public CRemote {
 public:
  using CRemote::CRemote;
  const std::wstring& Data() const { return m_data; }
};

std::wstring Widen(const std::string& bytes) {
  std::wstring wide;
  for (char b : bytes) wide += static_cast<wchar_t>(static_cast<unsigned char>(b));
  return wide;
}

const std::wstring kWaiting =
    L"Waiting for quit signal or next auto update cycle (which ever comes first)\r\n";

bool CyclesDone(const CTraceCapture& capture, std::size_t n) {
  return Eventually([&] { return capture.Count(kWaiting) >= n; });
}

}  // namespace

TEST(WinInetTest, A2xxBodyArrivesWholeAndAnyOtherStatusIsAFailedFetch) {
  LoopbackHttpServer server;
  std::string bytes;  // every byte value, over several reads of the client
  while (bytes.size() < 40000) bytes += static_cast<char>(bytes.size() * 7 % 256);
  server.Serve("/bytes", bytes);
  server.Serve("/empty", "");
  server.Serve("/404", "not here", 404);
  server.Serve("/500", "broken", 500);
  server.Serve("/204", "", 204);

  Fetcher whole(server.Url("/bytes"));
  ASSERT_TRUE(whole.Fetch());
  EXPECT_EQ(whole.Data(), Widen(bytes));
  EXPECT_EQ(server.Count("/bytes"), 1);
  // Every fetch asks the server again: no cache answers it.
  ASSERT_TRUE(whole.Fetch());
  EXPECT_EQ(server.Count("/bytes"), 2);

  for (const char* path : {"/empty", "/204"}) {
    Fetcher empty(server.Url(path));
    EXPECT_TRUE(empty.Fetch()) << path;
    EXPECT_TRUE(empty.Data().empty()) << path;
  }
  for (const char* path : {"/404", "/500", "/unset"}) {
    Fetcher failed(server.Url(path));
    EXPECT_FALSE(failed.Fetch()) << path;
    EXPECT_TRUE(failed.Data().empty()) << path;
    EXPECT_EQ(server.Count(path), 1) << path;
  }
  Fetcher nobody(L"http://127.0.0.1:9/closed");
  EXPECT_FALSE(nobody.Fetch());
}

// What the abort event relies on: WinINet ends a blocked request when
// another thread closes its session, as Windows documents for
// InternetCloseHandle. Wine's does not: the request goes on until the
// server drops the connection (here after 4 s), and no receive timeout set
// on the session bounds the wait for the response's head.
TEST(WinInetTest, ClosingTheSessionFromAnotherThreadEndsABlockedRequest) {
  LoopbackHttpServer server;
  server.Answer("/slow", Kind::Stall, {}, 200, 4000);
  HINTERNET session = InternetOpenW(L"test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  ASSERT_NE(session, nullptr);
  std::chrono::steady_clock::time_point closed;
  std::thread closer([&] {
    Eventually([&] { return server.Count("/slow") == 1; });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    closed = std::chrono::steady_clock::now();
    InternetCloseHandle(session);
  });
  HINTERNET request = InternetOpenUrlW(session, server.Url("/slow").c_str(), nullptr, 0,
                                       CRemote::kFlags, 0);
  const long long afterClose = MillisecondsSince(closed);
  closer.join();
  if (RunningUnderWine()) {
    // (It even answers with a request handle for the empty response.)
    EXPECT_GT(afterClose, 3000) << "Wine now ends the request when its session closes: the "
                                   "abort tests can run under Wine";
    if (request) InternetCloseHandle(request);
  } else {
    EXPECT_LT(afterClose, 1000);
    EXPECT_EQ(request, nullptr);
  }
}

TEST(WinInetTest, TheAbortEventAbandonsATransferWithinASecond) {
  if (RunningUnderWine())
    GTEST_SKIP() << "Wine's WinINet does not end a blocked request when its session is closed "
                    "(ClosingTheSessionFromAnotherThreadEndsABlockedRequest)";
  const std::pair<const char*, Kind> rows[] = {
      {"no answer", Kind::Stall},
      {"body cut short", Kind::StallInBody},
  };
  for (const auto& [name, kind] : rows) {
    SCOPED_TRACE(name);
    LoopbackHttpServer server;
    server.Answer("/slow", kind, std::string(1000, 'x'));
    CEvent quit(false, true);
    Fetcher fetcher(server.Url("/slow"), quit.GetHandle());
    std::chrono::steady_clock::time_point signalled;
    std::thread closer([&] {
      Eventually([&] { return server.Count("/slow") == 1; });
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      signalled = std::chrono::steady_clock::now();
      quit.Set();
    });
    EXPECT_FALSE(fetcher.Fetch());
    closer.join();
    EXPECT_LT(MillisecondsSince(signalled), 1000);
    // Every later fetch of the session fails at once, asking nothing.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(fetcher.Fetch());
    EXPECT_LT(MillisecondsSince(start), 1000);
    EXPECT_EQ(server.Count("/slow"), 1);
  }
}

TEST(WinInetTest, AnAbortEventSignalledAlreadyFailsTheFirstFetch) {
  LoopbackHttpServer server;
  server.Serve("/md", "DB_VERSION=1\n");
  CEvent quit(true, true);
  Fetcher fetcher(server.Url("/md"), quit.GetHandle());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(fetcher.Fetch());
  EXPECT_LT(MillisecondsSince(start), 1000);
}

// The abort closes the session itself, with its requests, once; the
// owner's closes afterwards close nothing again, and the session asks the
// server nothing more.
TEST(WinInetTest, AnAbortClosesTheSessionOnceForItsOwner) {
  LoopbackHttpServer server;
  server.Serve("/md", "DB_VERSION=1\n");
  HINTERNET session = InternetOpenW(L"test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  ASSERT_NE(session, nullptr);
  CEvent quit(false, true);
  ASSERT_TRUE(InternetSetAbortEvent(session, quit.GetHandle()));
  HINTERNET request =
      InternetOpenUrlW(session, server.Url("/md").c_str(), nullptr, 0, CRemote::kFlags, 0);
  ASSERT_NE(request, nullptr);
  quit.Set();
  DWORD type = 0, size = sizeof type;
  EXPECT_TRUE(Eventually([&] {
    return !InternetQueryOptionW(session, INTERNET_OPTION_HANDLE_TYPE, &type, &size);
  })) << "the abort closes the session";
  char byte;
  DWORD got = 1;
  EXPECT_FALSE(InternetReadFile(request, &byte, 1, &got));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_OPERATION_CANCELLED));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(InternetOpenUrlW(session, server.Url("/md").c_str(), nullptr, 0, CRemote::kFlags, 0),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_OPERATION_CANCELLED));
  EXPECT_TRUE(InternetCloseHandle(request));
  EXPECT_TRUE(InternetCloseHandle(session));
  EXPECT_EQ(server.Count("/md"), 1);
}

// No body grows without bound in the browser's update thread: past 16 MiB
// the read fails, as on every platform.
TEST(WinInetTest, ABodyOverTheLimitIsAFailedFetch) {
  LoopbackHttpServer server;
  server.Serve("/huge", std::string((16u << 20) + 1, 'x'));
  server.Serve("/large", std::string(1u << 20, 'y'));
  Fetcher huge(server.Url("/huge"));
  EXPECT_FALSE(huge.Fetch());
  Fetcher large(server.Url("/large"));
  ASSERT_TRUE(large.Fetch());
  EXPECT_EQ(large.Data().size(), 1u << 20);
}

TEST(WinUpdateCycleTest, ADownloadIsSavedLoadedAndRecorded) {
  WinUpdateSite site;
  ASSERT_TRUE(site.InstallVersionOne("b ^old\\.test/\n"));
  site.Publish("DB_VERSION=2\n");
  site.Publish("b ^new\\.test/\n", "/db");
  CTraceCapture capture;
  CPhishList list;
  ASSERT_TRUE(CyclesDone(capture, 1));
  EXPECT_TRUE(IsBlack(list, L"http://new.test/"));
  EXPECT_FALSE(IsBlack(list, L"http://old.test/"));
  EXPECT_EQ(ReadFileBytes(site.localFile), Container("b ^new\\.test/\n"));
  EXPECT_EQ(CSettings::GetPDBUN(0), 2);
  EXPECT_GT(CSettings::GetLSTUD(0), WinUpdateSite::kOldUpdate);
  EXPECT_EQ(site.server.Count("/md"), 1);
  EXPECT_EQ(site.server.Count("/db"), 1);
}

TEST(WinUpdateCycleTest, AFailedDownloadChangesNothing) {
  std::string wrongSum = Container("b ^new\\.test/\n");
  wrongSum.back() = static_cast<char>(wrongSum.back() + 1);
  const std::pair<const char*, std::function<void(LoopbackHttpServer&)>> rows[] = {
      {"404", [](LoopbackHttpServer& s) { s.Serve("/db", Container("b ^new\\.test/\n"), 404); }},
      {"500", [](LoopbackHttpServer& s) { s.Serve("/db", Container("b ^new\\.test/\n"), 500); }},
      {"wrong checksum", [&](LoopbackHttpServer& s) { s.Serve("/db", wrongSum); }},
  };
  for (const auto& [name, serve] : rows) {
    SCOPED_TRACE(name);
    WinUpdateSite site;
    ASSERT_TRUE(site.InstallVersionOne("b ^old\\.test/\n"));
    site.Publish("DB_VERSION=2\n");
    serve(site.server);
    CTraceCapture capture;
    CPhishList list;
    ASSERT_TRUE(CyclesDone(capture, 1));
    EXPECT_EQ(site.server.Count("/db"), 1);
    EXPECT_TRUE(IsBlack(list, L"http://old.test/"));
    EXPECT_FALSE(IsBlack(list, L"http://new.test/"));
    EXPECT_EQ(ReadFileBytes(site.localFile), Container("b ^old\\.test/\n"));
    EXPECT_EQ(CSettings::GetPDBUN(0), 1);
    EXPECT_EQ(CSettings::GetLSTUD(0), WinUpdateSite::kOldUpdate);
  }
}

// Under Wine a closing window waits until the server drops the connection
// (see WinInetTest): here 30 s, and with a server that never does, forever.
TEST(WinUpdateCycleTest, AClosingWindowNeverWaitsOnAStalledServer) {
  if (RunningUnderWine())
    GTEST_SKIP() << "Wine's WinINet does not end a blocked request when its session is closed "
                    "(WinInetTest.ClosingTheSessionFromAnotherThreadEndsABlockedRequest)";
  const std::tuple<const char*, const char*, std::function<void(WinUpdateSite&)>> rows[] = {
      {"metadata never answers", "/md",
       [](WinUpdateSite& s) { s.server.Answer("/md", Kind::Stall); }},
      {"database cut short", "/db",
       [](WinUpdateSite& s) {
         s.Publish("DB_VERSION=2\n");
         s.server.Answer("/db", Kind::StallInBody, Container("b ^new\\.test/\n"));
       }},
  };
  for (const auto& [name, stalled, serve] : rows) {
    SCOPED_TRACE(name);
    WinUpdateSite site;
    ASSERT_TRUE(site.InstallVersionOne("b ^old\\.test/\n"));
    serve(site);
    auto list = std::make_unique<CPhishList>();
    ASSERT_TRUE(Eventually([&] { return site.server.Count(stalled) == 1; }));
    const auto start = std::chrono::steady_clock::now();
    list.reset();
    EXPECT_LT(MillisecondsSince(start), 2000);
    EXPECT_EQ(CSettings::GetPDBUN(0), 1);
  }
}
