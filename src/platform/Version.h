// Platform layer: the version of the platform the system believes it runs on.
// Promises: GetVersionExW fills an OSVERSIONINFOW whose dwOSVersionInfoSize
// is sizeof(OSVERSIONINFOW) with version 6.1 (build 7601, platform
// VER_PLATFORM_WIN32_NT, no service-pack text) and returns TRUE; any other
// size fails with ERROR_INSUFFICIENT_BUFFER and writes nothing else. Tests
// may report another version or a failure (platform/Testing.h).
#pragma once

#include "platform/WinError.h"
#include "platform/WinTypes.h"

constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

struct OSVERSIONINFOW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
};
using POSVERSIONINFOW = OSVERSIONINFOW*;
using LPOSVERSIONINFOW = OSVERSIONINFOW*;

BOOL GetVersionExW(LPOSVERSIONINFOW lpVersionInformation);
