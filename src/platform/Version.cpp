// The version the system is told it runs on, with the seams tests use to
// change it.
#include "platform/Version.h"

#include <atomic>
#include <cwchar>

#include "platform/Testing.h"

namespace {
std::atomic<DWORD> g_major{6};
std::atomic<DWORD> g_minor{1};
std::atomic<bool> g_fails{false};
std::atomic<unsigned long> g_queries{0};
}  // namespace

namespace ostrel::platform::testing {
void SetReportedWindowsVersion(DWORD major, DWORD minor) {
  g_major = major;
  g_minor = minor;
}
void SetVersionQueryFails(bool fails) { g_fails = fails; }
unsigned long VersionQueryCount() { return g_queries; }
}  // namespace ostrel::platform::testing

BOOL GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
  ++g_queries;
  if (!lpVersionInformation || lpVersionInformation->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (g_fails) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  lpVersionInformation->dwMajorVersion = g_major;
  lpVersionInformation->dwMinorVersion = g_minor;
  lpVersionInformation->dwBuildNumber = 7601;
  lpVersionInformation->dwPlatformId = VER_PLATFORM_WIN32_NT;
  lpVersionInformation->szCSDVersion[0] = L'\0';
  return TRUE;
}
