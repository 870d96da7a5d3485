// Platform layer: finding a module's registered resources
// (platform/ResourceTables.h) by instance and id, as Windows finds them in a
// module: dialog templates for DialogBoxParamW and the dialog backends,
// bitmaps, and strings through LoadStringW. Safe from any thread.
#pragma once

#include "platform/ResourceTables.h"
#include "platform/WinTypes.h"

// A resource number given where a resource name is expected.
inline LPCWSTR MAKEINTRESOURCEW(WORD id) {
  return reinterpret_cast<LPCWSTR>(static_cast<UINT_PTR>(id));
}

// Lookups for the dialog backends; null when the instance or id is unknown.
const DialogTemplate* FindDialogTemplate(HINSTANCE instance, LPCWSTR name);
const BitmapResource* FindBitmapResource(HINSTANCE instance, WORD id);

// Copies string id of the instance into buffer (cut to bufferMax - 1
// characters, always terminated) and returns the characters copied; 0 when
// there is no such string, it is empty, or bufferMax is not positive.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax);
