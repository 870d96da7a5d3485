#include "ui/BrowseForFolderDlg.h"

#include "platform/ProcessFacts.h"
#include "support/Exception.h"

CBrowseForFolderDlg::CBrowseForFolderDlg() = default;

CBrowseForFolderDlg::~CBrowseForFolderDlg() = default;

int CBrowseForFolderDlg::Browse(HWND owner, LPCITEMIDLIST root, const std::wstring& title,
                                UINT flags, BFFCALLBACK callback, LPARAM callbackData, int image) {
  wchar_t displayName[MAX_PATH + 1] = {0};
  LPITEMIDLIST drives = nullptr;  // ours to free, unlike a root the caller gave
  if (!root && SHGetSpecialFolderLocation(owner, CSIDL_DRIVES, &drives) == S_OK) root = drives;

  BROWSEINFOW info{owner, root, displayName, title.c_str(), flags, callback, callbackData, image};
  LPITEMIDLIST chosen = SHBrowseForFolderW(&info);
  if (drives) FreeItemIdList(drives);
  if (!chosen) return 2;

  wchar_t path[MAX_PATH] = {0};
  const BOOL converted = SHGetPathFromIDListW(chosen, path);
  FreeItemIdList(chosen);
  if (!converted) return 2;  // a virtual folder has no path to store
  m_folderPath = path;
  return 1;
}

const std::wstring& CBrowseForFolderDlg::GetFolderPath() const { return m_folderPath; }

void CBrowseForFolderDlg::FreeItemIdList(LPITEMIDLIST list) {
  IMalloc* malloc = nullptr;
  if (SHGetMalloc(&malloc) != S_OK || !malloc)
    throw CException(L"Unable to get IMalloc interface pointer in CBrowseForFolderDlg", 0);
  malloc->Free(list);
  malloc->Release();
}
