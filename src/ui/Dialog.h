// CDialog: a modal dialog run by the platform's dialog manager from a
// template of the module's resources. Its procedure binds the object to the
// window (the window's user-data slot) and turns messages into calls of the
// virtual handlers; OK and Cancel end the dialog. Abstract: a dialog class
// derives from it. Used on the thread that runs the dialog.
#pragma once

#include "ui/Wnd.h"

class CDialog : public CWnd {
 public:
  CDialog(UINT templateId, HWND owner);
  ~CDialog() override = 0;

  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnCommand(WPARAM wParam, LPARAM lParam) override;

  // The value the dialog ended with (IDOK, IDCANCEL), -1 when it could not
  // be created.
  virtual INT_PTR DoModal();
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  virtual BOOL UpdateData(bool save);

  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  HWND m_owner;
  WORD m_templateId;
};
