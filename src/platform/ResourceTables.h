// Platform layer: a module's resources in data form, as a resource compiler
// would leave them in the module: dialog templates, the string table and
// bitmaps, registered under the module's instance handle.
// Promises: RegisterModuleResources makes one module's resources visible to
// the dialog manager and LoadStringW for that instance (a null instance
// stands for the program itself); a later registration for the same
// instance replaces it. The data must outlive every use (static tables).
// Safe from any thread. On Windows the resource compiler puts the same
// resources into the module itself and registration does nothing.
#pragma once

#include <cstddef>

#include "platform/WinTypes.h"

// Control kinds of a dialog template item.
enum class DialogItemKind {
  Text,         // static text, left aligned
  CentredText,  // static text, centred
  Bitmap,       // static picture from a bitmap resource
  GroupBox,
  PushButton,
  DefPushButton,
  AutoCheckBox,
  Edit,
  DropDownList,  // combo box with a drop-down list
};

// Style bits beyond the kind.
constexpr DWORD DIS_READONLY = 0x0001;     // edit: the user cannot change it
constexpr DWORD DIS_HIDDEN = 0x0002;       // not visible
constexpr DWORD DIS_TABSTOP = 0x0004;      // takes part in tabbing
constexpr DWORD DIS_BORDER = 0x0008;       // bordered (edits, the picture)
constexpr DWORD DIS_SUNKEN = 0x0010;       // sunken edge (the picture)
constexpr DWORD DIS_AUTOHSCROLL = 0x0020;  // edit scrolls as text is typed
constexpr DWORD DIS_VSCROLL = 0x0040;      // list with a vertical scroll bar

struct DialogItemTemplate {
  int id;  // -1 for an item no code addresses
  DialogItemKind kind;
  const wchar_t* text;  // may be empty
  short x, y, cx, cy;   // dialog units
  DWORD style;          // DIS_* bits
  WORD resource;        // the bitmap of a Bitmap item, 0 otherwise
};

struct DialogTemplate {
  WORD id;
  const wchar_t* caption;
  const wchar_t* fontName;
  WORD pointSize;
  short cx, cy;                     // dialog units
  const DialogItemTemplate* items;  // in template (and tab) order
  std::size_t itemCount;
};

struct StringResource {
  UINT id;
  const wchar_t* text;
};

// A bitmap as the .bmp file the resource script names; the dialog backend
// decodes it (one that cannot shows no picture).
struct BitmapResource {
  WORD id;
  const unsigned char* bmp;  // the whole file, header included
  std::size_t size;
};

struct ModuleResources {
  const DialogTemplate* dialogs;
  std::size_t dialogCount;
  const StringResource* strings;
  std::size_t stringCount;
  const BitmapResource* bitmaps;
  std::size_t bitmapCount;
};

void RegisterModuleResources(HINSTANCE instance, const ModuleResources* resources);
