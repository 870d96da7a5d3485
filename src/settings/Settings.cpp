#include "settings/Settings.h"

#include <vector>

#include "platform/ProcessFacts.h"
#include "settings/Registry.h"
#include "support/Exception.h"
#include "support/Trace.h"

namespace {

const wchar_t kKey[] = L"SOFTWARE\\Ostrel\\AntiPhish";

std::wstring TempFolderFile(const wchar_t* fileName) {
  std::vector<wchar_t> folder(MAX_PATH, L'\0');
  const DWORD length = GetTempPathW(MAX_PATH, folder.data());
  if (length == 0 || length >= MAX_PATH) return L"";
  std::wstring path(folder.data(), length);
  if (path.back() != L'/' && path.back() != L'\\') path += L'/';
  return path + fileName;
}

}  // namespace

// Built in this order when the module is loaded: the base comes first.
const std::wstring CSettings::DefaultBaseUri = L"http://antiphish.ostrel.example/";
const std::wstring CSettings::DefaultGreyRedirectUri = DefaultBaseUri;
const std::wstring CSettings::DefaultBlackRedirectUri = DefaultBaseUri;
const std::wstring CSettings::DefaultMDRemoteUri = DefaultBaseUri + L"mdatax.dat?";
const std::wstring CSettings::DefaultDBRemoteUpdUri = DefaultBaseUri + L"phishx.dbf?";
const std::wstring CSettings::DefaultBHORemoteUpdUri = DefaultBaseUri + L"zortbho.msi?";
const std::wstring CSettings::DefaultDBFileName = TempFolderFile(L"zortldbf.dat");

CSettings::~CSettings() = default;

std::wstring CSettings::GetString(const wchar_t* name, const std::wstring& def) {
  try {
    return CRegistry::ReadString(name, kKey, HKEY_CURRENT_USER);
  } catch (const CException& e) {
    e.Trace(L"Exception caught...");
    return def;
  }
}

bool CSettings::SetString(const wchar_t* name, const std::wstring& value) {
  try {
    CRegistry::WriteString(value, name, kKey, HKEY_CURRENT_USER);
    return true;
  } catch (const CException& e) {
    e.Trace(L"Exception caught...");
    return false;
  }
}

DWORD CSettings::GetDword(const wchar_t* name, DWORD def) {
  try {
    return CRegistry::ReadDword(name, kKey, HKEY_CURRENT_USER);
  } catch (const CException& e) {
    e.Trace(L"Exception caught...");
    return def;
  }
}

bool CSettings::SetDword(const wchar_t* name, DWORD value) {
  try {
    CRegistry::WriteDword(value, name, kKey, HKEY_CURRENT_USER);
    return true;
  } catch (const CException& e) {
    e.Trace(L"Exception caught...");
    return false;
  }
}

// A 64-bit setting is two 32-bit values, NAME + "HI" and NAME + "LO"; one
// missing half gives the whole default.
LONGLONG CSettings::GetLongLong(const wchar_t* name, LONGLONG def) {
  try {
    const DWORD high = CRegistry::ReadDword(std::wstring(name) + L"HI", kKey, HKEY_CURRENT_USER);
    const DWORD low = CRegistry::ReadDword(std::wstring(name) + L"LO", kKey, HKEY_CURRENT_USER);
    return static_cast<LONGLONG>(static_cast<ULONGLONG>(high) << 32 | low);
  } catch (const CException& e) {
    e.Trace(L"Exception caught...");
    return def;
  }
}

bool CSettings::SetLongLong(const wchar_t* name, LONGLONG value) {
  const ULONGLONG bits = static_cast<ULONGLONG>(value);
  const bool high = SetDword((std::wstring(name) + L"HI").c_str(), static_cast<DWORD>(bits >> 32));
  const bool low = SetDword((std::wstring(name) + L"LO").c_str(), static_cast<DWORD>(bits));
  return high && low;
}

