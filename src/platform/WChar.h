// Platform layer: Windows-style wide formatted output.
// Promises: the format follows the Windows wide-printf meaning, translated
// for glibc: "%s" and "%c" take wide arguments ("%hs"/"%S" narrow), the "l"
// length on an integer conversion means 32 bits as on Windows ("%ld" takes a
// LONG, "%lu" a DWORD), "%I64d" takes 64 bits. _vsnwprintf writes at most
// count characters; it returns the length when the whole output fits
// (terminated only when the length is below count) and -1 when it does not.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

int _vsnwprintf(wchar_t* buffer, std::size_t count, const wchar_t* format, va_list args);

namespace ostrel::platform {

// The glibc form of a Windows wide-printf format (exposed for tests).
std::wstring TranslateWideFormat(const wchar_t* format);

}  // namespace ostrel::platform
