// The Reg* functions: argument checks, key handles and access rights over
// the store of RegistryStore.cpp; key look-ups and value reads go through
// its read cache (RegistryReadCache.h).
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/RegistryReadCache.h"
#include "platform/RegistryStore.h"
#include "platform/Utf8.h"
#include "platform/WinReg.h"

namespace store = ostrel::platform::registry;
using ostrel::platform::FromUtf8;
using ostrel::platform::kMaxKeyNameChars;
using ostrel::platform::kMaxValueNameChars;
using ostrel::platform::ToUtf8;

namespace {

// What a key handle names. An HKEY other than a hive's is a pointer to one
// of these, known to the handle table until closed.
struct KeyObject {
  int hive;
  std::string path;  // folded, "" for the hive itself
  REGSAM access;
};

KeyObject* ObjectOf(HKEY key) { return reinterpret_cast<KeyObject*>(key); }

// Live handles, so that a closed or made-up handle is refused rather than
// followed. Never destroyed: handles may be closed during exit.
struct HandleTable {
  std::mutex mutex;
  std::unordered_set<KeyObject*> live;
};

HandleTable& Handles() {
  static HandleTable* table = new HandleTable;
  return *table;
}

// Resolves a handle to a copy of what it names, so that a concurrent close
// cannot pull it away during the call.
bool Resolve(HKEY key, KeyObject* out) {
  if (key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) {
    out->hive = key == HKEY_CLASSES_ROOT   ? store::kClassesRoot
                : key == HKEY_CURRENT_USER ? store::kCurrentUser
                                           : store::kLocalMachine;
    out->path.clear();
    out->access = KEY_ALL_ACCESS;
    return true;
  }
  HandleTable& table = Handles();
  std::lock_guard<std::mutex> lock(table.mutex);
  if (table.live.count(ObjectOf(key)) == 0) return false;
  *out = *ObjectOf(key);
  return true;
}

HKEY NewHandle(int hive, const std::string& path, REGSAM access) {
  auto object = std::make_unique<KeyObject>(KeyObject{hive, path, access});
  HandleTable& table = Handles();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.live.insert(object.get());
  return reinterpret_cast<HKEY>(object.release());
}

// Names are stored as UTF-8: a wide value that is no code point would
// become U+FFFD, and two different names one.
bool Storable(const std::wstring& name) {
  for (wchar_t ch : name) {
    const auto c = static_cast<std::uint32_t>(ch);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  }
  return true;
}

// Splits a subkey path into its elements (UTF-8, case kept). Null or empty
// means the key itself; one trailing '\' is allowed, a leading one or an
// empty element is not.
DWORD SplitSubKey(LPCWSTR subKey, std::vector<std::string>* elements) {
  elements->clear();
  if (!subKey || !*subKey) return ERROR_SUCCESS;
  std::wstring path = subKey;
  if (path[0] == L'\\') return ERROR_BAD_PATHNAME;
  if (path.back() == L'\\') path.pop_back();
  std::wstring::size_type start = 0;
  for (;;) {
    const std::wstring::size_type end = path.find(L'\\', start);
    const std::wstring element = path.substr(start, end == std::wstring::npos ? end : end - start);
    if (element.empty()) return ERROR_BAD_PATHNAME;
    if (element.size() > kMaxKeyNameChars || !Storable(element)) return ERROR_INVALID_PARAMETER;
    elements->push_back(ToUtf8(element));
    if (end == std::wstring::npos) return ERROR_SUCCESS;
    start = end + 1;
  }
}

std::string ValueName(LPCWSTR name) { return name ? ToUtf8(name) : std::string(); }

// Copies name into a caller's character buffer of *size characters (with
// the terminator); on success *size becomes the length without it.
DWORD PutName(const std::string& utf8, LPWSTR buffer, LPDWORD size) {
  const std::wstring name = FromUtf8(utf8);
  if (name.size() >= *size) return ERROR_MORE_DATA;
  std::wmemcpy(buffer, name.c_str(), name.size() + 1);
  *size = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// Hands data to a caller the RegQueryValueExW way.
DWORD PutData(const std::string& data, DWORD type, LPDWORD lpType, LPBYTE lpData,
              LPDWORD lpcbData) {
  if (lpType) *lpType = type;
  if (!lpcbData) return ERROR_SUCCESS;  // the caller only asked whether it exists
  const DWORD available = *lpcbData;
  *lpcbData = static_cast<DWORD>(data.size());
  if (!lpData) return ERROR_SUCCESS;  // a size query
  if (data.size() > available) return ERROR_MORE_DATA;
  if (!data.empty()) std::memcpy(lpData, data.data(), data.size());
  return ERROR_SUCCESS;
}

// Runs one Reg* body; an allocation failure inside becomes its error code.
template <typename Body>
LSTATUS Guarded(Body body) {
  try {
    return static_cast<LSTATUS>(body());
  } catch (const std::bad_alloc&) {
    return static_cast<LSTATUS>(ERROR_NOT_ENOUGH_MEMORY);
  }
}

LSTATUS OpenOrCreate(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired, bool create, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  return Guarded([&]() -> DWORD {
    KeyObject base;
    if (!Resolve(hKey, &base)) return ERROR_INVALID_HANDLE;
    std::vector<std::string> elements;
    const DWORD split = SplitSubKey(lpSubKey, &elements);
    if (split != ERROR_SUCCESS) return split;
    std::string path;
    bool created = false;
    // Most creations open a key that exists (every settings read does).
    DWORD rc = store::CachedOpenKey(base.hive, base.path, elements, &path);
    if (create && rc != ERROR_SUCCESS)
      rc = store::CreateKey(base.hive, base.path, elements, (base.access & KEY_CREATE_SUB_KEY) != 0,
                            &path, &created);
    if (rc != ERROR_SUCCESS) return rc;
    *phkResult = NewHandle(base.hive, path, samDesired);
    if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  });
}

}  // namespace

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD dwOptions,
                        REGSAM samDesired, const LPSECURITY_ATTRIBUTES, PHKEY phkResult,
                        LPDWORD lpdwDisposition) {
  // Volatile keys and the backup options are not provided.
  if (dwOptions != REG_OPTION_NON_VOLATILE) {
    if (phkResult) *phkResult = nullptr;
    return ERROR_INVALID_PARAMETER;
  }
  return OpenOrCreate(hKey, lpSubKey, samDesired, true, phkResult, lpdwDisposition);
}

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  return OpenOrCreate(hKey, lpSubKey, samDesired, false, phkResult, nullptr);
}

