#include "ui/DlgCtrl.h"

#include "support/Exception.h"

CDlgCtrl::CDlgCtrl(HWND parent, int id) : CWnd(nullptr), m_id(id), m_parent(parent) {}

CDlgCtrl::~CDlgCtrl() = default;

void CDlgCtrl::Attach(HWND parent, int id) {
  if (m_parent) return;
  m_parent = parent;
  m_id = id;
  m_hWnd = GetDlgItem(parent, id);
}

void CDlgCtrl::SetText(const std::wstring& text) { SetDlgItemTextW(m_parent, m_id, text.c_str()); }

std::wstring CDlgCtrl::GetText() const {
  wchar_t buffer[2048];
  const UINT length = GetDlgItemTextW(m_parent, m_id, buffer, 2048);
  return std::wstring(buffer, length);
}

void CDlgCtrl::SetInt(int value) { SetDlgItemInt(m_parent, m_id, static_cast<UINT>(value), TRUE); }

void CDlgCtrl::SetUnsignedInt(UINT value) { SetDlgItemInt(m_parent, m_id, value, FALSE); }

int CDlgCtrl::GetInt() const {
  BOOL translated = FALSE;
  const UINT value = GetDlgItemInt(m_parent, m_id, &translated, TRUE);
  if (!translated) throw CException(L"Control does not contain a valid signed integer value", 0);
  return static_cast<int>(value);
}

UINT CDlgCtrl::GetUnsignedInt() const {
  BOOL translated = FALSE;
  const UINT value = GetDlgItemInt(m_parent, m_id, &translated, FALSE);
  if (!translated) throw CException(L"Control does not contain a valid unsigned integer value", 0);
  return value;
}

LRESULT CDlgCtrl::Send(UINT message, WPARAM wParam, LPARAM lParam, LRESULT fallback) {
  if (!m_hWnd) return fallback;
  return SendMessageW(m_hWnd, message, wParam, lParam);
}

CButton::~CButton() = default;

CCheckBox::~CCheckBox() = default;

void CCheckBox::SetCheck(DWORD value) {
  CheckDlgButton(m_parent, m_id, value ? BST_CHECKED : BST_UNCHECKED);
}

DWORD CCheckBox::IsChecked() const {
  return IsDlgButtonChecked(m_parent, m_id) == BST_CHECKED ? 1 : 0;
}

CComboBox::~CComboBox() = default;

LRESULT CComboBox::AddString(const std::wstring& text) {
  return Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()), -1);
}

LRESULT CComboBox::ResetContent() { return Send(CB_RESETCONTENT, 0, 0, -1); }

LRESULT CComboBox::SetCurSel(int index) {
  return Send(CB_SETCURSEL, static_cast<WPARAM>(static_cast<INT_PTR>(index)), 0, -1);
}

int CComboBox::GetCurSel() { return static_cast<int>(Send(CB_GETCURSEL, 0, 0, -1)); }

CEdit::~CEdit() = default;

CStatic::~CStatic() = default;
