// CBrowserWindow: one window of the browser stand-in, a CBrowserSite to its
// helpers. A helper's Stop abandons the navigation in progress; its Navigate
// starts a new one once the event returns (events never nest); the location
// is set before NavigateComplete2. With fetching, a server's redirect is a
// navigation of its own, with its own BeforeNavigate2. Created, used and closed on the window's
// own thread (the helpers' apartment); nothing here is locked.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser/BrowserSite.h"
#include "browser/PageLoader.h"
#include "browser/Report.h"

namespace ostrel::host {

class CBrowserWindow final : public CBrowserSite {
 public:
  // fetch: load http and https pages over the network; otherwise every
  // navigation counts as loaded.
  CBrowserWindow(int number, bool fetch);

  // Takes the helper's reference and hands it its site; active: the
  // filter's BHOActive as the helper read it.
  void AddHelper(IObjectWithSite* helper, bool active);

  // A navigation asked for by the user, followed to where the window ends.
  NavigationReport Go(const std::wstring& address, const std::wstring& action = L"navigate");
  // What the warning page's "continue" link does, on the page shown now.
  NavigationReport Continue();

  const std::wstring& Location() const { return m_location; }

  // IWebBrowser2
  HRESULT get_HWND(SHANDLE_PTR* window) override;
  HRESULT Stop() override;
  HRESULT Navigate(BSTR url, VARIANT* flags, VARIANT* frame, VARIANT* postData,
                   VARIANT* headers) override;
  HRESULT get_LocationURL(BSTR* url) override;

 private:
  ~CBrowserWindow() override;

  int m_number;
  std::unique_ptr<CPageLoader> m_loader;  // with --fetch only
  std::wstring m_location;
  bool m_helpersActive;
  bool m_navigating;  // between BeforeNavigate2 and loading
  bool m_abandoned;   // the navigation in progress was stopped or replaced
  std::optional<std::wstring> m_pending;  // the next navigation to start
};

}  // namespace ostrel::host
