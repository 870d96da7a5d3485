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

std::wstring Decode(std::wstring_view text, bool decode) {
  if (!decode) return std::wstring(text);
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<wchar_t>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Copies one component into the caller's buffer; the length field holds the
// buffer size on entry and the component's length on return, or the size
// the component needs (terminator counted) when it does not fit.
bool Deliver(const std::wstring& value, LPWSTR buffer, DWORD* length, DWORD* error) {
  if (!buffer) {
    if (*length != 0) {  // pointers into the URL cannot carry decoded text
      *error = ERROR_INVALID_PARAMETER;
      return false;
    }
    return true;
  }
  if (value.size() + 1 > *length) {
    *length = static_cast<DWORD>(value.size() + 1);
    *error = ERROR_INSUFFICIENT_BUFFER;
    return false;
  }
  std::wmemcpy(buffer, value.data(), value.size());
  buffer[value.size()] = L'\0';
  *length = static_cast<DWORD>(value.size());
  return true;
}

}  // namespace

BOOL InternetCrackUrlW(LPCWSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                       URL_COMPONENTSW* parts) {
  if (!lpszUrl || !parts || parts->dwStructSize != sizeof(URL_COMPONENTSW)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::wstring url = ostrel::platform::CleanUrl(
      std::wstring_view(lpszUrl, dwUrlLength ? dwUrlLength : std::wcslen(lpszUrl)));
  DWORD error = ERROR_SUCCESS;
  UrlSpans spans;
  if (!ostrel::platform::SplitUrl(url, &spans, &error)) {
    SetLastError(error);
    return FALSE;
  }
  const INTERNET_SCHEME scheme = ostrel::platform::SchemeNumber(spans.scheme);
  // The scheme is delivered first: it stays readable when the rest is refused.
  if (!Deliver(std::wstring(spans.scheme), parts->lpszScheme, &parts->dwSchemeLength, &error)) {
    SetLastError(error);
    return FALSE;
  }
  parts->nScheme = scheme;
  const bool decode = (dwFlags & (ICU_DECODE | ICU_ESCAPE)) != 0;
  INTERNET_PORT port = 0;
  std::wstring host;
  if (spans.special) {
    // An empty host ("http://", "http://user@") is one that browsers refuse too.
    if (!ostrel::platform::ParseBrowserHost(spans.host, &host)) {
      SetLastError(ERROR_INTERNET_INVALID_URL);
      return FALSE;
    }
  } else {
    host = Decode(spans.host, decode);
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
  if (!Deliver(host, parts->lpszHostName, &parts->dwHostNameLength, &error) ||
      !Deliver(Decode(user, decode), parts->lpszUserName, &parts->dwUserNameLength, &error) ||
      !Deliver(Decode(password, decode), parts->lpszPassword, &parts->dwPasswordLength, &error) ||
      !Deliver(Decode(ostrel::platform::PathOf(spans), decode), parts->lpszUrlPath,
               &parts->dwUrlPathLength, &error) ||
      !Deliver(Decode(spans.extra, decode), parts->lpszExtraInfo, &parts->dwExtraInfoLength,
               &error)) {
    SetLastError(error);
    return FALSE;
  }
  parts->nPort = port;
  return TRUE;
}
