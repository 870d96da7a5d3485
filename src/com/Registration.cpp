#include "com/Registration.h"

#include "com/Interfaces.h"
#include "platform/Utf16.h"

namespace {

const wchar_t kModuleToken[] = L"%MODULE%";

std::wstring Expand(const std::wstring& data, const std::wstring& modulePath) {
  std::wstring out = data;
  const std::wstring token = kModuleToken;
  for (std::size_t at = out.find(token); at != std::wstring::npos;
       at = out.find(token, at + modulePath.size()))
    out.replace(at, token.size(), modulePath);
  return out;
}

// Holds an opened key and closes it on every way out.
class CKeyHandle {
 public:
  CKeyHandle() = default;
  CKeyHandle(const CKeyHandle&) = delete;
  CKeyHandle& operator=(const CKeyHandle&) = delete;
  ~CKeyHandle() {
    if (m_key) RegCloseKey(m_key);
  }
  HKEY* Receive() { return &m_key; }
  HKEY Get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
};

LSTATUS DeleteTree(HKEY parent, const std::wstring& name) {
  const LSTATUS status = RegDeleteTreeW(parent, name.c_str());
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

LSTATUS WriteKey(HKEY parent, const RegKey& key, const std::wstring& modulePath) {
  if (key.rule == RegKeyRule::ForceRemove) {
    const LSTATUS removed = DeleteTree(parent, key.name);
    if (removed != ERROR_SUCCESS) return removed;
  }
  CKeyHandle opened;
  LSTATUS status = RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_ALL_ACCESS, nullptr, opened.Receive(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  for (const RegValue& value : key.values) {
    const std::string bytes = ostrel::platform::ToUtf16Le(Expand(value.data, modulePath));
    status = RegSetValueExW(opened.Get(), value.name.empty() ? nullptr : value.name.c_str(), 0,
                            REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                            static_cast<DWORD>(bytes.size()));
    if (status != ERROR_SUCCESS) return status;
  }
  for (const RegKey& subkey : key.subkeys) {
    status = WriteKey(opened.Get(), subkey, modulePath);
    if (status != ERROR_SUCCESS) return status;
  }
  return ERROR_SUCCESS;
}

bool HasSubkeys(HKEY key) {
  wchar_t name[ostrel::platform::kMaxKeyNameChars + 1];
  DWORD length = ostrel::platform::kMaxKeyNameChars + 1;
  return RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) !=
         ERROR_NO_MORE_ITEMS;
}

LSTATUS RemoveKey(HKEY parent, const RegKey& key) {
  if (key.rule == RegKeyRule::ForceRemove) return DeleteTree(parent, key.name);
  bool empty = false;
  {
    CKeyHandle opened;
    LSTATUS status = RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_ALL_ACCESS, opened.Receive());
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    for (const RegKey& subkey : key.subkeys) {
      status = RemoveKey(opened.Get(), subkey);
      if (status != ERROR_SUCCESS) return status;
    }
    empty = !HasSubkeys(opened.Get());
  }
  if (key.rule == RegKeyRule::NoRemove || !empty) return ERROR_SUCCESS;
  return DeleteTree(parent, key.name);
}

RegKey Key(std::wstring name, RegKeyRule rule, std::vector<RegValue> values,
           std::vector<RegKey> subkeys = {}) {
  return RegKey{std::move(name), rule, std::move(values), std::move(subkeys)};
}

RegValue Default(std::wstring data) { return RegValue{L"", std::move(data)}; }

// A chain of NoRemove keys ("SOFTWARE\Microsoft\...") around one key.
RegKey Under(const std::vector<std::wstring>& path, RegKey inner) {
  for (auto it = path.rbegin(); it != path.rend(); ++it)
    inner = Key(*it, RegKeyRule::NoRemove, {}, {std::move(inner)});
  return inner;
}

// The ProgID keys and the CLSID key every coclass of the module writes.
std::vector<RegKey> ClassKeys(const CLSID& clsid, const std::wstring& description,
                              const std::wstring& progId, const std::wstring& versionlessProgId) {
  const std::wstring clsidText = GuidText(clsid);
  const std::wstring libidText = GuidText(LIBID_OSTRELANTIPHISHINGBHOLib);
  using R = RegKeyRule;
  return {
      Key(progId, R::Plain, {Default(description)},
          {Key(L"CLSID", R::Plain, {Default(clsidText)})}),
      Key(versionlessProgId, R::Plain, {Default(description)},
          {Key(L"CLSID", R::Plain, {Default(clsidText)}),
           Key(L"CurVer", R::Plain, {Default(progId)})}),
      Key(L"CLSID", R::NoRemove, {},
          {Key(clsidText, R::ForceRemove, {Default(description)},
               {Key(L"ProgID", R::Plain, {Default(progId)}),
                Key(L"VersionIndependentProgID", R::Plain, {Default(versionlessProgId)}),
                Key(L"Programmable", R::ForceRemove, {}),
                Key(L"InprocServer32", R::Plain,
                    {Default(kModuleToken), RegValue{L"ThreadingModel", L"Apartment"}}),
                Key(L"TypeLib", R::Plain, {Default(libidText)})})}),
  };
}

}  // namespace

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

