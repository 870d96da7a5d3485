// HTTP fetching against a real server on 127.0.0.1: what a fetch yields for
// each kind of answer (errors, redirects, caps, stalls, cut bodies), what
// each request carries, limited reads, redirects left to the caller,
// abandoning a transfer, and the handle rules of the platform's client.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "common/Database.h"
#include "common/HttpServer.h"
#include "platform/Event.h"
#include "platform/InternetAbort.h"
#include "platform/Testing.h"
#include "platform/WinError.h"
#include "platform/WinInet.h"
#include "support/Exception.h"
#include "update/Remote.h"

using ostrel::test::Clock;
using ostrel::test::MillisecondsSince;
using ostrel::test::TestHttpServer;
using ostrel::test::Widen;
using Kind = TestHttpServer::Kind;

namespace {
class Fetcher : public CRemote {
 public:
  using CRemote::CRemote;
  const std::wstring& Data() const { return m_data; }
  const std::wstring& Uri() const { return m_remoteUri; }
};
}  // namespace

TEST(HttpTest, WhatAFetchYieldsForEachKindOfAnswer) {
  TestHttpServer server;  // 1 s stall, 100,000-byte cap, 3 redirects
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  server.Serve("/bytes", bytes);
  server.Serve("/empty", "");
  server.Serve("/error", "an error page", 500);
  server.Answer("/hop", Kind::Redirect, "/hop2");
  server.Answer("/hop2", Kind::Redirect, "/bytes");
  server.Answer("/loop", Kind::Redirect, "/loop");
  server.Answer("/elsewhere", Kind::Redirect, "file:///etc/passwd");
  server.Serve("/big", std::string(100001, 'b'));
  server.Answer("/endless", Kind::Endless);
  server.Answer("/cut", Kind::Truncate, "abc", 200, 10);
  server.Answer("/stall", Kind::Stall);
  const std::tuple<const char*, bool, std::string> rows[] = {
      {"/bytes", true, bytes}, {"/empty", true, ""},       {"/missing", false, ""},
      {"/error", false, ""},   {"/hop", true, bytes},      {"/loop", false, ""},
      {"/elsewhere", false, ""}, {"/big", false, ""},      {"/cut", false, "abc"},
      {"/stall", false, ""},   {"/endless", false, std::string(100000, 'x')},
  };
  for (const auto& [path, fetched, data] : rows) {
    SCOPED_TRACE(path);
    Fetcher fetcher(server.WideUrl(path));
    EXPECT_EQ(fetcher.Fetch(), fetched);
    EXPECT_EQ(fetcher.Data(), Widen(data));  // a failed read keeps what arrived
    EXPECT_FALSE(fetcher.Close());           // every outcome leaves the response closed
  }
  EXPECT_EQ(server.Count("/loop"), 4);  // the first request and three redirects
}

TEST(HttpTest, ARequestIsAPlainUncachedGetWithTheAgentAndEnvironmentProxy) {
  TestHttpServer server;
  server.Serve("/h", "x");
  ASSERT_TRUE(Fetcher(server.WideUrl("/h")).Fetch());
  EXPECT_EQ(server.LastHeader("/h", "User-Agent"), "HttpSession");
  EXPECT_EQ(server.LastHeader("/h", "Cache-Control"), "no-cache");
  EXPECT_EQ(server.LastHeader("/h", "Pragma"), "no-cache");
  EXPECT_FALSE(Fetcher(server.WideUrl("/caf\u00e9 x")).Fetch());  // sent as /caf%C3%A9%20x
  EXPECT_EQ(server.Count("/caf\xc3\xa9 x"), 1);
  // Test programs keep every fetch on this machine: any host is 127.0.0.1.
  const std::wstring port = server.WideUrl("").substr(server.WideUrl("").rfind(L':'));
  ASSERT_TRUE(Fetcher(L"http://elsewhere.invalid" + port + L"/h").Fetch());
  EXPECT_EQ(server.Count("/h"), 2);
  ostrel::platform::testing::ConfineHttpToLoopback(false);  // the proxy is local too
  setenv("http_proxy", server.Url("").c_str(), 1);  // this server plays the proxy
  EXPECT_FALSE(Fetcher(L"http://origin.invalid/through-proxy").Fetch());
  unsetenv("http_proxy");
  ostrel::platform::testing::ConfineHttpToLoopback(true);
  EXPECT_EQ(server.Count("http://origin.invalid/through-proxy"), 1);
}

