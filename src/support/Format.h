// Format: printf-style formatting into a new wide string, with Windows wide
// formats ("%s" is a wide string, "%ld" a 32-bit LONG). The output passes
// through a 2,048-character buffer: anything beyond 2,047 characters is cut.
#pragma once

#include <string>

std::wstring Format(const wchar_t* format, ...);
