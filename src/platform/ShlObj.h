// Platform layer: the shell's folder chooser and its item identifier lists.
// Promises:
// - An item identifier list names one folder. The lists the shell hands
//   out are allocated with the shell's allocator (SHGetMalloc) and freed
//   with it by the caller.
// - SHGetSpecialFolderLocation(CSIDL_DRIVES) gives the computer's drives
//   folder, a virtual folder: it has no file-system path.
// - SHBrowseForFolderW lets the user choose a folder under the root (the
//   drives folder when none): the chosen folder's list, or null when the
//   user cancels. Owned by a dialog on the screen, it is a folder chooser
//   window over it; otherwise it is headless: the choices come from a
//   script a test sets (platform/Testing.h); unscripted, the user cancels.
// - SHGetPathFromIDListW writes the folder's path (at most MAX_PATH
//   characters with the terminator) and fails for a virtual folder.
// Safe from any thread.
#pragma once

#include "platform/Unknwn.h"
#include "platform/WinUser.h"

struct ITEMIDLIST;  // opaque: only the shell reads it
using LPITEMIDLIST = ITEMIDLIST*;
using LPCITEMIDLIST = const ITEMIDLIST*;
using PIDLIST_ABSOLUTE = ITEMIDLIST*;

// {00000002-0000-0000-C000-000000000046}
inline constexpr IID IID_IMalloc = {
    0x00000002, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IMalloc : IUnknown {
  virtual void* Alloc(SIZE_T size) = 0;
  virtual void* Realloc(void* block, SIZE_T size) = 0;
  virtual void Free(void* block) = 0;
  virtual SIZE_T GetSize(void* block) = 0;
  virtual int DidAlloc(void* block) = 0;
  virtual void HeapMinimize() = 0;

 protected:
  ~IMalloc() = default;
};

using BFFCALLBACK = int(CALLBACK*)(HWND, UINT, LPARAM, LPARAM);

struct BROWSEINFOW {
  HWND hwndOwner;
  LPCITEMIDLIST pidlRoot;
  LPWSTR pszDisplayName;  // at least MAX_PATH characters: the chosen folder's name
  LPCWSTR lpszTitle;
  UINT ulFlags;
  BFFCALLBACK lpfn;
  LPARAM lParam;
  int iImage;
};

constexpr UINT BIF_RETURNONLYFSDIRS = 0x0001;
constexpr int CSIDL_DRIVES = 0x0011;

HRESULT SHGetMalloc(IMalloc** malloc);
HRESULT SHGetSpecialFolderLocation(HWND owner, int folder, LPITEMIDLIST* list);
PIDLIST_ABSOLUTE SHBrowseForFolderW(BROWSEINFOW* info);
BOOL SHGetPathFromIDListW(LPCITEMIDLIST list, LPWSTR path);
