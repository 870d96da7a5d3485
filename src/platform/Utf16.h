// Platform layer: the UTF-16LE byte form in which string values travel
// through the registry (REG_SZ data is the string's 16-bit units, low byte
// first, without a terminator).
// Promises: ToUtf16Le writes a character above U+FFFF as a surrogate pair,
// any other 16-bit value as itself, and a value that is no code point as
// U+FFFD; FromUtf16Le decodes every unit it is given (a null unit is a
// character like any other), joins surrogate pairs, keeps an unpaired
// surrogate as its unit value and ignores an odd trailing byte.
#pragma once

#include <cstddef>
#include <string>

namespace ostrel::platform {

std::string ToUtf16Le(const std::wstring& text);
std::wstring FromUtf16Le(const void* bytes, std::size_t count);

}  // namespace ostrel::platform
