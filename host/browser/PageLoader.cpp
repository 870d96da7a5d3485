#include "browser/PageLoader.h"

#include <vector>

namespace ostrel::host {

namespace {

std::wstring Reason(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
      return L"the server's name could not be resolved";
    case ERROR_INTERNET_CANNOT_CONNECT:
      return L"the server refused the connection";
    case ERROR_INTERNET_TIMEOUT:
      return L"the server did not answer in time";
    case ERROR_HTTP_REDIRECT_FAILED:
      return L"too many redirects";
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
      return L"the secure connection failed";
    case ERROR_NOT_ENOUGH_MEMORY:
      return L"the page is too large";
    default:
      return L"the page could not be loaded (error " + std::to_wstring(error) + L")";
  }
}

}  // namespace

CPageLoader::CPageLoader()
    : m_session(
          InternetOpenW(L"ostrel-browser", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0)) {}

CPageLoader::~CPageLoader() {
  if (m_session) InternetCloseHandle(m_session);
}

LoadResult CPageLoader::Load(const std::wstring& address) {
  LoadResult result;
  if (!m_session) {
    result.error = L"no HTTP session could be made";
    return result;
  }
  HINTERNET page = InternetOpenUrlW(m_session, address.c_str(), nullptr, 0,
                                    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
  if (!page) {
    result.error = Reason(GetLastError());
    return result;
  }
  DWORD status = 0, size = sizeof status;
  if (HttpQueryInfoW(page, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                     nullptr))
    result.status = status;
  std::vector<char> buffer(16384);
  DWORD read = 0;
  bool whole = true;
  for (;;) {
    if (!InternetReadFile(page, buffer.data(), static_cast<DWORD>(buffer.size()), &read)) {
      result.error = Reason(GetLastError());
      whole = false;
      break;
    }
    if (read == 0) break;
  }
  InternetCloseHandle(page);
  result.loaded = whole;
  return result;
}

}  // namespace ostrel::host
