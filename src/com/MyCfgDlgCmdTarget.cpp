#include "com/MyCfgDlgCmdTarget.h"

#include "com/ComObject.h"
#include "com/Module.h"
#include "support/Exception.h"
#include "support/Trace.h"
#include "ui/ConfigDlg.h"
#include "ui/Resources.h"

CMyCfgDlgCmdTarget::CMyCfgDlgCmdTarget() = default;

CMyCfgDlgCmdTarget::~CMyCfgDlgCmdTarget() = default;

void* CMyCfgDlgCmdTarget::GetInterface(REFIID iid) {
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, IID_IMyCfgDlgCmdTarget))
    return static_cast<IMyCfgDlgCmdTarget*>(this);
  if (IsEqualIID(iid, IID_IOleCommandTarget)) return static_cast<IOleCommandTarget*>(this);
  return nullptr;
}

HRESULT STDMETHODCALLTYPE CMyCfgDlgCmdTarget::QueryStatus(const GUID*, ULONG, OLECMD[], OLECMDTEXT*) { return S_OK; }

HRESULT STDMETHODCALLTYPE CMyCfgDlgCmdTarget::Exec(const GUID*, DWORD, DWORD, VARIANT*, VARIANT*) {
  // Nothing may leave into the browser: a failure while the dialog runs is
  // traced and reported.
  try {
    SetResourceInstance(g_module.GetModuleInstance());
    CConfigDlg dialog(GetActiveWindow());
    // -1: the dialog could not be shown (no display); the user saw nothing.
    return dialog.DoModal() == -1 ? E_FAIL : S_OK;
  } catch (const CException& e) {
    e.Trace(L"Exception caught running the configuration dialog\r\n");
  } catch (...) {
    TraceMessage(L"Exception caught running the configuration dialog\r\n");
  }
  return E_FAIL;
}

HRESULT CMyCfgDlgCmdTarget::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  return CreateComObject<CMyCfgDlgCmdTarget>(outer, iid, out);
}
