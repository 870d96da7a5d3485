#include "support/Desktop.h"

#include "platform/ShellApi.h"
#include "platform/WinUser.h"

int ShowMessageBox(const wchar_t* text, const wchar_t* caption, UINT type) {
  return MessageBoxW(nullptr, text ? text : L"", caption ? caption : L"", type);
}

bool OpenInBrowser(const wchar_t* address) {
  HINSTANCE result = ShellExecuteW(nullptr, L"open", L"iexplore.exe", address, nullptr, SW_SHOW);
  return reinterpret_cast<INT_PTR>(result) > 32;
}
