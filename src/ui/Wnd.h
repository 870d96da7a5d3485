// CWnd: the root of the window classes. It holds one window handle and
// turns the messages it is given into calls of virtual handlers; it creates
// no window of its own. The dialog classes and the browser wrapper derive
// from it. Used on the thread that owns the window.
#pragma once

#include "platform/DialogManager.h"

class CWnd {
 public:
  explicit CWnd(HWND hWnd = nullptr);
  virtual ~CWnd();

  // WM_SHOWWINDOW, WM_COMMAND and WM_TIMER go to their handlers; any other
  // message gives 0.
  virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  virtual LRESULT OnShowWindow();
  virtual void OnCommand(WPARAM wParam, LPARAM lParam);
  virtual LRESULT OnTimer(WPARAM timerId);

  HWND GetHandle() const;
  // False, doing nothing, when there is no window yet.
  bool Enable(bool enable);
  // True when the window had the focus before another window.
  bool SetFocus();
  UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs, TIMERPROC callback);
  // A message box owned by this window; the button chosen.
  int MessageBox(const wchar_t* text, const wchar_t* caption, UINT type);

 protected:
  HWND m_hWnd;
};
