#include "ui/Wnd.h"

CWnd::CWnd(HWND hWnd) : m_hWnd(hWnd) {}

CWnd::~CWnd() = default;

LRESULT CWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SHOWWINDOW:
      return OnShowWindow();
    case WM_COMMAND:
      OnCommand(wParam, lParam);
      return 0;
    case WM_TIMER:
      return OnTimer(wParam);
    default:
      return 0;
  }
}

LRESULT CWnd::OnShowWindow() { return 1; }

void CWnd::OnCommand(WPARAM, LPARAM) {}

LRESULT CWnd::OnTimer(WPARAM) { return 1; }

HWND CWnd::GetHandle() const { return m_hWnd; }

bool CWnd::Enable(bool enable) {
  if (!m_hWnd) return false;
  EnableWindow(m_hWnd, enable ? TRUE : FALSE);
  return true;
}

bool CWnd::SetFocus() { return ::SetFocus(m_hWnd) != nullptr; }

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapseMs, TIMERPROC callback) {
  return ::SetTimer(m_hWnd, id, elapseMs, callback);
}

int CWnd::MessageBox(const wchar_t* text, const wchar_t* caption, UINT type) {
  return ::MessageBoxW(m_hWnd, text, caption, type);
}
