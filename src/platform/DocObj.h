// Platform layer: the command-target interface through which a browser runs
// the commands of its extensions (a Tools-menu entry).
// Promises: the interface and its types with their Windows layout and
// meaning; QueryStatus reports the state of commands, Exec runs one.
// Implemented by the module; nothing here has code.
#pragma once

#include "platform/OleAuto.h"

struct OLECMD {
  ULONG cmdID;
  DWORD cmdf;
};

struct OLECMDTEXT {
  DWORD cmdtextf;
  ULONG cwActual;
  ULONG cwBuf;
  wchar_t rgwz[1];
};

constexpr HRESULT OLECMDERR_E_NOTSUPPORTED = static_cast<HRESULT>(0x80040100u);

// {B722BCCB-4E68-101B-A2BC-00AA00404770}
inline constexpr IID IID_IOleCommandTarget = {
    0xB722BCCB, 0x4E68, 0x101B, {0xA2, 0xBC, 0x00, 0xAA, 0x00, 0x40, 0x47, 0x70}};

struct IOleCommandTarget : IUnknown {
  virtual HRESULT QueryStatus(const GUID* pguidCmdGroup, ULONG cCmds, OLECMD prgCmds[],
                              OLECMDTEXT* pCmdText) = 0;
  virtual HRESULT Exec(const GUID* pguidCmdGroup, DWORD nCmdID, DWORD nCmdexecopt, VARIANT* pvaIn,
                       VARIANT* pvaOut) = 0;

 protected:
  ~IOleCommandTarget() = default;
};
