// Registration scripts as data, and the interpreter that writes and removes
// them: each key may carry a default value and named values (all REG_SZ;
// "%MODULE%" stands for the module's absolute path) and subkeys. A
// ForceRemove key is deleted whole before it is written and deleted whole on
// unregistration; a NoRemove key is never deleted (only what the script
// names beneath it); any other key is deleted on unregistration once
// nothing is left beneath it. Called by the module's registration entry
// points, one call at a time.
#pragma once

#include <string>
#include <vector>

#include "platform/ObjBase.h"
#include "platform/WinReg.h"

enum class RegKeyRule { Plain, ForceRemove, NoRemove };

struct RegValue {
  std::wstring name;  // empty: the key's default value
  std::wstring data;
};

struct RegKey {
  std::wstring name;  // one path element
  RegKeyRule rule;
  std::vector<RegValue> values;
  std::vector<RegKey> subkeys;
};

struct RegScript {
  HKEY hive;
  std::vector<RegKey> keys;
};

// Both return S_OK or the failing registry call's error as an HRESULT.
// Unregistering what is not there succeeds.
HRESULT RegisterScript(const RegScript& script, const std::wstring& modulePath);
HRESULT UnregisterScript(const RegScript& script);

// The text form of a GUID, with its braces.
std::wstring GuidText(const GUID& guid);

// The scripts of this module: REGISTRY 101 (MyBHO), REGISTRY 104
// (MyCfgDlgCmdTarget), and the keys a type library registration writes.
std::vector<RegScript> MyBHOScript();
std::vector<RegScript> MyCfgDlgCmdTargetScript();
std::vector<RegScript> TypeLibScript(const GUID& libid);
