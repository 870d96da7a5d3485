// CBrowseForFolderDlg: the shell's folder chooser, and the path of the
// folder chosen in it. StringTableItem.h's loader sits beside it. Used on
// the thread of the owning window.
#pragma once

#include <string>

#include "platform/ShlObj.h"

class CBrowseForFolderDlg {
 public:
  CBrowseForFolderDlg();
  virtual ~CBrowseForFolderDlg();

  // 1 when a folder was chosen (its path then stored), 2 otherwise. With no
  // root the chooser starts at the computer's drives.
  int Browse(HWND owner, LPCITEMIDLIST root, const std::wstring& title, UINT flags,
             BFFCALLBACK callback, LPARAM callbackData, int image);
  const std::wstring& GetFolderPath() const;
  // Frees a list the shell handed out; CException when the shell's
  // allocator cannot be had.
  void FreeItemIdList(LPITEMIDLIST list);

 private:
  std::wstring m_folderPath;
};