HRESULT RegisterScript(const RegScript& script, const std::wstring& modulePath) {
  for (const RegKey& key : script.keys) {
    const LSTATUS status = WriteKey(script.hive, key, modulePath);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(status));
  }
  return S_OK;
}

HRESULT UnregisterScript(const RegScript& script) {
  for (const RegKey& key : script.keys) {
    const LSTATUS status = RemoveKey(script.hive, key);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(status));
  }
  return S_OK;
}

std::vector<RegScript> MyBHOScript() {
  const std::wstring name = L"Ostrel Anti-Phishing Filter";
  RegKey helper = Under({L"SOFTWARE", L"Microsoft", L"Windows", L"CurrentVersion", L"Explorer",
                         L"Browser Helper Objects"},
                        Key(GuidText(CLSID_MyBHO), RegKeyRule::ForceRemove, {}));
  return {RegScript{HKEY_CLASSES_ROOT, ClassKeys(CLSID_MyBHO, name, L"Ostrel_Anti_Phishing_BHO.1",
                                                 L"Ostrel_Anti_Phishing_BHO")},
          RegScript{HKEY_LOCAL_MACHINE, {helper}}};
}

std::vector<RegScript> MyCfgDlgCmdTargetScript() {
  const std::wstring name = L"Ostrel Anti-Phishing Filter";
  // The browser's class for command extensions.
  const std::wstring commandExtensionClass = L"{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}";
  RegKey extension = Under({L"SOFTWARE", L"Microsoft", L"Internet Explorer", L"Extensions"},
                           Key(GuidText(GUID_MyCommandExtension), RegKeyRule::ForceRemove,
                               {RegValue{L"CLSID", commandExtensionClass},
                                RegValue{L"ClsidExtension", GuidText(CLSID_MyCfgDlgCmdTarget)},
                                RegValue{L"MenuText", name}, RegValue{L"MenuStatusBar", name}}));
  return {
      RegScript{HKEY_CLASSES_ROOT, ClassKeys(CLSID_MyCfgDlgCmdTarget, L"MyCfgDlgCmdTarget Class",
                                             L"OstrelAntiPhishingBHO.MyCfgDlgCmdTarget.1",
                                             L"OstrelAntiPhishingBHO.MyCfgDlgCmdTarget")},
      RegScript{HKEY_LOCAL_MACHINE, {extension}}};
}

std::vector<RegScript> TypeLibScript(const GUID& libid) {
  using R = RegKeyRule;
  const std::wstring libidText = GuidText(libid);
  // The library is carried by the module itself (TYPELIB 1).
  RegKey library =
      Key(L"TypeLib", R::NoRemove, {},
          {Key(libidText, R::Plain, {},
               {Key(L"1.0", R::ForceRemove, {Default(L"OstrelAntiPhishingBHO 1.0 Type Library")},
                    {Key(L"0", R::Plain, {}, {Key(L"win32", R::Plain, {Default(kModuleToken)})}),
                     Key(L"FLAGS", R::Plain, {Default(L"0")})})})});
  // Dual interfaces are marshalled by the automation marshaller.
  const std::wstring automationMarshaller = L"{00020424-0000-0000-C000-000000000046}";
  auto dualInterface = [&](const IID& iid, const std::wstring& name) {
    return Key(GuidText(iid), R::ForceRemove, {Default(name)},
               {Key(L"ProxyStubClsid", R::Plain, {Default(automationMarshaller)}),
                Key(L"ProxyStubClsid32", R::Plain, {Default(automationMarshaller)}),
                Key(L"TypeLib", R::Plain, {Default(libidText), RegValue{L"Version", L"1.0"}})});
  };
  RegKey interfaces = Key(L"Interface", R::NoRemove, {},
                          {dualInterface(IID_IMyBHO, L"IMyBHO"),
                           dualInterface(IID_IMyCfgDlgCmdTarget, L"IMyCfgDlgCmdTarget")});
  return {RegScript{HKEY_CLASSES_ROOT, {library, interfaces}}};
}
