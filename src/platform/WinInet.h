// Platform layer: URL cracking and canonicalisation (the HTTP client joins
// this header later).
// Promises of InternetCrackUrlW: leading and trailing controls and spaces,
// and tabs and newlines anywhere, are dropped first, as browsers drop them.
// A URL is "scheme:" (a letter, then letters, digits, "+", "-" or ".") and,
// when "//" follows, an authority [user[:password]@]host[:port] that ends at
// "/", "?" or "#"; then the URL path up to "?" or "#", and the extra
// information (query and fragment with their leading "?" or "#"). http and
// https are read as browsers read them, so that the host reported is the
// host a browser contacts: any run of "/" and "\" after the scheme starts
// the authority, "\" ends it too and counts as "/" in the path, the port
// starts at the first ":" outside brackets, and the host is percent-decoded,
// mapped with IDNA (UTS #46) to its ASCII form, lower-cased, and an IPv4
// address in any numeric form is written dotted-decimal, IPv6 compressed in
// brackets; the host comes back in that form with or without ICU_DECODE. A
// host a browser refuses (empty, a forbidden code point such as a decoded
// %00, a bad IPv4 or IPv6 address, a name IDNA refuses) fails with
// ERROR_INTERNET_INVALID_URL, as does a port that is not a number up to
// 65535; the scheme component and nScheme are filled before such a failure.
// The scheme comes back as written, with its INTERNET_SCHEME number
// (INTERNET_SCHEME_UNKNOWN for schemes not listed); the port is the scheme's
// default when absent. ICU_DECODE (or ICU_ESCAPE) decodes %XX sequences in
// the other components to the code unit of that byte. Each requested
// component must fit its buffer with its terminator (the length field holds
// the buffer size), else ERROR_INSUFFICIENT_BUFFER with the size needed in
// that component's length field; a string without a scheme fails with
// ERROR_INTERNET_UNRECOGNIZED_SCHEME.
// Promises of InternetCanonicalizeUrlW (flags 0 only): the same reading;
// scheme and host lower-cased (http and https hosts as above, empty user
// information and a default port dropped), an empty path becomes "/", "."
// and ".." path segments are resolved, and unsafe characters (controls,
// space, '"', '<', '>', '\', '^', '`', '{', '|', '}', 0x7F and everything
// above it, as UTF-8 bytes) are written as %XX; existing escapes are kept.
// An address the cracker refuses fails with the same error. The buffer
// length counts the terminator; when the result does not fit, it fails with
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

// ---------------------------------------------------------------------------
// HTTP client (implemented in platform/Http.cpp, over libcurl).
// Promises: InternetOpenW makes a session that remembers its agent text
// (sent as the User-Agent header) and proxy choice: PRECONFIG takes the
// proxies from the environment (http_proxy, https_proxy, all_proxy,
// no_proxy), DIRECT uses none, PROXY the given proxy and bypass list.
// InternetOpenUrlW makes a plain GET of an absolute http or https URL (other
// schemes fail with ERROR_INTERNET_UNRECOGNIZED_SCHEME), with
// "Cache-Control: no-cache" and "Pragma: no-cache" (nothing is ever cached),
// following at most 10 redirects to http or https (more fail with
// ERROR_HTTP_REDIRECT_FAILED), and returns once the whole response has
// arrived; characters outside printable ASCII in the URL are sent
// percent-encoded as UTF-8. Any HTTP status gives a handle:
// HttpQueryInfoW(HTTP_QUERY_STATUS_CODE) tells it. Limits (the defaults;
// tests change them through platform/Testing.h): 30 s to connect, 60 s
// without receiving a byte of the response (a stall, however much came
// before; noticed within about a second), 15 minutes for the whole
// response, and a body of at most 16 MiB. A session's transfers can be
// abandoned through platform/InternetAbort.h. A failure before the body
// began fails the open (null, last error ERROR_INTERNET_*,
// ERROR_NOT_ENOUGH_MEMORY for a body announced above the cap); a failure
// while the body arrives (a stall, a dropped connection, the cap reached)
// lets InternetReadFile deliver the bytes received and then fail with that
// error. InternetReadFile reports
// 0 bytes read at the end of the body. InternetConnectW only records its
// server (no network traffic). Handles of every kind are closed by
// InternetCloseHandle; a closed or unknown handle fails with
// ERROR_INVALID_HANDLE. Thread-safe; a handle is meant for one thread.

using HINTERNET = void*;

constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;

constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
constexpr DWORD INTERNET_FLAG_ASYNC = 0x10000000;  // not provided: InternetOpenW fails
// InternetOpenUrlW follows no redirect: the 3xx response itself comes back,
// and HttpQueryInfoW(HTTP_QUERY_LOCATION) tells where it points, so a
// caller can treat each hop as a request of its own.
constexpr DWORD INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;

constexpr DWORD INTERNET_SERVICE_FTP = 1;
constexpr DWORD INTERNET_SERVICE_GOPHER = 2;
constexpr DWORD INTERNET_SERVICE_HTTP = 3;

constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
constexpr DWORD HTTP_QUERY_LOCATION = 33;
constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;

constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;  // platform/InternetAbort.h
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr DWORD ERROR_HTTP_INVALID_QUERY_REQUEST = 12061;
constexpr DWORD ERROR_HTTP_HEADER_NOT_FOUND = 12150;
constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
constexpr DWORD ERROR_HTTP_REDIRECT_FAILED = 12156;
constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;

HINTERNET InternetOpenW(LPCWSTR lpszAgent, DWORD dwAccessType, LPCWSTR lpszProxy,
                        LPCWSTR lpszProxyBypass, DWORD dwFlags);
HINTERNET InternetOpenUrlW(HINTERNET hInternet, LPCWSTR lpszUrl, LPCWSTR lpszHeaders,
                           DWORD dwHeadersLength, DWORD dwFlags, DWORD_PTR dwContext);
BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      LPDWORD lpdwNumberOfBytesRead);
BOOL InternetCloseHandle(HINTERNET hInternet);
HINTERNET InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName, INTERNET_PORT nServerPort,
                           LPCWSTR lpszUserName, LPCWSTR lpszPassword, DWORD dwService,
                           DWORD dwFlags, DWORD_PTR dwContext);
// HTTP_QUERY_STATUS_CODE: with HTTP_QUERY_FLAG_NUMBER a DWORD (the buffer
// length is 4 bytes), otherwise the decimal text (the length is in bytes;
// too small a buffer fails with ERROR_INSUFFICIENT_BUFFER and the size
// needed). HTTP_QUERY_LOCATION: a redirect's target as text, in the same
// way, already resolved against the request's URL (absolute); a response
// that points nowhere fails with ERROR_HTTP_HEADER_NOT_FOUND, and
// HTTP_QUERY_FLAG_NUMBER with ERROR_HTTP_INVALID_QUERY_REQUEST. Other
// queries fail with ERROR_HTTP_HEADER_NOT_FOUND.
BOOL HttpQueryInfoW(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                    LPDWORD lpdwBufferLength, LPDWORD lpdwIndex);
