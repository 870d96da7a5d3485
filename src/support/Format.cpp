#include "support/Format.h"

#include <cstdarg>

#include "platform/WChar.h"

std::wstring Format(const wchar_t* format, ...) {
  constexpr std::size_t kBufferSize = 2048;
  wchar_t buffer[kBufferSize];
  va_list args;
  va_start(args, format);
  _vsnwprintf(buffer, kBufferSize - 1, format, args);
  va_end(args);
  buffer[kBufferSize - 1] = L'\0';
  return buffer;
}
