#include "windows/WinTestEnv.h"

#include <windows.h>

#include <filesystem>

namespace ostrel::test {

PrivateTempFolder::PrivateTempFolder() {
  wchar_t base[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, base);
  m_path = std::wstring(base, length) + L"ostrel-test-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(m_path.c_str(), nullptr);
  SetEnvironmentVariableW(L"TMP", m_path.c_str());
  SetEnvironmentVariableW(L"TEMP", m_path.c_str());
}

PrivateTempFolder::~PrivateTempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
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
