// The module's identity as the type library and the registration scripts
// state it: its classes, their dual interfaces (no members of their own
// beyond IDispatch) and the fixed GUIDs everything refers to. Hosts and
// tests include it to name the classes; it holds no code.
#pragma once

#include "platform/OleAuto.h"

// {AF6B939E-FADC-49FE-B1D4-5A4CF118DB10}
inline constexpr GUID LIBID_OSTRELANTIPHISHINGBHOLib = {
    0xAF6B939E, 0xFADC, 0x49FE, {0xB1, 0xD4, 0x5A, 0x4C, 0xF1, 0x18, 0xDB, 0x10}};
// {01DEFCA4-B025-450B-97F7-A4BAAC77B232}
inline constexpr CLSID CLSID_MyBHO = {
    0x01DEFCA4, 0xB025, 0x450B, {0x97, 0xF7, 0xA4, 0xBA, 0xAC, 0x77, 0xB2, 0x32}};
// {2C8BA41B-0970-4EDB-9C58-641913DAF9B2}
inline constexpr CLSID CLSID_MyCfgDlgCmdTarget = {
    0x2C8BA41B, 0x0970, 0x4EDB, {0x9C, 0x58, 0x64, 0x19, 0x13, 0xDA, 0xF9, 0xB2}};
// {CD7D64BC-269F-429B-BE13-D7E9D3D8053A}
inline constexpr IID IID_IMyBHO = {
    0xCD7D64BC, 0x269F, 0x429B, {0xBE, 0x13, 0xD7, 0xE9, 0xD3, 0xD8, 0x05, 0x3A}};
// {735AE1C3-934F-40C7-87D1-452F32FEF6C6}
inline constexpr IID IID_IMyCfgDlgCmdTarget = {
    0x735AE1C3, 0x934F, 0x40C7, {0x87, 0xD1, 0x45, 0x2F, 0x32, 0xFE, 0xF6, 0xC6}};
// The browser command extension (Tools-menu entry) that names
// MyCfgDlgCmdTarget: {183C3F2E-4FDD-4BE2-82F2-5E72BABA9E76}
inline constexpr GUID GUID_MyCommandExtension = {
    0x183C3F2E, 0x4FDD, 0x4BE2, {0x82, 0xF2, 0x5E, 0x72, 0xBA, 0xBA, 0x9E, 0x76}};

struct IMyBHO : IDispatch {
 protected:
  ~IMyBHO() = default;
};

struct IMyCfgDlgCmdTarget : IDispatch {
 protected:
  ~IMyCfgDlgCmdTarget() = default;
};

// IPhishListRules: what a browser can stop before a request leaves, on
// behalf of the window's list, for a browser that cannot wait for the
// helper before sending (a bridge's rules; the helper still decides every
// request such a rule stops). Not part of the type library: a host asks the
// helper object for it with QueryInterface and does without when it is
// missing. Called on the window's thread.
// {80DD39CF-5950-421B-A1BA-E70ADE3179D1}
inline constexpr IID IID_IPhishListRules = {
    0x80DD39CF, 0x5950, 0x421B, {0xA1, 0xBA, 0xE7, 0x0A, 0xDE, 0x31, 0x79, 0xD1}};

struct IPhishListRules : IUnknown {
  // The rules of the window's list as text, one a line, fields split by a
  // tab: "host\tHOST" (HOST and every name under it), "path\tHOST\tTEXT"
  // (addresses on or under HOST that contain TEXT, or any '%'), and
  // "marker\tREGEX" (an address ending in a click-through key, RE2 syntax).
  // *version changes whenever the text does. S_OK with *rules the caller's
  // to free; S_FALSE and *rules null when the version is still `known`, or
  // while the list has not loaded (*version 0 then).
  virtual HRESULT STDMETHODCALLTYPE GetListRules(LONGLONG known, LONGLONG* version, BSTR* rules) = 0;

 protected:
  ~IPhishListRules() = default;
};