std::wstring CSettings::GetGreyRedirectUri(const std::wstring& def) {
  return GetString(L"GreyRedirectUri", def);
}
bool CSettings::SetGreyRedirectUri(const std::wstring& value) {
  return SetString(L"GreyRedirectUri", value);
}
std::wstring CSettings::GetBlackRedirectUri(const std::wstring& def) {
  return GetString(L"BlackRedirectUri", def);
}
bool CSettings::SetBlackRedirectUri(const std::wstring& value) {
  return SetString(L"BlackRedirectUri", value);
}
std::wstring CSettings::GetDBFileName(const std::wstring& def) {
  return GetString(L"DBFileName", def);
}
bool CSettings::SetDBFileName(const std::wstring& value) { return SetString(L"DBFileName", value); }
std::wstring CSettings::GetDBRemoteUpdUri(const std::wstring& def) {
  return GetString(L"DBRemoteUpdUri", def);
}
bool CSettings::SetDBRemoteUpdUri(const std::wstring& value) {
  return SetString(L"DBRemoteUpdUri", value);
}
std::wstring CSettings::GetBHORemoteUpdUri(const std::wstring& def) {
  return GetString(L"BHORemoteUpdUri", def);
}
bool CSettings::SetBHORemoteUpdUri(const std::wstring& value) {
  return SetString(L"BHORemoteUpdUri", value);
}
std::wstring CSettings::GetMDRemoteUri(const std::wstring& def) {
  return GetString(L"MDRemoteUri", def);
}
bool CSettings::SetMDRemoteUri(const std::wstring& value) {
  return SetString(L"MDRemoteUri", value);
}
std::wstring CSettings::GetLastUser(const std::wstring& def) { return GetString(L"LastUser", def); }
bool CSettings::SetLastUser(const std::wstring& value) { return SetString(L"LastUser", value); }

DWORD CSettings::GetBHOActive(DWORD def) { return GetDword(L"BHOActive", def); }
DWORD CSettings::GetBHOPaused(DWORD def) { return GetDword(L"BHOPaused", def); }
DWORD CSettings::GetDBLoadOnDemand(DWORD def) { return GetDword(L"DBLoadOnDemand", def); }
bool CSettings::SetDBLoadOnDemand(DWORD value) { return SetDword(L"DBLoadOnDemand", value != 0); }
DWORD CSettings::GetACTBlack(DWORD def) { return GetDword(L"ACTBlack", def); }
bool CSettings::SetACTBlack(DWORD value) { return SetDword(L"ACTBlack", value != 0); }
DWORD CSettings::GetACTGrey(DWORD def) { return GetDword(L"ACTGrey", def); }
bool CSettings::SetACTGrey(DWORD value) { return SetDword(L"ACTGrey", value != 0); }
DWORD CSettings::GetUseRmtVals(DWORD def) { return GetDword(L"UseRmtVals", def); }
bool CSettings::SetUseRmtVals(DWORD value) { return SetDword(L"UseRmtVals", value != 0); }
DWORD CSettings::GetPollInterval(DWORD def) { return GetDword(L"PollInterval", def); }
bool CSettings::SetPollInterval(DWORD value) { return SetDword(L"PollInterval", value); }
LONG CSettings::GetPDBUN(LONG def) {
  return static_cast<LONG>(GetDword(L"PDBUN", static_cast<DWORD>(def)));
}
bool CSettings::SetPDBUN(LONG value) { return SetDword(L"PDBUN", static_cast<DWORD>(value)); }
DWORD CSettings::GetBHOUW(DWORD def) { return GetDword(L"BHOUW", def); }
bool CSettings::SetBHOUW(DWORD value) { return SetDword(L"BHOUW", value); }
DWORD CSettings::GetBHOVersion(DWORD def) { return GetDword(L"BHOVersion", def); }
bool CSettings::SetBHOVersion(DWORD value) { return SetDword(L"BHOVersion", value); }
LONGLONG CSettings::GetTTNUP(LONGLONG def) { return GetLongLong(L"TTNUP", def); }
bool CSettings::SetTTNUP(LONGLONG value) { return SetLongLong(L"TTNUP", value); }
LONGLONG CSettings::GetLSTUD(LONGLONG def) { return GetLongLong(L"LSTUD", def); }
bool CSettings::SetLSTUD(LONGLONG value) { return SetLongLong(L"LSTUD", value); }

DWORD CSettings::GetPollIntervalMillis() {
  DWORD millis;
  switch (GetPollInterval(1)) {
    case 0:
      millis = 3600000u;
      break;
    case 2:
      millis = 604800000u;
      break;
    case 3:
      millis = 2419200000u;
      break;
    default:  // 1, and any index the dialog does not offer
      millis = 86400000u;
      break;
  }
  TraceMessage(L"Poll interval as millisecs = '%lu'\r\n", millis);
  return millis;
}

bool CSettings::ApplyVersionChange() {
  if (GetUseRmtVals(1) == 0) return false;
  if (GetBHOVersion(0xFFFFFFFF) == BuildNumber) return false;
  SetMDRemoteUri(DefaultMDRemoteUri);
  SetPDBUN(-1);
  SetBHOVersion(BuildNumber);
  return true;
}
