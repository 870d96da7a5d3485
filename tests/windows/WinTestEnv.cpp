#include "windows/WinTestEnv.h"

#include <windows.h>

#include <filesystem>

#include "common/TestEnv.h"
#include "platform/Utf8.h"

namespace ostrel::test {
namespace {

std::string g_root;  // UTF-8, with forward slashes, as the Linux tests build paths
HANDLE g_locked = INVALID_HANDLE_VALUE;  // holds the lock of UnreadableFilePath's file

}  // namespace

PrivateTempFolder::PrivateTempFolder() {
  wchar_t base[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, base);
  m_path = std::wstring(base, length) + L"ostrel-test-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring temp = m_path + L"\\tmp";
  CreateDirectoryW(m_path.c_str(), nullptr);
  CreateDirectoryW(temp.c_str(), nullptr);
  SetEnvironmentVariableW(L"TMP", temp.c_str());
  SetEnvironmentVariableW(L"TEMP", temp.c_str());
  g_root = platform::ToUtf8(m_path);
  for (char& c : g_root)
    if (c == '\\') c = '/';
}

PrivateTempFolder::~PrivateTempFolder() {
  if (g_locked != INVALID_HANDLE_VALUE) CloseHandle(g_locked);
  g_locked = INVALID_HANDLE_VALUE;
  g_root.clear();
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

const std::string& TestRoot() { return g_root; }

// Windows: a file whose every byte another handle of this process keeps
// locked; it opens, and ReadFile through any other handle fails with a lock
// violation. Wine does not hold reads to byte-range locks (the read
// succeeds), so there the Linux file behind the Z: drive serves instead:
// /proc/self/mem opens as a disk file and its first read fails.
std::string UnreadableFilePath() {
  if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
    return "Z:/proc/self/mem";
  const std::string path = TestRoot() + "/unreadable.dat";
  if (g_locked == INVALID_HANDLE_VALUE) {
    g_locked = CreateFileW(platform::FromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(g_locked, "locked", 6, &written, nullptr);
    LockFile(g_locked, 0, 0, MAXDWORD, MAXDWORD);
  }
  return path;
}

void DeleteFilterSettings() { RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Ostrel"); }

bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

std::wstring ThisProgram() {
  wchar_t path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
  return std::wstring(path, length);
}

namespace {

// The process of this program run with arguments, or null.
HANDLE StartThisProgram(const std::wstring& arguments) {
  std::wstring command = L"\"" + ThisProgram() + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

// Waits for a process and closes its handle; it is ended when it runs on.
int EndProcess(HANDLE process, unsigned long timeoutMs) {
  if (!process) return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process, &code)) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    code = static_cast<DWORD>(-1);
  }
  CloseHandle(process);
  return static_cast<int>(code);
}

}  // namespace

int RunThisProgram(const std::wstring& arguments, unsigned long timeoutMs) {
  return EndProcess(StartThisProgram(arguments), timeoutMs);
}

ChildRole::ChildRole(const std::wstring& test)
    : m_process(StartThisProgram(L"--gtest_filter=" + test + L" " +
                                 std::wstring(kChildRoleFlag, kChildRoleFlag + sizeof kChildRoleFlag - 1))) {}

ChildRole::~ChildRole() {
  if (m_process) EndProcess(m_process, 0);
}

int ChildRole::Wait(unsigned long timeoutMs) {
  const int code = EndProcess(m_process, timeoutMs);
  m_process = nullptr;
  return code;
}

}  // namespace ostrel::test
