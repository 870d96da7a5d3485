// Internal to the platform layer: the URL grammar shared by the cracker and
// the canonicaliser, as spans of the input (nothing decoded or copied).
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/WinInet.h"

namespace ostrel::platform {

struct UrlSpans {
  std::wstring_view scheme;
  bool hasAuthority = false;   // "//" followed the scheme
  std::wstring_view userInfo;  // before the last "@" of the authority
  bool hasUserInfo = false;
  std::wstring_view host;
  std::wstring_view port;  // digits after ":" (may be empty)
  bool hasPort = false;
  std::wstring_view path;
  std::wstring_view extra;  // from the first "?" or "#" to the end
};

// Splits url; false (with the Windows error in *error) when it has no scheme.
bool SplitUrl(std::wstring_view url, UrlSpans* spans, DWORD* error);

INTERNET_SCHEME SchemeNumber(std::wstring_view scheme);
INTERNET_PORT DefaultPort(INTERNET_SCHEME scheme);

inline wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c; }

}  // namespace ostrel::platform
