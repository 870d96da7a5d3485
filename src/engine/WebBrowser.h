// CWebBrowser: the engine's handle on its browser window, through which it
// stops a navigation and starts another. It holds the browser's interface
// pointer without a reference of its own (the helper object keeps the
// browser alive) and its top-level window as the CWnd handle. Used only on
// the browser window's thread.
#pragma once

#include <string>

#include "uri/Uri.h"
#include "platform/ExDisp.h"
#include "ui/Wnd.h"

class CWebBrowser : public CWnd {
 public:
  explicit CWebBrowser(IWebBrowser2* browser);
  ~CWebBrowser() override;

  // IWebBrowser2::Stop's result.
  HRESULT Stop();
  // Stops the browser, then navigates it to url; a failed Stop is returned
  // and nothing is navigated.
  HRESULT Navigate(const std::wstring& url);
  HRESULT Navigate(const CUri& uri);

 private:
  static HWND WindowOf(IWebBrowser2* browser);

  IWebBrowser2* m_browser;
};
