// Platform layer: the registry (the Reg* functions) over one store per user,
// $XDG_CONFIG_HOME/ostrel/registry.db (default ~/.config; folder 0700, file
// 0600), which holds all three hives: here every hive is the user's own.
// Promises: key paths ("A\B") and value names ignore ASCII letter case and
// keep the case they were created with; a null or empty value name is the
// default value; a name holding a wide value that is not a Unicode code point
// is refused (ERROR_INVALID_PARAMETER) rather than stored as another name. A
// value is a type and exactly the bytes stored, so a read with another type
// gives the raw bytes. Each call is one operation, atomic against every
// thread and process of the user, and returns an ERROR_* code.
// A store that does not exist yet reads as empty. A store folder or file
// that is not the user's own or that others may write to is refused
// (ERROR_ACCESS_DENIED for every call). A damaged store gives
// ERROR_REGISTRY_CORRUPT to reads; the next change (a RegCreateKeyExW that
// creates included) sets it aside, renamed beside itself and kept for
// inspection, and is made in a new store, where keys opened before are gone
// (ERROR_KEY_DELETED). Refusal and damage are reported on standard error once
// per process, each setting aside when it happens. Key handles are per
// process; hive handles need no closing.
#pragma once

#include "platform/WinError.h"
#include "platform/WinTypes.h"

using LSTATUS = LONG;
using REGSAM = DWORD;
using HKEY = struct HKEY__*;
using PHKEY = HKEY*;

// Accepted and ignored: the store has no security descriptors.
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// The predefined hive handles, with their Windows values.
#define HKEY_CLASSES_ROOT \
  (reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(0x80000000u))))
#define HKEY_CURRENT_USER \
  (reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(0x80000001u))))
#define HKEY_LOCAL_MACHINE \
  (reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(0x80000002u))))

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

// Access rights of a key handle. Checked: KEY_QUERY_VALUE for value reads
// and value enumeration, KEY_SET_VALUE for value changes, KEY_CREATE_SUB_KEY
// for creating a subkey, KEY_ENUMERATE_SUB_KEYS for subkey enumeration.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// RegCreateKeyExW: the only option provided, and the dispositions.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0x00000000;
constexpr DWORD REG_CREATED_NEW_KEY = 0x00000001;
constexpr DWORD REG_OPENED_EXISTING_KEY = 0x00000002;

namespace ostrel::platform {
// Longest key name (one path element) and value name, in characters, as on
// Windows; longer names are refused with ERROR_INVALID_PARAMETER, so name
// buffers of one more character always suffice for enumeration.
constexpr DWORD kMaxKeyNameChars = 255;
constexpr DWORD kMaxValueNameChars = 16383;

// Checks every page of the store, not only those the calls of the moment
// visit, for tools that must not show part of a damaged store as the whole:
// ERROR_SUCCESS when the store is sound or does not exist yet, else the code
// a read gives (ERROR_REGISTRY_CORRUPT for a damaged store).
LSTATUS CheckRegistryStore();
}  // namespace ostrel::platform

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                        DWORD dwOptions, REGSAM samDesired,
                        const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                        LPDWORD lpdwDisposition);
LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                      PHKEY phkResult);
LSTATUS RegCloseKey(HKEY hKey);

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                       const BYTE* lpData, DWORD cbData);
// With lpData null, reports the size (and type) only. A buffer too small
// gives ERROR_MORE_DATA with the size needed in *lpcbData and leaves the
// buffer untouched.
LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                         LPBYTE lpData, LPDWORD lpcbData);
LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);

// With lpSubKey, deletes that key with all its subkeys and values; with a
// null or empty lpSubKey, deletes hKey's subkeys and values but not hKey.
LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey);

// Subkeys come in name order (letter case ignored). *lpcchName is the
// buffer size in characters with the terminator and becomes the length
// without it; a name that does not fit gives ERROR_MORE_DATA and writes
// nothing.
LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                      LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                      PFILETIME lpftLastWriteTime);
// Values come in the order they were first set. The name as in
// RegEnumKeyExW; the data as in RegQueryValueExW (the name is still
// returned when only the data does not fit).
LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                      LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