TEST(HttpTest, LimitedReadsStreamsAndReopening) {
  TestHttpServer server;
  server.Serve("/five", "12345");
  const HINTERNET session = InternetOpenW(L"t", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  for (const auto& [limit, expected] : {std::pair<LONG, std::wstring>{3, L"123"}, {5, L"12345"},
                                        {6, L"12345"}, {-1, L"12345"}, {0, L""}}) {
    SCOPED_TRACE(limit);
    CInternetFile file;
    std::wstring out = L"untouched";
    EXPECT_FALSE(file.ReadText(out, limit));  // no handle: nothing read
    EXPECT_EQ(out, L"untouched");
    file.Attach(InternetOpenUrlW(session, server.WideUrl("/five").c_str(), nullptr, 0, 0, 0));
    EXPECT_EQ(file.GetStatusCode(), 200u);
    EXPECT_EQ(file.ReadText(out, limit), limit < 0 || limit > 5);  // true once the end is seen
    EXPECT_EQ(out, expected);
    EXPECT_TRUE(file.Close());
  }
  InternetCloseHandle(session);
  Fetcher remote(server.WideUrl("/five"));
  ASSERT_TRUE(remote.Open());
  EXPECT_FALSE(remote.OpenUri(server.WideUrl("/other")));  // a response is still held
  EXPECT_EQ(remote.Uri(), server.WideUrl("/five"));
  ASSERT_TRUE(remote.Fetch());  // reads the response already open
  EXPECT_EQ(server.Count("/five"), 6);
  for (int i = 0; i < 2; ++i) {
    std::wstring text;
    std::getline(remote.GetStream(), text);
    EXPECT_EQ(text, L"12345");
  }
  EXPECT_FALSE(Fetcher().Fetch());  // no address: no request
}

namespace {
// Opens and reads url in session; the error that ended it (ERROR_SUCCESS
// when the whole body arrived) and the bytes received.
DWORD Get(HINTERNET session, const std::wstring& url, std::string* body = nullptr) {
  const HINTERNET request = InternetOpenUrlW(session, url.c_str(), nullptr, 0, 0, 0);
  if (!request) return GetLastError();
  char block[4096];
  DWORD got = 0, error = ERROR_SUCCESS;
  for (;;) {
    if (!InternetReadFile(request, block, sizeof block, &got)) {
      error = GetLastError();
      break;
    }
    if (got == 0) break;
    if (body) body->append(block, got);
  }
  InternetCloseHandle(request);
  return error;
}
}  // namespace

TEST(HttpTest, AStallIsNoByteForTheStallTimeWhateverCameBefore) {
  TestHttpServer server;  // a 1 s stall
  const std::string burst(50000, 'b');
  server.Answer("/pause", Kind::Pause, burst);
  const HINTERNET session = InternetOpenW(L"t", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  std::string body;
  const auto start = Clock::now();
  EXPECT_EQ(Get(session, server.WideUrl("/pause"), &body), ERROR_INTERNET_TIMEOUT);
  EXPECT_LT(MillisecondsSince(start), 2500);  // not a rate over a window
  EXPECT_EQ(body, burst);
  InternetCloseHandle(session);
}

TEST(HttpTest, AnAbortEventAbandonsTheSessionsTransfersWithinASecond) {
  TestHttpServer server;
  ostrel::platform::testing::HttpLimits limits = ostrel::platform::testing::GetHttpLimits();
  limits.stallTimeoutMs = 30000;  // only the event can end these
  ostrel::platform::testing::SetHttpLimits(limits);
  server.Answer("/stall", Kind::Stall);
  server.Answer("/drip", Kind::Drip);
  server.Answer("/pause", Kind::Pause, "abc");
  server.Serve("/ok", "fine");
  const HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const HINTERNET session = InternetOpenW(L"t", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  ASSERT_TRUE(InternetSetAbortEvent(session, quit));
  for (const char* path : {"/stall", "/drip", "/pause"}) {
    SCOPED_TRACE(path);
    ResetEvent(quit);
    std::thread signaller([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      SetEvent(quit);
    });
    const auto start = Clock::now();
    std::string body;
    EXPECT_EQ(Get(session, server.WideUrl(path), &body), ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_LT(MillisecondsSince(start), 1500);
    signaller.join();
    if (std::string(path) == "/pause") {
      EXPECT_EQ(body, "abc");  // what arrived stays readable
    }
  }
  // Signalled already: abandoned before a request is made.
  EXPECT_EQ(Get(session, server.WideUrl("/ok")), ERROR_INTERNET_OPERATION_CANCELLED);
  EXPECT_EQ(server.Count("/ok"), 0);
  ASSERT_TRUE(InternetSetAbortEvent(session, nullptr));
  EXPECT_EQ(Get(session, server.WideUrl("/ok")), ERROR_SUCCESS);
  EXPECT_FALSE(InternetSetAbortEvent(quit, quit));  // not a session
  InternetCloseHandle(session);
  CloseHandle(quit);
}

// INTERNET_FLAG_NO_AUTO_REDIRECT: the 3xx comes back unfollowed, and
// HTTP_QUERY_LOCATION tells its target, resolved, under the text queries' rules.
TEST(HttpTest, ARedirectLeftToTheCallerComesBackWithItsTarget) {
  TestHttpServer server;
  server.Answer("/hop", Kind::Redirect, "/next?q=1");
  server.Answer("/away", Kind::Redirect, "http://elsewhere.localhost:1/x");
  server.Serve("/next", "next");
  const HINTERNET session = InternetOpenW(L"t", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  const struct {
    const char* path;
    DWORD flags;
    DWORD status;
    std::wstring location;  // empty: the query finds none
  } rows[] = {
      {"/hop", INTERNET_FLAG_NO_AUTO_REDIRECT, 302, server.WideUrl("/next?q=1")},
      {"/away", INTERNET_FLAG_NO_AUTO_REDIRECT, 302, L"http://elsewhere.localhost:1/x"},
      {"/hop", 0, 200, L""},  // followed, as without the flag
      {"/next", INTERNET_FLAG_NO_AUTO_REDIRECT, 200, L""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.path) + (row.flags ? " unfollowed" : " followed"));
    const HINTERNET response =
        InternetOpenUrlW(session, server.WideUrl(row.path).c_str(), nullptr, 0, row.flags, 0);
    ASSERT_NE(response, nullptr);
    DWORD status = 0, size = sizeof status;
    HttpQueryInfoW(response, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
    EXPECT_EQ(status, row.status);
    // Too small a buffer tells the size needed, then the text comes.
    wchar_t text[256] = {};
    size = 4;
    EXPECT_FALSE(HttpQueryInfoW(response, HTTP_QUERY_LOCATION, text, &size, nullptr));
    EXPECT_EQ(GetLastError(), row.location.empty() ? ERROR_HTTP_HEADER_NOT_FOUND
                                                   : ERROR_INSUFFICIENT_BUFFER);
    if (!row.location.empty()) {
      EXPECT_EQ(size, (row.location.size() + 1) * sizeof(wchar_t));
      ASSERT_TRUE(HttpQueryInfoW(response, HTTP_QUERY_LOCATION, text, &size, nullptr));
      EXPECT_EQ(std::wstring(text, size / sizeof(wchar_t)), row.location);
      EXPECT_FALSE(HttpQueryInfoW(response, HTTP_QUERY_LOCATION | HTTP_QUERY_FLAG_NUMBER, text,
                                  &size, nullptr));
      EXPECT_EQ(GetLastError(), ERROR_HTTP_INVALID_QUERY_REQUEST);
    }
    InternetCloseHandle(response);
  }
  EXPECT_EQ(server.Count("/next"), 2) << "the unfollowed hops asked nothing of their target";
  InternetCloseHandle(session);
}

TEST(HttpTest, HandleRulesOfThePlatformClient) {
  const HINTERNET session = InternetOpenW(L"agent", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_NE(session, nullptr);
  for (const auto& [url, error] : {std::pair<const wchar_t*, DWORD>{L"file:///etc/passwd", ERROR_INTERNET_UNRECOGNIZED_SCHEME},
                                   {L"http://127.0.0.1:1/", ERROR_INTERNET_CANNOT_CONNECT},
                                   {L"", ERROR_INTERNET_INVALID_URL}}) {
    EXPECT_EQ(InternetOpenUrlW(session, url, nullptr, 0, 0, 0), nullptr) << url;
    EXPECT_EQ(GetLastError(), error) << url;
  }
  DWORD read = 7;
  char buffer[4];
  EXPECT_FALSE(InternetReadFile(session, buffer, 4, &read));  // a session is not a response
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  EXPECT_EQ(read, 0u);
  CHttpConnection connection(session, L"127.0.0.1", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP);
  EXPECT_NE(connection.GetHandle(), nullptr);
  EXPECT_TRUE(InternetCloseHandle(session));
  EXPECT_FALSE(InternetCloseHandle(session));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_THROW(CHttpConnection(session, L"x", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP), CException);
  EXPECT_THROW(CHttpSession(L"agent", 99, nullptr, nullptr, 0), CException);
}
