// CMyCfgDlgCmdTarget: the object behind the filter's Tools-menu entry. The
// browser creates it when the entry is picked and calls
// IOleCommandTarget::Exec, which is to show the configuration dialog. No
// state; called on the browser window's thread.
#pragma once

#include "com/DispatchImpl.h"
#include "com/Interfaces.h"
#include "platform/DocObj.h"

class CMyCfgDlgCmdTarget : public CDispatchImpl<IMyCfgDlgCmdTarget>, public IOleCommandTarget {
 public:
  CMyCfgDlgCmdTarget();
  virtual ~CMyCfgDlgCmdTarget();

  void* GetInterface(REFIID iid);

  // S_OK, writing nothing.
  HRESULT STDMETHODCALLTYPE QueryStatus(const GUID* group, ULONG count, OLECMD commands[], OLECMDTEXT* text) override;
  // Runs the configuration dialog modally, owned by the thread's active
  // window: S_OK once it has closed, whatever the user did; E_FAIL when it
  // could not be shown or failed while running. Raises nothing.
  HRESULT STDMETHODCALLTYPE Exec(const GUID* group, DWORD command, DWORD options, VARIANT* in, VARIANT* out) override;

  static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out);
};
