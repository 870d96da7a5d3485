// The shell's allocator and item identifier lists, and the headless folder
// chooser. A list is one allocation: a tag and the folder's path (empty for
// the virtual drives folder), terminated.
#include <cstdlib>
#include <cwchar>
#include <deque>
#include <mutex>
#include <string>

#include "platform/DialogBackend.h"
#include "platform/ProcessFacts.h"
#include "platform/ShlObj.h"
#include "platform/Testing.h"
#include "platform/WinError.h"

struct ITEMIDLIST {
  DWORD tag;
  wchar_t path[1];  // as long as the path and its terminator
};

namespace {

constexpr DWORD kListTag = 0x4C444950;  // "PIDL"

// The shell's allocator: one object for the process, never deleted.
class CShellMalloc final : public IMalloc {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMalloc)) {
      *out = static_cast<IMalloc*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  void* Alloc(SIZE_T size) override { return std::malloc(size ? size : 1); }
  void* Realloc(void* block, SIZE_T size) override { return std::realloc(block, size ? size : 1); }
  void Free(void* block) override { std::free(block); }
  SIZE_T GetSize(void*) override { return static_cast<SIZE_T>(-1); }
  int DidAlloc(void*) override { return -1; }
  void HeapMinimize() override {}
};

CShellMalloc g_malloc;

LPITEMIDLIST NewList(const std::wstring& path) {
  const SIZE_T size = sizeof(ITEMIDLIST) + path.size() * sizeof(wchar_t);
  auto* list = static_cast<ITEMIDLIST*>(g_malloc.Alloc(size));
  if (!list) return nullptr;
  list->tag = kListTag;
  std::wmemcpy(list->path, path.c_str(), path.size() + 1);
  return list;
}

std::mutex g_mutex;
std::deque<std::wstring> g_choices;
std::vector<ostrel::platform::testing::FolderChooserCall> g_calls;

}  // namespace

HRESULT SHGetMalloc(IMalloc** malloc) {
  if (!malloc) return E_POINTER;
  *malloc = &g_malloc;
  return S_OK;
}

HRESULT SHGetSpecialFolderLocation(HWND, int folder, LPITEMIDLIST* list) {
  if (!list) return E_POINTER;
  *list = nullptr;
  if (folder != CSIDL_DRIVES) return E_INVALIDARG;  // the only one provided
  *list = NewList(L"");
  return *list ? S_OK : E_OUTOFMEMORY;
}

PIDLIST_ABSOLUTE SHBrowseForFolderW(BROWSEINFOW* info) {
  if (!info) return nullptr;
  std::wstring choice;
  // A chooser owned by a dialog on the screen is shown over it.
  const ostrel::platform::dialogs::Backend* screen =
      info->hwndOwner && ostrel::platform::dialogs::ShownOnScreen(info->hwndOwner)
          ? ostrel::platform::dialogs::ScreenBackend()
          : nullptr;
  if (screen) {
    if (!screen->chooseFolder(info->hwndOwner, info->lpszTitle ? info->lpszTitle : L"", &choice))
      choice.clear();  // cancelled
  } else {
    std::lock_guard<std::mutex> lock(g_mutex);
    const bool rootIsDrives = !info->pidlRoot || info->pidlRoot->path[0] == 0;
    g_calls.push_back(
        {info->hwndOwner, info->lpszTitle ? info->lpszTitle : L"", info->ulFlags, rootIsDrives});
    if (g_choices.empty()) return nullptr;  // unscripted: the user cancels
    choice = g_choices.front();
    g_choices.pop_front();
  }
  if (choice.empty()) return nullptr;
  if (info->pszDisplayName) {
    const std::size_t slash = choice.find_last_of(L'/');
    std::wstring name = slash == std::wstring::npos ? choice : choice.substr(slash + 1);
    if (name.empty()) name = choice;
    if (name.size() >= MAX_PATH) name.resize(MAX_PATH - 1);
    std::wmemcpy(info->pszDisplayName, name.c_str(), name.size() + 1);
  }
  return NewList(choice);
}

BOOL SHGetPathFromIDListW(LPCITEMIDLIST list, LPWSTR path) {
  if (!path) return FALSE;
  path[0] = 0;
  if (!list || list->tag != kListTag || list->path[0] == 0) return FALSE;  // virtual folder
  const std::size_t length = std::wcslen(list->path);
  if (length >= MAX_PATH) return FALSE;
  std::wmemcpy(path, list->path, length + 1);
  return TRUE;
}

namespace ostrel::platform::testing {

void ScriptFolderChoices(const std::vector<std::wstring>& paths) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_choices.insert(g_choices.end(), paths.begin(), paths.end());
}

std::vector<FolderChooserCall> TakeFolderChooserCalls() {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::vector<FolderChooserCall> calls;
  calls.swap(g_calls);
  g_choices.clear();
  return calls;
}

}  // namespace ostrel::platform::testing
