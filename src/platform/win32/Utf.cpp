// Windows: UTF-8 through the system's code-page conversion, and the
// registry's UTF-16LE form, which is wchar_t's own form here.
#include "platform/Utf16.h"
#include "platform/Utf8.h"
#include "platform/WinTypes.h"

namespace ostrel::platform {

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr,
                                         nullptr);
  std::string out(needed, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), needed, nullptr, nullptr);
  return out;
}

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  std::wstring out(needed, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), needed);
  return out;
}

std::string ToUtf16Le(const std::wstring& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (wchar_t unit : text) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>((unit >> 8) & 0xFF);
  }
  return out;
}

std::wstring FromUtf16Le(const void* bytes, std::size_t count) {
  std::wstring out;
  if (!bytes) return out;
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  out.reserve(count / 2);
  for (std::size_t i = 0; i + 1 < count; i += 2)
    out += static_cast<wchar_t>(p[i] | (p[i + 1] << 8));
  return out;
}

}  // namespace ostrel::platform
