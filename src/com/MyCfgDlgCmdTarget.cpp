#include "com/MyCfgDlgCmdTarget.h"

#include "com/ComObject.h"

CMyCfgDlgCmdTarget::CMyCfgDlgCmdTarget() = default;

CMyCfgDlgCmdTarget::~CMyCfgDlgCmdTarget() = default;

void* CMyCfgDlgCmdTarget::GetInterface(REFIID iid) {
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, IID_IMyCfgDlgCmdTarget))
    return static_cast<IMyCfgDlgCmdTarget*>(this);
  if (IsEqualIID(iid, IID_IOleCommandTarget)) return static_cast<IOleCommandTarget*>(this);
  return nullptr;
}

HRESULT CMyCfgDlgCmdTarget::QueryStatus(const GUID*, ULONG, OLECMD[], OLECMDTEXT*) { return S_OK; }

HRESULT CMyCfgDlgCmdTarget::Exec(const GUID*, DWORD, DWORD, VARIANT*, VARIANT*) {
  return E_NOTIMPL;
}

HRESULT CMyCfgDlgCmdTarget::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  return CreateComObject<CMyCfgDlgCmdTarget>(outer, iid, out);
}
