// CDlgCtrl: one control of a dialog, bound to it by identifier, and the
// five control classes the configuration dialog uses. Each operation is one
// call of the platform's dialog manager on the parent and identifier (or
// the control's window). Abstract base; used on the dialog's thread.
#pragma once

#include <string>

#include "ui/Wnd.h"

class CDlgCtrl : public CWnd {
 public:
  explicit CDlgCtrl(HWND parent = nullptr, int id = -1);
  ~CDlgCtrl() override = 0;

  // Binds an unbound control to the dialog's item; a bound one stays.
  void Attach(HWND parent, int id);

  void SetText(const std::wstring& text);
  std::wstring GetText() const;  // at most 2,047 characters
  void SetInt(int value);
  void SetUnsignedInt(UINT value);
  // The number in the text; CException when the text is not one.
  int GetInt() const;
  UINT GetUnsignedInt() const;
  // The control's answer, or fallback when the control has no window.
  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam, LRESULT fallback);

 protected:
  int m_id;
  HWND m_parent;
};

class CButton : public CDlgCtrl {
 public:
  ~CButton() override;
};

class CCheckBox : public CDlgCtrl {
 public:
  ~CCheckBox() override;
  void SetCheck(DWORD value);  // any non-zero ticks
  DWORD IsChecked() const;     // 1 or 0
};

// The list's operations give -1 when the list has no window.
class CComboBox : public CDlgCtrl {
 public:
  ~CComboBox() override;
  LRESULT AddString(const std::wstring& text);
  LRESULT ResetContent();
  LRESULT SetCurSel(int index);
  int GetCurSel();  // -1 when nothing is selected
};

class CEdit : public CDlgCtrl {
 public:
  ~CEdit() override;
};

class CStatic : public CDlgCtrl {
 public:
  ~CStatic() override;
};
