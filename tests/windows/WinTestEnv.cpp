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

std::wstring ThisProgram() {
  wchar_t path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
  return std::wstring(path, length);
}

int RunThisProgram(const std::wstring& arguments, unsigned long timeoutMs) {
  std::wstring command = L"\"" + ThisProgram() + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return -1;
  CloseHandle(process.hThread);
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.hProcess, &code)) {
    TerminateProcess(process.hProcess, 1);
    code = static_cast<DWORD>(-1);
  }
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

}  // namespace ostrel::test
