// The two desktop services the system uses: a message box with no owner
// window, and opening an address in a new browser window. Both block only
// as long as the platform's call does; callable from any thread.
#pragma once

#include "platform/WinTypes.h"

// Shows text under caption (an absent one shows as empty) with the given
// MB_* type flags; returns the button chosen (IDYES, IDNO, IDOK, ...).
int ShowMessageBox(const wchar_t* text, const wchar_t* caption, UINT type);

// Opens address in the user's browser; true when the shell reports success.
bool OpenInBrowser(const wchar_t* address);
