// Windows: HTTP is the system's WinINet. The address reader is ours on
// every platform: InternetCrackUrlW and InternetCanonicalizeUrlW read http
// and https addresses as browsers do, so that the host the filter scans is
// the host the browser contacts, which WinINet's own readers do not promise
// (they keep a host's case and escapes, take "\" as part of a user name,
// leave numeric hosts unread). Those two names therefore go to our
// functions (src/platform/UrlCrack.cpp, UrlCanonicalize.cpp), with the
// promises written in src/platform/WinInet.h. Requests are WinINet's,
// through ours (below).
#pragma once

#include "platform/WinTypes.h"

#include <wininet.h>

#define InternetCrackUrlW OstrelInternetCrackUrlW
#define InternetCanonicalizeUrlW OstrelInternetCanonicalizeUrlW

BOOL InternetCrackUrlW(LPCWSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                       URL_COMPONENTSW* lpUrlComponents);
BOOL InternetCanonicalizeUrlW(LPCWSTR lpszUrl, LPWSTR lpszBuffer, LPDWORD lpdwBufferLength,
                              DWORD dwFlags);

// A session's requests are opened, read and closed through ours, which keep
// the promises of platform/InternetAbort.h (win32/InternetSession.cpp).
#define InternetOpenUrlW OstrelInternetOpenUrlW
#define InternetReadFile OstrelInternetReadFile
#define InternetCloseHandle OstrelInternetCloseHandle

HINTERNET InternetOpenUrlW(HINTERNET hInternet, LPCWSTR lpszUrl, LPCWSTR lpszHeaders,
                           DWORD dwHeadersLength, DWORD dwFlags, DWORD_PTR dwContext);
BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      LPDWORD lpdwNumberOfBytesRead);
BOOL InternetCloseHandle(HINTERNET hInternet);