LSTATUS RegCloseKey(HKEY hKey) {
  if (hKey == HKEY_CLASSES_ROOT || hKey == HKEY_CURRENT_USER || hKey == HKEY_LOCAL_MACHINE)
    return ERROR_SUCCESS;
  HandleTable& table = Handles();
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    if (table.live.erase(ObjectOf(hKey)) == 0) return ERROR_INVALID_HANDLE;
  }
  delete ObjectOf(hKey);
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                       DWORD cbData) {
  return Guarded([&]() -> DWORD {
    KeyObject key;
    if (!Resolve(hKey, &key)) return ERROR_INVALID_HANDLE;
    if (!(key.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
    if (lpValueName && (std::wcslen(lpValueName) > kMaxValueNameChars || !Storable(lpValueName)))
      return ERROR_INVALID_PARAMETER;
    const std::string data =
        cbData ? std::string(reinterpret_cast<const char*>(lpData), cbData) : std::string();
    return store::SetValue(key.hive, key.path, ValueName(lpValueName), dwType, data);
  });
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                         LPBYTE lpData, LPDWORD lpcbData) {
  return Guarded([&]() -> DWORD {
    KeyObject key;
    if (!Resolve(hKey, &key)) return ERROR_INVALID_HANDLE;
    if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    if (!(key.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    DWORD type = REG_NONE;
    std::string data;
    const DWORD rc =
        store::CachedQueryValue(key.hive, key.path, ValueName(lpValueName), &type, &data);
    if (rc != ERROR_SUCCESS) return rc;
    return PutData(data, type, lpType, lpData, lpcbData);
  });
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  return Guarded([&]() -> DWORD {
    KeyObject key;
    if (!Resolve(hKey, &key)) return ERROR_INVALID_HANDLE;
    if (!(key.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    return store::DeleteValue(key.hive, key.path, ValueName(lpValueName));
  });
}

LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
  return Guarded([&]() -> DWORD {
    KeyObject key;
    if (!Resolve(hKey, &key)) return ERROR_INVALID_HANDLE;
    std::vector<std::string> elements;
    const DWORD split = SplitSubKey(lpSubKey, &elements);
    if (split != ERROR_SUCCESS) return split;
    if (elements.empty()) {
      // Emptying the handle's own key changes its values and subkeys.
      const REGSAM needed = KEY_SET_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;
      if ((key.access & needed) != needed) return ERROR_ACCESS_DENIED;
      return store::DeleteTree(key.hive, key.path, false);
    }
    std::string path;
    const DWORD opened = store::OpenKey(key.hive, key.path, elements, &path);
    if (opened != ERROR_SUCCESS) return opened;
    return store::DeleteTree(key.hive, path, true);
  });
}

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                      LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                      PFILETIME lpftLastWriteTime) {
  return Guarded([&]() -> DWORD {
    KeyObject key;
    if (!Resolve(hKey, &key)) return ERROR_INVALID_HANDLE;
    if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass))
      return ERROR_INVALID_PARAMETER;
    if (!(key.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    std::string name;
    std::uint64_t written = 0;
    const DWORD rc = store::EnumKey(key.hive, key.path, dwIndex, &name, &written);
    if (rc != ERROR_SUCCESS) return rc;
    const DWORD put = PutName(name, lpName, lpcchName);
    if (put != ERROR_SUCCESS) return put;
    // Keys have no class here: report an empty one.
    if (lpClass && *lpcchClass) lpClass[0] = L'\0';
    if (lpcchClass) *lpcchClass = 0;
    if (lpftLastWriteTime) {
      lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(written & 0xFFFFFFFFu);
      lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(written >> 32);
    }
    return ERROR_SUCCESS;
  });
}

LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                      LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  return Guarded([&]() -> DWORD {
    KeyObject key;
    if (!Resolve(hKey, &key)) return ERROR_INVALID_HANDLE;
    if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData))
      return ERROR_INVALID_PARAMETER;
    if (!(key.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
    const DWORD rc = store::EnumValue(key.hive, key.path, dwIndex, &name, &type, &data);
    if (rc != ERROR_SUCCESS) return rc;
    const DWORD put = PutName(name, lpValueName, lpcchValueName);
    if (put != ERROR_SUCCESS) return put;
    return PutData(data, type, lpType, lpData, lpcbData);
  });
}

LSTATUS ostrel::platform::CheckRegistryStore() {
  return Guarded([] { return store::CheckStore(); });
}
