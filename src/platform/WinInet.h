// Platform layer: URL cracking and canonicalisation (the HTTP client joins
// this header later).
// Promises of InternetCrackUrlW: a URL is "scheme:" (a letter, then letters,
// digits, "+", "-" or ".") and, when "//" follows, an authority
// [user[:password]@]host[:port] that ends at "/", "?" or "#"; then the URL
// path up to "?" or "#", and the extra information (query and fragment with
// their leading "?" or "#"). The scheme comes back as written, with its
// INTERNET_SCHEME number (INTERNET_SCHEME_UNKNOWN for schemes not listed);
// the port is the scheme's default when absent. ICU_DECODE (or ICU_ESCAPE)
// decodes %XX sequences in the components to the code unit of that byte.
// Each requested component must fit its buffer with its terminator (the
// length field holds the buffer size), else ERROR_INSUFFICIENT_BUFFER; a
// string without a scheme fails with ERROR_INTERNET_UNRECOGNIZED_SCHEME, a
// port that is not a number up to 65535 with ERROR_INTERNET_INVALID_URL.
// Promises of InternetCanonicalizeUrlW (flags 0 only): scheme and host
// lower-cased, an empty path becomes "/", "." and ".." path segments are
// resolved, and unsafe characters (controls, space, '"', '<', '>', '\',
// '^', '`', '{', '|', '}', 0x7F and everything above it, as UTF-8 bytes)
// are written as %XX; existing escapes are kept. The buffer length counts
// the terminator; when the result does not fit, it fails with
// ERROR_INSUFFICIENT_BUFFER and reports the size needed. Both functions take
// URLs of any length.
#pragma once

#include "platform/WinTypes.h"

using INTERNET_PORT = WORD;

enum INTERNET_SCHEME : int {
  INTERNET_SCHEME_PARTIAL = -2,
  INTERNET_SCHEME_UNKNOWN = -1,
  INTERNET_SCHEME_DEFAULT = 0,
  INTERNET_SCHEME_FTP = 1,
  INTERNET_SCHEME_GOPHER = 2,
  INTERNET_SCHEME_HTTP = 3,
  INTERNET_SCHEME_HTTPS = 4,
  INTERNET_SCHEME_FILE = 5,
  INTERNET_SCHEME_NEWS = 6,
  INTERNET_SCHEME_MAILTO = 7,
  INTERNET_SCHEME_SOCKS = 8,
  INTERNET_SCHEME_JAVASCRIPT = 9,
  INTERNET_SCHEME_VBSCRIPT = 10,
  INTERNET_SCHEME_RES = 11,
};

struct URL_COMPONENTSW {
  DWORD dwStructSize;
  LPWSTR lpszScheme;
  DWORD dwSchemeLength;
  INTERNET_SCHEME nScheme;
  LPWSTR lpszHostName;
  DWORD dwHostNameLength;
  INTERNET_PORT nPort;
  LPWSTR lpszUserName;
  DWORD dwUserNameLength;
  LPWSTR lpszPassword;
  DWORD dwPasswordLength;
  LPWSTR lpszUrlPath;
  DWORD dwUrlPathLength;
  LPWSTR lpszExtraInfo;
  DWORD dwExtraInfoLength;
};

constexpr DWORD ICU_ESCAPE = 0x80000000;
constexpr DWORD ICU_DECODE = 0x10000000;

constexpr INTERNET_PORT INTERNET_DEFAULT_FTP_PORT = 21;
constexpr INTERNET_PORT INTERNET_DEFAULT_GOPHER_PORT = 70;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;
constexpr INTERNET_PORT INTERNET_DEFAULT_SOCKS_PORT = 1080;

BOOL InternetCrackUrlW(LPCWSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                       URL_COMPONENTSW* lpUrlComponents);

BOOL InternetCanonicalizeUrlW(LPCWSTR lpszUrl, LPWSTR lpszBuffer, LPDWORD lpdwBufferLength,
                              DWORD dwFlags);
