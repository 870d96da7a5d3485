#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "platform/UrlHost.h"
#include "platform/UrlSyntax.h"
#include "platform/WinError.h"
#include "platform/WinInet.h"

namespace {

using ostrel::platform::AsciiLower;

struct UnsafeTable {
  bool unsafe[128] = {};
  constexpr UnsafeTable() {
    for (int i = 0; i <= 0x20; ++i) unsafe[i] = true;
    for (char u : {'"', '<', '>', '\\', '^', '`', '{', '|', '}', '\x7F'}) unsafe[static_cast<int>(u)] = true;
  }
};
constexpr UnsafeTable kUnsafe;  // ASCII, from a table: this runs for every character

bool IsUnsafe(wchar_t c) {
  return ostrel::platform::IsNegativeChar(c) || c >= 0x7F || kUnsafe.unsafe[c];
}

void AppendByte(std::wstring& out, unsigned byte) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  out += L'%';
  out += kHex[(byte >> 4) & 0xF];
  out += kHex[byte & 0xF];
}

// Writes an unsafe character as the %XX escapes of its UTF-8 bytes.
void AppendEscaped(std::wstring& out, wchar_t wc) {
  char32_t c = static_cast<char32_t>(wc);
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x80) {
    AppendByte(out, c);
  } else if (c < 0x800) {
    AppendByte(out, 0xC0 | (c >> 6));
    AppendByte(out, 0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    AppendByte(out, 0xE0 | (c >> 12));
    AppendByte(out, 0x80 | ((c >> 6) & 0x3F));
    AppendByte(out, 0x80 | (c & 0x3F));
  } else {
    AppendByte(out, 0xF0 | (c >> 18));
    AppendByte(out, 0x80 | ((c >> 12) & 0x3F));
    AppendByte(out, 0x80 | ((c >> 6) & 0x3F));
    AppendByte(out, 0x80 | (c & 0x3F));
  }
}

// Appends text with unsafe characters escaped; the safe runs between them
// are appended whole.
void AppendSafe(std::wstring& out, std::wstring_view text) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsUnsafe(text[i])) continue;
    out.append(text.data() + run, i - run);
    AppendEscaped(out, text[i]);
    run = i + 1;
  }
  out.append(text.data() + run, text.size() - run);
}

// Appends path without its "." and ".." segments, as a browser resolves
// them, unsafe characters escaped; for http and https ("special") "\"
// separates segments too and is written "/".
void AppendResolved(std::wstring& out, std::wstring_view path, bool special) {
  // The next separator from pos: each search ends where the segment does.
  const auto separator = [&](std::size_t pos) {
    std::size_t slash = path.find(L'/', pos);
    if (slash == std::wstring_view::npos) slash = path.size();
    if (!special) return slash;
    const std::size_t backslash = path.substr(0, slash).find(L'\\', pos);
    return backslash == std::wstring_view::npos ? slash : backslash;
  };
  std::vector<std::wstring_view> segments;
  bool trailingSlash = false;
  std::size_t pos = 0;
  if (!path.empty() && separator(0) == 0) pos = 1;
  const bool absolute = pos == 1;
  while (pos <= path.size()) {
    std::size_t slash = separator(pos);
    const bool last = slash == path.size();
    const std::wstring_view segment = path.substr(pos, slash - pos);
    trailingSlash = false;
    // Compared by length first: this runs for every segment.
    if (segment.size() == 1 && segment[0] == L'.') {
      trailingSlash = true;
    } else if (segment.size() == 2 && segment[0] == L'.' && segment[1] == L'.') {
      if (!segments.empty()) segments.pop_back();
      trailingSlash = true;
    } else if (!(last && segment.empty())) {
      segments.push_back(segment);
    } else {
      trailingSlash = true;
    }
    if (last) break;
    pos = slash + 1;
  }
  if (absolute) out += L'/';
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (i) out += L'/';
    AppendSafe(out, segments[i]);
  }
  if (trailingSlash && !segments.empty()) out += L'/';
}

// The canonical form of a cleaned url; false when a browser would refuse it.
bool Canonical(std::wstring_view url, const ostrel::platform::UrlSpans& s, std::wstring* result) {
  std::wstring out;
  out.reserve(url.size() + 16);
  for (wchar_t c : s.scheme) out += AsciiLower(c);
  out += L':';
  if (!s.hasAuthority) {
    AppendSafe(out, url.substr(s.scheme.size() + 1));
    *result = std::move(out);
    return true;
  }
  out += L"//";
  if (s.special) {
    // As browsers write it: user information only when not empty, the host
    // parsed, the port in decimal and only when not the scheme's default.
    const INTERNET_SCHEME scheme = ostrel::platform::SchemeNumber(s.scheme);
    std::wstring host;
    INTERNET_PORT port = 0;
    if (!ostrel::platform::ParseBrowserHost(s.host, &host) ||
        !ostrel::platform::ParsePort(s.hasPort ? s.port : std::wstring_view(), scheme, &port))
      return false;
    std::wstring_view user = s.userInfo, password;
    if (const std::size_t colon = user.find(L':'); colon != std::wstring_view::npos) {
      password = user.substr(colon + 1);
      user = user.substr(0, colon);
    }
    if (!user.empty() || !password.empty()) {
      AppendSafe(out, user);
      if (!password.empty()) {
        out += L':';
        AppendSafe(out, password);
      }
      out += L'@';
    }
    out += host;
    if (port != ostrel::platform::DefaultPort(scheme)) out += L':' + std::to_wstring(port);
  } else {
    if (s.hasUserInfo) {
      AppendSafe(out, s.userInfo);
      out += L'@';
    }
    for (wchar_t c : s.host) out += AsciiLower(c);
    if (s.hasPort) {
      out += L':';
      out += s.port;
    }
  }
  if (s.path.empty())
    out += L'/';
  else
    AppendResolved(out, s.path, s.special);
  AppendSafe(out, s.extra);
  *result = std::move(out);
  return true;
}

}  // namespace

BOOL InternetCanonicalizeUrlW(LPCWSTR lpszUrl, LPWSTR lpszBuffer, LPDWORD lpdwBufferLength,
                              DWORD dwFlags) {
  if (!lpszUrl || !lpdwBufferLength || dwFlags != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::wstring cleaned;
  const std::wstring_view url = ostrel::platform::CleanUrl(lpszUrl, &cleaned);
  ostrel::platform::UrlSpans spans;
  DWORD error = ERROR_SUCCESS;
  std::wstring result;
  if (!ostrel::platform::SplitUrl(url, &spans, &error)) {
    SetLastError(error);
    return FALSE;
  }
  if (!Canonical(url, spans, &result)) {
    SetLastError(ERROR_INTERNET_INVALID_URL);
    return FALSE;
  }
  if (!lpszBuffer || result.size() + 1 > *lpdwBufferLength) {
    *lpdwBufferLength = static_cast<DWORD>(result.size() + 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::wmemcpy(lpszBuffer, result.data(), result.size());
  lpszBuffer[result.size()] = L'\0';
  *lpdwBufferLength = static_cast<DWORD>(result.size());
  return TRUE;
}
