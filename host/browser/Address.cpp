#include "browser/Address.h"

#include <cwctype>
#include <vector>

#include "platform/WinError.h"
#include "platform/WinInet.h"

namespace ostrel::host {

namespace {

bool HasScheme(const std::wstring& address, const wchar_t* scheme) {
  const std::wstring prefix = std::wstring(scheme) + L":";
  if (address.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (static_cast<wchar_t>(towlower(address[i])) != prefix[i]) return false;
  return true;
}

}  // namespace

bool IsHttpAddress(const std::wstring& address) {
  return HasScheme(address, L"http") || HasScheme(address, L"https");
}

std::optional<std::wstring> CanonicalAddress(const std::wstring& address) {
  if (address.empty() || address.find(L'\0') != std::wstring::npos) return std::nullopt;
  // Escapes can make it longer; a second try gets the size the first was told.
  DWORD size = static_cast<DWORD>(address.size() * 3 + 16);
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::vector<wchar_t> buffer(size);
    if (InternetCanonicalizeUrlW(address.c_str(), buffer.data(), &size, 0))
      return std::wstring(buffer.data(), size);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
  }
  return std::nullopt;
}

}  // namespace ostrel::host
