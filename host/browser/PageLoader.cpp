#include "browser/PageLoader.h"

#include <vector>

#include "browser/Address.h"

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
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
      return L"the server's answer was not HTTP";
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

// The statuses a browser follows to the response's Location.
bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::optional<std::wstring> RedirectTarget(HINTERNET page) {
  DWORD size = 0;
  if (HttpQueryInfoW(page, HTTP_QUERY_LOCATION, nullptr, &size, nullptr) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return std::nullopt;
  std::vector<wchar_t> text(size / sizeof(wchar_t) + 1);
  if (!HttpQueryInfoW(page, HTTP_QUERY_LOCATION, text.data(), &size, nullptr))
    return std::nullopt;
  return std::wstring(text.data(), size / sizeof(wchar_t));
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
  const std::optional<std::wstring> canonical = CanonicalAddress(address);
  if (!canonical) {
    result.error = L"not a valid address";
    return result;
  }
  result.fetched = *canonical;
  HINTERNET page = InternetOpenUrlW(
      m_session, canonical->c_str(), nullptr, 0,
      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT, 0);
  if (!page) {
    result.error = Reason(GetLastError());
    return result;
  }
  DWORD status = 0, size = sizeof status;
  if (HttpQueryInfoW(page, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                     nullptr))
    result.status = status;
  if (IsRedirect(result.status)) result.redirect = RedirectTarget(page);
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
