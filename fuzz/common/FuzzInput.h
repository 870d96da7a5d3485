// Shared by the fuzz targets: a private environment for the process (its
// own HOME, XDG folders and TMPDIR, set before any static object of the
// system reads them), and the turning of raw input bytes into the wide text
// the system works on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ostrel::fuzz {

// UTF-8 where the bytes form it; any other byte stands for itself (so every
// input reaches the parsers, valid text or not, and code points above 0xFF
// can be reached too).
std::wstring WideFromBytes(const std::uint8_t* data, std::size_t size);

// One character per byte, as file contents and HTTP bodies are held.
std::wstring CharsFromBytes(const std::uint8_t* data, std::size_t size);

// The private folder of this fuzzing process.
const std::string& FuzzRoot();

}  // namespace ostrel::fuzz
