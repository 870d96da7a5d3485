// Redirects left to the caller (INTERNET_FLAG_NO_AUTO_REDIRECT) against a
// real server on 127.0.0.1: the 3xx response comes back unfollowed, and
// HTTP_QUERY_LOCATION tells its target, resolved, under the text queries'
// buffer rules.
#include <gtest/gtest.h>

#include <string>

#include "common/HttpServer.h"
#include "platform/WinError.h"
#include "platform/WinInet.h"

using ostrel::test::TestHttpServer;

TEST(HttpRedirectTest, AHopLeftToTheCallerComesBackWithItsTarget) {
  TestHttpServer server;
  server.Answer("/hop", TestHttpServer::Kind::Redirect, "/next?q=1");
  server.Answer("/away", TestHttpServer::Kind::Redirect, "http://elsewhere.localhost:1/x");
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
