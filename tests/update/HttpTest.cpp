// HTTP fetching against a real server on 127.0.0.1: what a fetch yields for
// each kind of answer (errors, redirects, caps, stalls, cut bodies), what
// each request carries, limited reads, and the handle rules of the
// platform's client.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "common/Database.h"
#include "common/HttpServer.h"
#include "platform/Testing.h"
#include "platform/WinError.h"
#include "support/Exception.h"
#include "update/Remote.h"

using ostrel::test::TestHttpServer;
using ostrel::test::Widen;

namespace {

class Fetcher : public CRemote {
 public:
  using CRemote::CRemote;
  const std::wstring& Data() const { return m_data; }
  const std::wstring& Uri() const { return m_remoteUri; }
};

void QuickLimits() {
  ostrel::platform::testing::HttpLimits limits;
  limits.stallTimeoutMs = 1000;
  limits.maxBodyBytes = 100000;
  limits.maxRedirects = 3;
  ostrel::platform::testing::SetHttpLimits(limits);
}

}  // namespace

TEST(HttpTest, WhatAFetchYieldsForEachKindOfAnswer) {
  QuickLimits();
  TestHttpServer server;
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  server.Serve("/bytes", bytes);
  server.Serve("/empty", "");
  server.Serve("/error", "an error page", 500);
  server.Redirect("/hop", "/hop2");
  server.Redirect("/hop2", "/bytes");
  server.Redirect("/loop", "/loop");
  server.Redirect("/elsewhere", "file:///etc/passwd");
  server.Serve("/big", std::string(100001, 'b'));
  server.Endless("/endless");
  server.Truncate("/cut", "abc", 10);
  server.Stall("/stall");
  struct Row {
    const char* path;
    bool fetched;
    std::string data;
  };
  const Row rows[] = {
      {"/bytes", true, bytes},     {"/empty", true, ""},     {"/missing", false, ""},
      {"/error", false, ""},       {"/hop", true, bytes},    {"/loop", false, ""},
      {"/elsewhere", false, ""},   {"/big", false, ""},      {"/cut", false, "abc"},
      {"/stall", false, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    Fetcher fetcher(server.WideUrl(row.path));
    EXPECT_EQ(fetcher.Fetch(), row.fetched);
    EXPECT_EQ(fetcher.Data(), Widen(row.data));
    EXPECT_FALSE(fetcher.Close());  // every outcome leaves the response closed
  }
  EXPECT_EQ(server.Count("/loop"), 4);  // the first request and three redirects
  Fetcher endless(server.WideUrl("/endless"));
  EXPECT_FALSE(endless.Fetch());
  EXPECT_EQ(endless.Data().size(), 100000u);  // the cap, then the read fails
}

TEST(HttpTest, ARequestIsAPlainUncachedGetWithTheAgentAndEnvironmentProxy) {
  TestHttpServer server;
  server.Serve("/h", "x");
  Fetcher plain(server.WideUrl("/h"));
  ASSERT_TRUE(plain.Fetch());
  EXPECT_EQ(server.LastHeader("/h", "User-Agent"), "HttpSession");
  EXPECT_EQ(server.LastHeader("/h", "Cache-Control"), "no-cache");
  EXPECT_EQ(server.LastHeader("/h", "Pragma"), "no-cache");
  Fetcher unicode(server.WideUrl("/caf\u00e9 x"));
  EXPECT_FALSE(unicode.Fetch());  // sent as /caf%C3%A9%20x; the server has no such file
  EXPECT_EQ(server.Count("/caf\xc3\xa9 x"), 1);
  // The proxy comes from the environment: this server plays it.
  setenv("http_proxy", server.Url("").c_str(), 1);
  Fetcher proxied(L"http://origin.invalid/through-proxy");
  EXPECT_FALSE(proxied.Fetch());
  unsetenv("http_proxy");
  EXPECT_EQ(server.Count("http://origin.invalid/through-proxy"), 1);
}

TEST(HttpTest, LimitedReadsStreamsAndReopening) {
  TestHttpServer server;
  server.Serve("/five", "12345");
  const std::pair<LONG, std::wstring> reads[] = {
      {3, L"123"}, {5, L"12345"}, {6, L"12345"}, {-1, L"12345"}, {0, L""}};
  const HINTERNET session = InternetOpenW(L"t", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  for (const auto& [limit, expected] : reads) {
    SCOPED_TRACE(limit);
    CInternetFile file;
    std::wstring out = L"untouched";
    EXPECT_FALSE(file.ReadText(out, limit));  // no handle: nothing read
    EXPECT_EQ(out, L"untouched");
    file.Attach(InternetOpenUrlW(session, server.WideUrl("/five").c_str(), nullptr, 0, 0, 0));
    EXPECT_EQ(file.GetStatusCode(), 200u);
    EXPECT_EQ(file.ReadText(out, limit), limit < 0 || limit > 5);
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
  Fetcher nothing;
  EXPECT_FALSE(nothing.Fetch());
}

TEST(HttpTest, HandleRulesOfThePlatformClient) {
  const HINTERNET session = InternetOpenW(L"agent", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_NE(session, nullptr);
  struct Row {
    const wchar_t* url;
    DWORD error;
  };
  const Row rows[] = {{L"file:///etc/passwd", ERROR_INTERNET_UNRECOGNIZED_SCHEME},
                      {L"ftp://127.0.0.1/", ERROR_INTERNET_UNRECOGNIZED_SCHEME},
                      {L"http://127.0.0.1:1/", ERROR_INTERNET_CANNOT_CONNECT},
                      {L"", ERROR_INTERNET_INVALID_URL}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.url);
    EXPECT_EQ(InternetOpenUrlW(session, row.url, nullptr, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), row.error);
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
  EXPECT_THROW(CHttpConnection(session, L"127.0.0.1", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP),
               CException);
  EXPECT_THROW(CHttpSession(L"agent", 99, nullptr, nullptr, 0), CException);
}
