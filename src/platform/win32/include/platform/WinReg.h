// Windows: the registry is the system's. Ours on top: its name limits, and
// the store check, which on Windows has nothing to check.
#pragma once

#include "platform/WinTypes.h"

#include <winreg.h>

namespace ostrel::platform {
// Longest key name (one path element) and value name, in characters.
constexpr DWORD kMaxKeyNameChars = 255;
constexpr DWORD kMaxValueNameChars = 16383;

// The registry's own store: always sound from here (ERROR_SUCCESS).
inline LSTATUS CheckRegistryStore() { return ERROR_SUCCESS; }
}  // namespace ostrel::platform
