#include "browser/ToolsMenu.h"

#include "platform/DocObj.h"
#include "platform/Utf16.h"
#include "platform/WinReg.h"

namespace ostrel::host {

namespace {

const wchar_t kExtensionsKey[] = L"SOFTWARE\\Microsoft\\Internet Explorer\\Extensions";
// The browser's class for command extensions (the Tools-menu kind).
const wchar_t kCommandExtensionClass[] = L"{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}";

std::wstring Text(HKEY key, const wchar_t* name) {
  BYTE data[4096];
  DWORD size = sizeof data;
  DWORD type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, data, &size) != ERROR_SUCCESS || type != REG_SZ)
    return L"";
  std::wstring text = platform::FromUtf16Le(data, size);
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

bool SameGuidText(const std::wstring& a, const std::wstring& b) {
  GUID ga{}, gb{};
  return CLSIDFromString(a.c_str(), &ga) == S_OK && CLSIDFromString(b.c_str(), &gb) == S_OK &&
         IsEqualGUID(ga, gb);
}

}  // namespace

std::vector<ToolsEntry> RegisteredToolsEntries() {
  std::vector<ToolsEntry> entries;
  HKEY extensions = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kExtensionsKey, 0, KEY_READ, &extensions) != ERROR_SUCCESS)
    return entries;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(extensions, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    HKEY extension = nullptr;
    if (RegOpenKeyExW(extensions, name, 0, KEY_QUERY_VALUE, &extension) != ERROR_SUCCESS) continue;
    ToolsEntry entry{Text(extension, L"MenuText"), {}};
    const bool command = SameGuidText(Text(extension, L"CLSID"), kCommandExtensionClass) &&
                         CLSIDFromString(Text(extension, L"ClsidExtension").c_str(),
                                         &entry.command) == S_OK;
    RegCloseKey(extension);
    if (!command) continue;
    if (entry.menuText.empty()) entry.menuText = name;
    entries.push_back(entry);
  }
  RegCloseKey(extensions);
  return entries;
}

HRESULT RunToolsEntry(const ToolsEntry& entry, std::wstring* error) {
  void* object = nullptr;
  HRESULT hr = CoCreateInstance(entry.command, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IOleCommandTarget, &object);
  if (FAILED(hr) || !object) {
    *error = L"the command of \"" + entry.menuText + L"\" cannot be created";
    return FAILED(hr) ? hr : E_NOINTERFACE;
  }
  auto* target = static_cast<IOleCommandTarget*>(object);
  hr = target->Exec(nullptr, 0, 0, nullptr, nullptr);
  target->Release();
  return hr;
}

}  // namespace ostrel::host
