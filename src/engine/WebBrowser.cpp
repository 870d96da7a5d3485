#include "engine/WebBrowser.h"

#include <memory>

#include "support/Trace.h"

HWND CWebBrowser::WindowOf(IWebBrowser2* browser) {
  SHANDLE_PTR window = 0;
  if (!browser || FAILED(browser->get_HWND(&window))) return nullptr;
  return reinterpret_cast<HWND>(window);
}

CWebBrowser::CWebBrowser(IWebBrowser2* browser) : CWnd(WindowOf(browser)), m_browser(browser) {}

CWebBrowser::~CWebBrowser() = default;

HRESULT CWebBrowser::Stop() { return m_browser ? m_browser->Stop() : E_POINTER; }

HRESULT CWebBrowser::Navigate(const std::wstring& url) {
  const HRESULT stopped = Stop();
  if (FAILED(stopped)) return stopped;
  TraceMessage(L"Navigating to %s\r\n", url.c_str());
  // Freed on every way out, also when the browser's Navigate throws.
  const std::unique_ptr<OLECHAR, decltype(&SysFreeString)> address(
      SysAllocStringLen(url.data(), static_cast<UINT>(url.size())), &SysFreeString);
  if (!address) return E_OUTOFMEMORY;
  return m_browser->Navigate(address.get(), nullptr, nullptr, nullptr, nullptr);
}

HRESULT CWebBrowser::Navigate(const CUri& uri) { return Navigate(uri.GetUri()); }
