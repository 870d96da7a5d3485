// CWebExtWindow: one browser window (Chromium or Firefox) as its helpers see it, a
// CBrowserSite. The extension tells it about the window's tabs; each event
// is delivered for one tab (the current tab), and get_LocationURL answers
// that tab's last committed address. What a helper asks during an event
// (Stop, Navigate) is recorded and handed back when the event returns, as
// one answer for the extension. Used on the host's one event thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "browser/BrowserSite.h"

namespace ostrel::webext {

// What the helpers asked of a tab during one event.
struct TabAnswer {
  enum class Kind { None, Stop, Navigate } kind = Kind::None;
  std::int64_t tabId = 0;
  std::wstring url;  // Navigate only
};

class CWebExtWindow final : public host::CBrowserSite {
 public:
  CWebExtWindow() = default;

  void SetWindowId(std::int64_t id) { m_windowId = id; }

  // BeforeNavigate2 for the tab (a Cancel counts as Stop).
  TabAnswer BeforeNavigate(std::int64_t tabId, const std::wstring& url);
  // The tab's location becomes url, then NavigateComplete2.
  TabAnswer Committed(std::int64_t tabId, const std::wstring& url);
  // The tab's location becomes url, then NavigateComplete2 once more: a
  // tab whose earlier events were missed (the extension started late) is
  // scanned all the same.
  TabAnswer Completed(std::int64_t tabId, const std::wstring& url) { return Committed(tabId, url); }
  // The tab's location only; no event (what a skipped event leaves behind).
  void SetLocation(std::int64_t tabId, const std::wstring& url) { m_locations[tabId] = url; }
  void ForgetTab(std::int64_t tabId) { m_locations.erase(tabId); }

  // IWebBrowser2
  HRESULT get_HWND(SHANDLE_PTR* window) override;
  HRESULT Stop() override;
  HRESULT Navigate(BSTR url, VARIANT* flags, VARIANT* frame, VARIANT* postData,
                   VARIANT* headers) override;
  HRESULT get_LocationURL(BSTR* url) override;

 private:
  ~CWebExtWindow() override = default;

  // Runs one event for the tab and collects what the helpers asked.
  // event: fires it, returns whether a sink set Cancel.
  TabAnswer Deliver(std::int64_t tabId, const std::function<bool()>& event);

  std::int64_t m_windowId = 0;
  std::map<std::int64_t, std::wstring> m_locations;  // last committed or completed address
  std::int64_t m_currentTab = -1;                     // the tab of the event being delivered
  bool m_delivering = false;                          // an event is being delivered
  bool m_stopped = false;                             // during it, a helper called Stop
  std::optional<std::wstring> m_navigate;             // during it, the last Navigate's address
};

}  // namespace ostrel::webext
