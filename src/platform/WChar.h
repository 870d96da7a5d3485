// Platform layer: Windows-style wide formatted output.
// Promises: the format follows the Windows wide-printf meaning, translated
// for glibc: "%s" and "%c" take wide arguments ("%hs"/"%S" narrow), the "l"
// length on an integer conversion means 32 bits as on Windows ("%ld" takes a
// LONG, "%lu" a DWORD), "%I64d" takes 64 bits. _vsnwprintf writes at most
// count characters; it returns the length when the whole output fits
// (terminated only when the length is below count) and -1 when it does not
// or when the output cannot be formed at all (a narrow argument that is not
// valid text, say). _vscwprintf tells the two apart: it returns the length
// the whole output needs, or -1 only when it cannot be formed.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

int _vsnwprintf(wchar_t* buffer, std::size_t count, const wchar_t* format, va_list args);
int _vscwprintf(const wchar_t* format, va_list args);

namespace ostrel::platform {

// The glibc form of a Windows wide-printf format (exposed for tests).
std::wstring TranslateWideFormat(const wchar_t* format);

}  // namespace ostrel::platform
