// Class objects of in-process servers for the hosts: the registry names the
// module of a class, the module is loaded once and kept until
// CoFreeUnusedLibraries finds it idle.
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/LibLoaderApi.h"
#include "platform/ObjBase.h"
#include "platform/Unknwn.h"
#include "platform/Utf16.h"
#include "platform/WinReg.h"

namespace {

// The modules loaded for classes, by path as registered.
struct LoadedServers {
  std::mutex mutex;
  std::map<std::wstring, HMODULE> modules;
};

LoadedServers& Servers() {
  static LoadedServers* servers = new LoadedServers;  // used until the process ends
  return *servers;
}

// The registered module path of a class; empty when none is registered.
std::wstring InprocServerPath(REFCLSID clsid) {
  wchar_t text[64] = {};
  if (!StringFromGUID2(clsid, text, 64)) return L"";
  const std::wstring key = std::wstring(L"CLSID\\") + text + L"\\InprocServer32";
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
    return L"";
  DWORD type = 0, size = 0;
  std::wstring path;
  if (RegQueryValueExW(opened, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      type == REG_SZ) {
    std::vector<BYTE> data(size + 2, 0);
    if (RegQueryValueExW(opened, nullptr, nullptr, &type, data.data(), &size) == ERROR_SUCCESS)
      path = ostrel::platform::FromUtf16Le(data.data(), size);
  }
  RegCloseKey(opened);
  const std::size_t end = path.find(L'\0');
  return end == std::wstring::npos ? path : path.substr(0, end);
}

}  // namespace

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!(dwClsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  const std::wstring path = InprocServerPath(rclsid);
  if (path.empty()) return REGDB_E_CLASSNOTREG;

  HMODULE module = nullptr;
  {
    LoadedServers& servers = Servers();
    std::lock_guard<std::mutex> lock(servers.mutex);
    auto found = servers.modules.find(path);
    if (found == servers.modules.end()) {
      module = LoadLibraryW(path.c_str());
      if (!module) return CO_E_DLLNOTFOUND;
      servers.modules.emplace(path, module);
    } else {
      module = found->second;
    }
  }
  const auto getClassObject =
      reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(module, "DllGetClassObject"));
  if (!getClassObject) return CO_E_ERRORINDLL;
  return getClassObject(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  if (!factory) return E_UNEXPECTED;
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  return hr;
}

void CoFreeUnusedLibraries() {
  LoadedServers& servers = Servers();
  std::lock_guard<std::mutex> lock(servers.mutex);
  for (auto it = servers.modules.begin(); it != servers.modules.end();) {
    const auto canUnloadNow =
        reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(it->second, "DllCanUnloadNow"));
    if (canUnloadNow && canUnloadNow() == S_OK) {
      FreeLibrary(it->second);
      it = servers.modules.erase(it);
    } else {
      ++it;
    }
  }
}
