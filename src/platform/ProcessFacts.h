// Platform layer: facts about the running process and its user.
// Promises: GetTempPathW gives a private folder of the user (a folder, not a
// link, owned by them, mode 0700), with a trailing "/": $TMPDIR when it is
// such a folder, else $XDG_CACHE_HOME/ostrel/tmp
// (default ~/.cache/ostrel/tmp), made 0700; never a shared folder such as
// /tmp itself. GetUserNameW gives the effective user's name from the password
// database. GetModuleFileNameW gives the absolute path of the program for a
// null module, or of a loaded library for its dlopen handle or load address.
// Sizes are in characters, as on Windows: GetTempPathW returns the length
// without the terminator, or the size needed with it when the buffer is too
// small (writing nothing); GetUserNameW fails with ERROR_INSUFFICIENT_BUFFER
// and the size needed; GetModuleFileNameW cuts the path to nSize characters
// with the terminator, returns nSize and sets ERROR_INSUFFICIENT_BUFFER.
// Failures return 0 (FALSE) and set the last error.
#pragma once

#include "platform/WinError.h"
#include "platform/WinTypes.h"

constexpr DWORD MAX_PATH = 260;

DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer);
BOOL GetUserNameW(LPWSTR lpBuffer, LPDWORD pcbBuffer);
DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
