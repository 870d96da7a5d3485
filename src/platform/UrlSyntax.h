// Internal to the platform layer: the URL grammar shared by the cracker and
// the canonicaliser, as spans of the input (nothing decoded or copied).
// http and https are read as browsers read them (the URL Standard): leading
// and trailing controls and spaces, and tabs and newlines anywhere, are
// dropped first (CleanUrl); every "/" and "\" after the scheme is skipped;
// the authority ends at "/", "\", "?" or "#"; the port starts at the first
// ":" outside brackets. Other schemes keep the plain grammar of WinInet.h.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/WinInet.h"

namespace ostrel::platform {

// A wide value below zero, which is no character (wchar_t is signed here,
// unsigned on Windows, where no value is below zero).
template <class Char>
constexpr bool IsNegativeChar(Char c) {
  if constexpr (std::is_signed_v<Char>)
    return c < 0;
  else
    return false;
}

struct UrlSpans {
  std::wstring_view scheme;
  bool special = false;        // http or https: browsers' grammar, "\" as "/"
  bool hasAuthority = false;   // "//" followed the scheme (always for http and https)
  std::wstring_view userInfo;  // before the last "@" of the authority
  bool hasUserInfo = false;
  std::wstring_view host;
  std::wstring_view port;  // after ":" (may be empty)
  bool hasPort = false;
  std::wstring_view path;   // as written ("\" is a separator for http and https)
  std::wstring_view extra;  // from the first "?" or "#" after the authority to the end
};

// The address a browser reads from url: without leading and trailing C0
// controls and spaces, and without tabs, CRs and LFs anywhere. A view of
// url itself when nothing inside it goes (the usual case, and no copy),
// else of *storage, which then holds the cleaned text.
std::wstring_view CleanUrl(std::wstring_view url, std::wstring* storage);

// Splits a cleaned url; false (with the Windows error in *error) when it has
// no scheme.
bool SplitUrl(std::wstring_view url, UrlSpans* spans, DWORD* error);

INTERNET_SCHEME SchemeNumber(std::wstring_view scheme);
INTERNET_PORT DefaultPort(INTERNET_SCHEME scheme);
// Decimal digits up to 65535 (leading zeros allowed); empty means the
// scheme's default. False for anything else.
bool ParsePort(std::wstring_view digits, INTERNET_SCHEME scheme, INTERNET_PORT* port);

inline wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c; }

}  // namespace ostrel::platform
