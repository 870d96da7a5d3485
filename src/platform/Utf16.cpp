#include "platform/Utf16.h"

#include <type_traits>

namespace ostrel::platform {
namespace {

void PutUnit(std::string& out, char32_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>((unit >> 8) & 0xFF);
}

}  // namespace

std::string ToUtf16Le(const std::wstring& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (wchar_t wc : text) {
    // wchar_t is signed on this platform: go through its unsigned form.
    char32_t c = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(wc));
    if (c > 0x10FFFF) c = 0xFFFD;
    if (c >= 0x10000) {
      c -= 0x10000;
      PutUnit(out, 0xD800 + (c >> 10));
      PutUnit(out, 0xDC00 + (c & 0x3FF));
    } else {
      PutUnit(out, c);
    }
  }
  return out;
}

std::wstring FromUtf16Le(const void* bytes, std::size_t count) {
  std::wstring out;
  if (!bytes) return out;
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  const std::size_t units = count / 2;
  out.reserve(units);
  auto unit = [p](std::size_t i) -> char32_t { return p[2 * i] | (char32_t{p[2 * i + 1]} << 8); };
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const char32_t low = unit(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        out += static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    out += static_cast<wchar_t>(u);
  }
  return out;
}

}  // namespace ostrel::platform
