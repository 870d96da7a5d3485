// Redirects left to the caller (INTERNET_FLAG_NO_AUTO_REDIRECT) against a
// real server on 127.0.0.1: the 3xx response comes back unfollowed, and
// HTTP_QUERY_LOCATION tells its target, resolved, in the query's buffer rules.
#include <gtest/gtest.h>

#include <string>

#include "common/HttpServer.h"
#include "platform/WinError.h"
#include "platform/WinInet.h"

using ostrel::test::TestHttpServer;
using Kind = TestHttpServer::Kind;

namespace {

// The response to one GET with these flags, or null.
HINTERNET Open(HINTERNET session, const TestHttpServer& server, const std::string& path,
               DWORD flags) {
  return InternetOpenUrlW(session, server.WideUrl(path).c_str(), nullptr, 0, flags, 0);
}

// HTTP_QUERY_LOCATION as text; empty, with the last error kept, when it fails.
std::wstring Location(HINTERNET response) {
  wchar_t text[256] = {};
  DWORD size = sizeof text;
  if (!HttpQueryInfoW(response, HTTP_QUERY_LOCATION, text, &size, nullptr)) return L"";
  return std::wstring(text, size / sizeof(wchar_t));
}

DWORD Status(HINTERNET response) {
  DWORD status = 0, size = sizeof status;
  HttpQueryInfoW(response, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
  return status;
}

}  // namespace

TEST(HttpRedirectTest, AHopLeftToTheCallerComesBackWithItsTarget) {
  TestHttpServer server;
  server.Answer("/hop", Kind::Redirect, "/next?q=1");
  server.Answer("/away", Kind::Redirect, "http://elsewhere.localhost:1/x");
  server.Serve("/next", "next");
  const HINTERNET session = InternetOpenW(L"t", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);

  struct Row {
    const char* path;
    DWORD flags;
    DWORD status;
    std::wstring location;  // empty: the query finds none
  };
  const Row rows[] = {
      {"/hop", INTERNET_FLAG_NO_AUTO_REDIRECT, 302, server.WideUrl("/next?q=1")},
      {"/away", INTERNET_FLAG_NO_AUTO_REDIRECT, 302, L"http://elsewhere.localhost:1/x"},
      {"/hop", 0, 200, L""},  // followed as before
      {"/next", INTERNET_FLAG_NO_AUTO_REDIRECT, 200, L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.path) + (row.flags ? " unfollowed" : " followed"));
    const HINTERNET response = Open(session, server, row.path, row.flags);
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(Status(response), row.status);
    SetLastError(0);
    EXPECT_EQ(Location(response), row.location);
    if (row.location.empty()) {
      EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
    }
    InternetCloseHandle(response);
  }
  EXPECT_EQ(server.Count("/next"), 2) << "the unfollowed hops asked nothing of their target";

  // The buffer rules of the text queries: the size needed, then the text.
  const HINTERNET response = Open(session, server, "/hop", INTERNET_FLAG_NO_AUTO_REDIRECT);
  const std::wstring target = server.WideUrl("/next?q=1");
  DWORD size = 4;
  wchar_t small[1];
  EXPECT_FALSE(HttpQueryInfoW(response, HTTP_QUERY_LOCATION, small, &size, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, (target.size() + 1) * sizeof(wchar_t));
  DWORD number = 0;
  size = sizeof number;
  EXPECT_FALSE(HttpQueryInfoW(response, HTTP_QUERY_LOCATION | HTTP_QUERY_FLAG_NUMBER, &number,
                              &size, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_HTTP_INVALID_QUERY_REQUEST);
  InternetCloseHandle(response);
  InternetCloseHandle(session);
}
