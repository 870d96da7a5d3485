// Platform layer: the shell's "open" of an address.
// Promises: ShellExecuteW with the file "iexplore.exe" (any letter case)
// hands the parameters (the address) to the desktop's default browser
// through xdg-open and returns a value above 32 when the opener started it,
// 32 or less when it could not (2: no opener program; 31: the opener
// reported failure). Any other file is not provided and gives 2. It waits
// at most a few seconds for the opener; one that is still running then is
// taken as started.
#pragma once

#include "platform/WinTypes.h"

constexpr INT SW_HIDE = 0;
constexpr INT SW_SHOWNORMAL = 1;
constexpr INT SW_SHOW = 5;

constexpr INT_PTR SE_ERR_FNF = 2;
constexpr INT_PTR SE_ERR_NOASSOC = 31;

HINSTANCE ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters,
                        LPCWSTR lpDirectory, INT nShowCmd);
