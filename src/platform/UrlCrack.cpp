#include <algorithm>
#include <cwchar>
#include <string>

#include "platform/UrlHost.h"
#include "platform/UrlSyntax.h"
#include "platform/WinError.h"
#include "platform/WinInet.h"

namespace {

using ostrel::platform::UrlSpans;

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Where %XX starts a decodable escape in text.
bool IsEscape(std::wstring_view text, std::size_t i) {
  return text[i] == L'%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
         HexValue(text[i + 2]) >= 0;
}

// Copies one component into the caller's buffer, decoding %XX escapes when
// decode is set and writing "\" as "/" when slashes is: straight from the
// URL, in two passes (measure, write) and no copy between. The length
// field holds the buffer size on entry and the component's length on
// return, or the size the component needs (terminator counted) when it
// does not fit.
bool Deliver(std::wstring_view value, bool decode, bool slashes, LPWSTR buffer, DWORD* length,
             DWORD* error) {
  if (!buffer) {
    if (*length != 0) {  // pointers into the URL cannot carry decoded text
      *error = ERROR_INVALID_PARAMETER;
      return false;
    }
    return true;
  }
  // Escapes found with a vectorised search for "%", not a look at each
  // character.
  const auto nextPercent = [&](std::size_t from) { return decode ? value.find(L'%', from) : value.npos; };
  std::size_t size = value.size();
  for (std::size_t i = nextPercent(0); i != value.npos; i = nextPercent(i + 1))
    if (IsEscape(value, i)) size -= 2, i += 2;
  if (size + 1 > *length) {
    *length = static_cast<DWORD>(size + 1);
    *error = ERROR_INSUFFICIENT_BUFFER;
    return false;
  }
  LPWSTR out = buffer;
  for (std::size_t i = 0; i < value.size();) {
    const std::size_t percent = std::min(nextPercent(i), value.size());
    std::wmemcpy(out, value.data() + i, percent - i);
    if (slashes)
      for (LPWSTR c = out; c != out + (percent - i); ++c) *c = *c == L'\\' ? L'/' : *c;
    out += percent - i;
    i = percent;
    if (i == value.size()) break;
    if (IsEscape(value, i)) {
      *out++ = static_cast<wchar_t>(HexValue(value[i + 1]) * 16 + HexValue(value[i + 2]));
      i += 3;
    } else {
      *out++ = value[i++];
    }
  }
  buffer[size] = L'\0';
  *length = static_cast<DWORD>(size);
  return true;
}

}  // namespace

BOOL InternetCrackUrlW(LPCWSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                       URL_COMPONENTSW* parts) {
  if (!lpszUrl || !parts || parts->dwStructSize != sizeof(URL_COMPONENTSW)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::wstring cleaned;
  const std::wstring_view url = ostrel::platform::CleanUrl(
      std::wstring_view(lpszUrl, dwUrlLength ? dwUrlLength : std::wcslen(lpszUrl)), &cleaned);
  DWORD error = ERROR_SUCCESS;
  UrlSpans spans;
  if (!ostrel::platform::SplitUrl(url, &spans, &error)) {
    SetLastError(error);
    return FALSE;
  }
  const INTERNET_SCHEME scheme = ostrel::platform::SchemeNumber(spans.scheme);
  // The scheme is delivered first: it stays readable when the rest is refused.
  if (!Deliver(spans.scheme, false, false, parts->lpszScheme, &parts->dwSchemeLength, &error)) {
    SetLastError(error);
    return FALSE;
  }
  parts->nScheme = scheme;
  const bool decode = (dwFlags & (ICU_DECODE | ICU_ESCAPE)) != 0;
  INTERNET_PORT port = 0;
  std::wstring parsedHost;
  std::wstring_view host = spans.host;
  bool decodeHost = decode;
  if (spans.special) {
    // An empty host ("http://", "http://user@") is one that browsers refuse too.
    if (!ostrel::platform::ParseBrowserHost(spans.host, &parsedHost)) {
      SetLastError(ERROR_INTERNET_INVALID_URL);
      return FALSE;
    }
    host = parsedHost;
    decodeHost = false;
  }
  if (!ostrel::platform::ParsePort(spans.hasPort ? spans.port : std::wstring_view(), scheme,
                                   &port)) {
    SetLastError(ERROR_INTERNET_INVALID_URL);
    return FALSE;
  }
  std::wstring_view user = spans.userInfo, password;
  if (const std::size_t colon = user.find(L':'); colon != std::wstring_view::npos) {
    password = user.substr(colon + 1);
    user = user.substr(0, colon);
  }
  if (!Deliver(host, decodeHost, false, parts->lpszHostName, &parts->dwHostNameLength, &error) ||
      !Deliver(user, decode, false, parts->lpszUserName, &parts->dwUserNameLength, &error) ||
      !Deliver(password, decode, false, parts->lpszPassword, &parts->dwPasswordLength, &error) ||
      !Deliver(spans.path, decode, spans.special, parts->lpszUrlPath, &parts->dwUrlPathLength,
               &error) ||
      !Deliver(spans.extra, decode, false, parts->lpszExtraInfo, &parts->dwExtraInfoLength,
               &error)) {
    SetLastError(error);
    return FALSE;
  }
  parts->nPort = port;
  return TRUE;
}
