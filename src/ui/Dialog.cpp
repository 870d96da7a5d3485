#include "ui/Dialog.h"

#include "ui/Resources.h"

CDialog::CDialog(UINT templateId, HWND owner)
    : CWnd(nullptr), m_owner(owner), m_templateId(static_cast<WORD>(templateId)) {}

CDialog::~CDialog() = default;

LRESULT CDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const BOOL result = OnInitDialog();
    if (result) return result;
  }
  CWnd::OnMessage(message, wParam, lParam);
  return 0;  // the platform's default processing follows
}

void CDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
  switch (LOWORD(wParam)) {
    case IDOK:
      OnOK();
      break;
    case IDCANCEL:
      OnCancel();
      break;
    default:
      CWnd::OnCommand(wParam, lParam);
  }
}

INT_PTR CDialog::DoModal() {
  return DialogBoxParamW(GetResourceInstance(), MAKEINTRESOURCEW(m_templateId), m_owner,
                         &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::OnInitDialog() { return TRUE; }

void CDialog::OnOK() {
  UpdateData(true);
  EndDialog(m_hWnd, IDOK);
}

void CDialog::OnCancel() { EndDialog(m_hWnd, IDCANCEL); }

BOOL CDialog::UpdateData(bool) { return TRUE; }

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialog* dialog = nullptr;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<CDialog*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
  } else {
    dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  }
  if (!dialog) return 0;  // messages before WM_INITDIALOG
  if (!dialog->m_hWnd) dialog->m_hWnd = window;
  return dialog->OnMessage(message, wParam, lParam);
}
