#include "webext/WebExtWindow.h"

namespace ostrel::webext {

TabAnswer CWebExtWindow::Deliver(std::int64_t tabId, const std::function<bool()>& event) {
  m_currentTab = tabId;
  m_delivering = true;
  m_stopped = false;
  m_navigate.reset();
  const bool cancelled = event();
  m_delivering = false;
  TabAnswer answer;
  answer.tabId = tabId;
  if (m_navigate) {  // the helper's Navigate stops first: the new address wins
    answer.kind = TabAnswer::Kind::Navigate;
    answer.url = std::move(*m_navigate);
    m_navigate.reset();
  } else if (m_stopped || cancelled) {
    answer.kind = TabAnswer::Kind::Stop;
  }
  return answer;
}

TabAnswer CWebExtWindow::BeforeNavigate(std::int64_t tabId, const std::wstring& url) {
  return Deliver(tabId, [&] { return FireBeforeNavigate(url); });
}

TabAnswer CWebExtWindow::Committed(std::int64_t tabId, const std::wstring& url) {
  m_locations[tabId] = url;
  return Deliver(tabId, [&] {
    FireNavigateComplete(url);
    return false;
  });
}

HRESULT CWebExtWindow::get_HWND(SHANDLE_PTR* window) {
  if (!window) return E_POINTER;
  // A handle of its own per browser window, as the stand-in gives.
  *window = static_cast<SHANDLE_PTR>(0x10000u + static_cast<std::uint64_t>(m_windowId));
  return S_OK;
}

HRESULT CWebExtWindow::Stop() {
  if (!m_delivering) return S_OK;  // nothing is loading on the helper's behalf
  m_stopped = true;
  m_navigate.reset();
  return S_OK;
}

HRESULT CWebExtWindow::Navigate(BSTR url, VARIANT*, VARIANT*, VARIANT*, VARIANT*) {
  if (!url) return E_INVALIDARG;
  // Outside an event there is no tab to send anywhere.
  if (!m_delivering) return E_UNEXPECTED;
  m_navigate = std::wstring(url, SysStringLen(url));
  return S_OK;
}

HRESULT CWebExtWindow::get_LocationURL(BSTR* url) {
  if (!url) return E_POINTER;
  const auto known = m_locations.find(m_currentTab);
  *url = NewText(known != m_locations.end() ? known->second : L"about:blank");
  return *url ? S_OK : E_OUTOFMEMORY;
}

}  // namespace ostrel::webext
