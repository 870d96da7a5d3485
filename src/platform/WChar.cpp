#include "platform/WChar.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace ostrel::platform {

std::wstring TranslateWideFormat(const wchar_t* format) {
  std::wstring out;
  if (!format) return out;
  const wchar_t* p = format;
  while (*p) {
    if (*p != L'%') {
      out += *p++;
      continue;
    }
    out += *p++;  // '%'
    // Flags, width and precision pass through unchanged.
    while (*p && std::wcschr(L"-+ #0'", *p)) out += *p++;
    while (*p && ((*p >= L'0' && *p <= L'9') || *p == L'*')) out += *p++;
    if (*p == L'.') {
      out += *p++;
      while (*p && ((*p >= L'0' && *p <= L'9') || *p == L'*')) out += *p++;
    }
    // Length modifier, in its Windows meaning.
    std::wstring length;
    if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
      length = L"ll";
      p += 3;
    } else if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2') {
      length = L"I32";
      p += 3;
    } else if (p[0] == L'I') {
      length = L"z";
      p += 1;
    } else if ((p[0] == L'h' && p[1] == L'h') || (p[0] == L'l' && p[1] == L'l')) {
      length.assign(p, 2);
      p += 2;
    } else if (*p && std::wcschr(L"hlLwjzt", *p)) {
      length.assign(p, 1);
      p += 1;
    }
    const wchar_t conv = *p;
    if (!conv) {
      out += length;
      break;
    }
    ++p;
    switch (conv) {
      case L's':
      case L'c':
        out += (length == L"h") ? L"" : L"l";
        break;
      case L'S':
      case L'C':
        out += (length == L"l" || length == L"w") ? L"l" : L"";
        break;
      case L'd':
      case L'i':
      case L'u':
      case L'o':
      case L'x':
      case L'X':
        // Windows "long" is 32 bits: "%ld" reads an int-sized argument.
        if (length != L"l" && length != L"I32") out += length;
        break;
      default:
        if (length != L"I32" && length != L"w") out += length;
        break;
    }
    out += (conv == L'S') ? L's' : (conv == L'C') ? L'c' : conv;
  }
  return out;
}

}  // namespace ostrel::platform

namespace {

// The whole output of a Windows wide-printf format; false when the format or
// an argument cannot be written (a narrow string that is not valid in the
// locale, for one).
bool FormatWhole(const wchar_t* format, va_list args, std::wstring& out) {
  const std::wstring translated = ostrel::platform::TranslateWideFormat(format);
  wchar_t* text = nullptr;
  std::size_t length = 0;
  FILE* stream = open_wmemstream(&text, &length);
  if (!stream) return false;
  va_list copy;
  va_copy(copy, args);
  const int written = std::vfwprintf(stream, translated.c_str(), copy);
  va_end(copy);
  std::fclose(stream);
  if (written >= 0) out.assign(text, length);
  std::free(text);
  return written >= 0;
}

}  // namespace

int _vsnwprintf(wchar_t* buffer, std::size_t count, const wchar_t* format, va_list args) {
  if (!format || (!buffer && count)) return -1;
  std::wstring text;
  if (!FormatWhole(format, args, text)) {
    if (count) buffer[0] = L'\0';
    return -1;
  }
  const std::size_t length = text.size();
  const std::size_t n = length < count ? length : count;
  if (n) std::wmemcpy(buffer, text.data(), n);
  if (length < count) buffer[length] = L'\0';
  return length <= count ? static_cast<int>(length) : -1;
}

int _vscwprintf(const wchar_t* format, va_list args) {
  if (!format) return -1;
  std::wstring text;
  if (!FormatWhole(format, args, text) || text.size() > static_cast<std::size_t>(INT_MAX)) return -1;
  return static_cast<int>(text.size());
}
