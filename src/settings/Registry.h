// CRegistry: every settings read and write goes through here. Each call
// opens (creating if needed) the key afresh, performs one value operation
// and closes it, all under one named mutex shared by every process of the
// user, so readers always see the latest value. Callable from any thread;
// the mutex is held for that one operation only and never around another
// lock. Its one client is CSettings.
#pragma once

#include <string>

#include "platform/WinReg.h"

class CMutex;

class CRegistry {
 public:
  virtual ~CRegistry();

  // Largest value, in bytes, that a read accepts.
  static constexpr DWORD ReadLimit = 65535;

  static HKEY OpenKey(HKEY root, const std::wstring& key);
  static void CloseKey(HKEY key);
  static bool SetValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type,
                       const BYTE* data, DWORD size);
  static bool QueryValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD* type,
                         BYTE* data, DWORD* size);

  // Throw CException "Registry access exception" on any failure. A string
  // is stored as its UTF-16LE units without terminator; a number as 4
  // bytes, little-endian. Reads do not check the stored type: a string read
  // ends at the first null unit, a number read takes the first 4 bytes
  // (zeros where the data is shorter).
  static void WriteString(const std::wstring& value, const std::wstring& name,
                          const std::wstring& key, HKEY root);
  static void WriteDword(DWORD value, const std::wstring& name, const std::wstring& key,
                         HKEY root);
  static std::wstring ReadString(const std::wstring& name, const std::wstring& key, HKEY root);
  static DWORD ReadDword(const std::wstring& name, const std::wstring& key, HKEY root);

  // "_OSTREL_ANTIPHISH_BHO_REGISTRY_ACCESS_MUTEX", created at first use
  // (a failure to create it fails that registry operation).
  static CMutex& RegistryMutex();
};
