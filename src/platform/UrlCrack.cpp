#include <cwchar>
#include <string>

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
// buffer size on entry and the component's length on return.
bool Deliver(const std::wstring& value, LPWSTR buffer, DWORD* length, DWORD* error) {
  if (!buffer) {
    if (*length != 0) {  // pointers into the URL cannot carry decoded text
      *error = ERROR_INVALID_PARAMETER;
      return false;
    }
    return true;
  }
  if (value.size() + 1 > *length) {
    *error = ERROR_INSUFFICIENT_BUFFER;
    return false;
  }
  std::wmemcpy(buffer, value.data(), value.size());
  buffer[value.size()] = L'\0';
  *length = static_cast<DWORD>(value.size());
  return true;
}

bool ParsePort(std::wstring_view digits, INTERNET_SCHEME scheme, INTERNET_PORT* port) {
  if (digits.empty()) {
    *port = ostrel::platform::DefaultPort(scheme);
    return true;
  }
  unsigned long value = 0;
  for (wchar_t c : digits) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + static_cast<unsigned long>(c - L'0');
    if (value > 65535) return false;
  }
  *port = static_cast<INTERNET_PORT>(value);
  return true;
}

}  // namespace

BOOL InternetCrackUrlW(LPCWSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                       URL_COMPONENTSW* parts) {
  if (!lpszUrl || !parts || parts->dwStructSize != sizeof(URL_COMPONENTSW)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::wstring_view url(lpszUrl, dwUrlLength ? dwUrlLength : std::wcslen(lpszUrl));
  DWORD error = ERROR_SUCCESS;
  UrlSpans spans;
  if (!ostrel::platform::SplitUrl(url, &spans, &error)) {
    SetLastError(error);
    return FALSE;
  }
  const INTERNET_SCHEME scheme = ostrel::platform::SchemeNumber(spans.scheme);
  INTERNET_PORT port = 0;
  if (!ParsePort(spans.hasPort ? spans.port : std::wstring_view(), scheme, &port)) {
    SetLastError(ERROR_INTERNET_INVALID_URL);
    return FALSE;
  }
  const bool decode = (dwFlags & (ICU_DECODE | ICU_ESCAPE)) != 0;
  std::wstring_view user = spans.userInfo, password;
  if (const std::size_t colon = user.find(L':'); colon != std::wstring_view::npos) {
    password = user.substr(colon + 1);
    user = user.substr(0, colon);
  }
  if (!Deliver(std::wstring(spans.scheme), parts->lpszScheme, &parts->dwSchemeLength, &error) ||
      !Deliver(Decode(spans.host, decode), parts->lpszHostName, &parts->dwHostNameLength, &error) ||
      !Deliver(Decode(user, decode), parts->lpszUserName, &parts->dwUserNameLength, &error) ||
      !Deliver(Decode(password, decode), parts->lpszPassword, &parts->dwPasswordLength, &error) ||
      !Deliver(Decode(spans.path, decode), parts->lpszUrlPath, &parts->dwUrlPathLength, &error) ||
      !Deliver(Decode(spans.extra, decode), parts->lpszExtraInfo, &parts->dwExtraInfoLength,
               &error)) {
    SetLastError(error);
    return FALSE;
  }
  parts->nScheme = scheme;
  parts->nPort = port;
  return TRUE;
}
