// CSettings: the names, types and defaults of every persistent setting,
// under HKEY_CURRENT_USER\SOFTWARE\Ostrel\AntiPhish. Nothing is cached:
// each getter reads the registry when called and returns the caller's
// default when the value cannot be read; each setter writes through at once
// and reports success. Flags read back as stored and are written as 0 or 1.
// All static; callable from any thread (CRegistry serialises each call).
#pragma once

#include <string>

#include "platform/WinTypes.h"

class CSettings {
 public:
  virtual ~CSettings();

  // The build number this program records in "BHOVersion".
  static constexpr DWORD BuildNumber = 123;

  // Defaults, built once when the module is loaded.
  static const std::wstring DefaultBaseUri;
  static const std::wstring DefaultGreyRedirectUri;
  static const std::wstring DefaultBlackRedirectUri;
  static const std::wstring DefaultMDRemoteUri;
  static const std::wstring DefaultDBRemoteUpdUri;
  static const std::wstring DefaultBHORemoteUpdUri;
  static const std::wstring DefaultDBFileName;
  static constexpr DWORD DefaultBHOActive = 1;
  static constexpr DWORD DefaultBHOPaused = 0;
  static constexpr DWORD DefaultDBLoadOnDemand = 1;
  static constexpr DWORD DefaultACTBlack = 0;
  static constexpr DWORD DefaultACTGrey = 1;
  static constexpr DWORD DefaultUseRmtVals = 1;
  static constexpr DWORD DefaultPollInterval = 1800000;
  static constexpr LONG DefaultPDBUN = -1;
  static constexpr DWORD DefaultBHOUW = 0xFFFFFFFF;
  static constexpr LONGLONG DefaultTTNUP = -1;
  static constexpr LONGLONG DefaultLSTUD = -1;

  static std::wstring GetGreyRedirectUri(const std::wstring& def);
  static bool SetGreyRedirectUri(const std::wstring& value);
  static std::wstring GetBlackRedirectUri(const std::wstring& def);
  static bool SetBlackRedirectUri(const std::wstring& value);
  static std::wstring GetDBFileName(const std::wstring& def);
  static bool SetDBFileName(const std::wstring& value);
  static std::wstring GetDBRemoteUpdUri(const std::wstring& def);
  static bool SetDBRemoteUpdUri(const std::wstring& value);
  static std::wstring GetBHORemoteUpdUri(const std::wstring& def);
  static bool SetBHORemoteUpdUri(const std::wstring& value);
  static std::wstring GetMDRemoteUri(const std::wstring& def);
  static bool SetMDRemoteUri(const std::wstring& value);
  static std::wstring GetLastUser(const std::wstring& def);
  static bool SetLastUser(const std::wstring& value);

  static DWORD GetBHOActive(DWORD def);
  static DWORD GetBHOPaused(DWORD def);
  static DWORD GetDBLoadOnDemand(DWORD def);
  static bool SetDBLoadOnDemand(DWORD value);
  static DWORD GetACTBlack(DWORD def);
  static bool SetACTBlack(DWORD value);
  static DWORD GetACTGrey(DWORD def);
  static bool SetACTGrey(DWORD value);
  static DWORD GetUseRmtVals(DWORD def);
  static bool SetUseRmtVals(DWORD value);
  static DWORD GetPollInterval(DWORD def);
  static bool SetPollInterval(DWORD value);
  static LONG GetPDBUN(LONG def);
  static bool SetPDBUN(LONG value);
  static DWORD GetBHOUW(DWORD def);
  static bool SetBHOUW(DWORD value);
  static DWORD GetBHOVersion(DWORD def);
  static bool SetBHOVersion(DWORD value);
  static LONGLONG GetTTNUP(LONGLONG def);
  static bool SetTTNUP(LONGLONG value);
  static LONGLONG GetLSTUD(LONGLONG def);
  static bool SetLSTUD(LONGLONG value);

  // The polling interval in milliseconds: 0 hourly, 1 daily, 2 weekly,
  // 3 every 28 days; any other index daily.
  static DWORD GetPollIntervalMillis();

  // After a new build first runs (and only in automatic configuration mode):
  // metadata address back to its default, database version forgotten, this
  // build recorded. True when it reset them.
  static bool ApplyVersionChange();

 private:
  static std::wstring GetString(const wchar_t* name, const std::wstring& def);
  static bool SetString(const wchar_t* name, const std::wstring& value);
  static DWORD GetDword(const wchar_t* name, DWORD def);
  static bool SetDword(const wchar_t* name, DWORD value);
  static LONGLONG GetLongLong(const wchar_t* name, LONGLONG def);
  static bool SetLongLong(const wchar_t* name, LONGLONG value);
};
