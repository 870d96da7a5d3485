#include "browser/BrowserWindow.h"

#include "browser/Address.h"
#include "browser/Helpers.h"
#include "browser/WarningPage.h"
#include "platform/WinInet.h"

namespace ostrel::host {

namespace {

// A helper that keeps redirecting is stopped here, as a browser would stop
// a redirect loop.
constexpr std::size_t kMaxNavigations = 20;
// The servers' redirects in one navigation, the bound the platform's HTTP
// client keeps when it follows them itself.
constexpr std::size_t kMaxRedirects = 10;

// An address a browser would navigate to: a scheme, and for http and https
// a host it can contact.
bool IsValidAddress(const std::wstring& address, std::wstring* why) {
  std::vector<wchar_t> scheme(address.size() + 1), host(address.size() + 1);
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszScheme = scheme.data();
  parts.dwSchemeLength = static_cast<DWORD>(scheme.size());
  parts.lpszHostName = host.data();
  parts.dwHostNameLength = static_cast<DWORD>(host.size());
  if (address.empty() ||
      !InternetCrackUrlW(address.c_str(), static_cast<DWORD>(address.size()), 0, &parts)) {
    *why = GetLastError() == ERROR_INTERNET_UNRECOGNIZED_SCHEME
               ? L"not an address (no scheme such as http:)"
               : L"not a valid address";
    return false;
  }
  if (IsHttpAddress(address) && parts.dwHostNameLength == 0) {
    *why = L"not a valid address (no host)";
    return false;
  }
  return true;
}

}  // namespace

CBrowserWindow::CBrowserWindow(int number, bool fetch)
    : m_number(number),
      m_loader(fetch ? new CPageLoader() : nullptr),
      m_location(L"about:blank"),
      m_helpersActive(true),
      m_navigating(false),
      m_abandoned(false) {}

CBrowserWindow::~CBrowserWindow() = default;

void CBrowserWindow::AddHelper(IObjectWithSite* helper, bool active) {
  m_helpersActive = m_helpersActive && active;
  CBrowserSite::AddHelper(helper);
}

NavigationReport CBrowserWindow::Go(const std::wstring& address, const std::wstring& action) {
  NavigationReport report;
  report.window = m_number;
  report.action = action;
  report.address = address;
  if (HelperCount() == 0) {
    report.scanned = false;
    report.notScannedWhy = L"no helper is loaded";
  } else if (!m_helpersActive) {
    report.scanned = false;
    report.notScannedWhy = L"the filter is not active (BHOActive is 0)";
  } else if (FilterPaused()) {
    report.scanned = false;
    report.notScannedWhy = L"the filter is paused (BHOPaused)";
  }
  std::wstring why;
  if (!IsValidAddress(address, &why)) {
    report.outcome = Outcome::Error;
    report.error = why;
    report.location = m_location;
    return report;
  }

  bool loadedLast = false;
  bool helperNavigated = false;  // a helper sent the window elsewhere
  std::size_t serverRedirects = 0;
  m_pending = address;
  while (m_pending) {
    const std::wstring url = *m_pending;
    m_pending.reset();
    report.navigations.push_back(url);
    if (report.navigations.size() > kMaxNavigations) {
      report.outcome = Outcome::Error;
      report.error = L"redirected more than " + std::to_wstring(kMaxNavigations) + L" times";
      break;
    }
    loadedLast = false;
    m_abandoned = false;
    m_navigating = true;
    const bool cancelled = FireBeforeNavigate(url);
    m_navigating = false;
    if (cancelled || m_abandoned) {
      helperNavigated = helperNavigated || m_pending.has_value();
      continue;
    }
    if (m_loader && IsHttpAddress(url)) {
      const LoadResult load = m_loader->Load(url);
      report.fetched = load.fetched;
      report.status = load.loaded ? std::optional<unsigned long>(load.status) : std::nullopt;
      std::wstring failure = load.loaded ? L"" : load.error;
      if (load.loaded && load.redirect) {
        if (++serverRedirects > kMaxRedirects)
          failure = L"too many redirects";
        else if (!IsHttpAddress(*load.redirect))
          failure = L"redirected to " + *load.redirect + L", not an http or https address";
      }
      if (!failure.empty()) {
        m_location = url;
        report.outcome = Outcome::Error;
        report.error = url + L": " + failure;
        break;
      }
      if (load.redirect) {
        // The server's redirect is a navigation of its own: the helpers see
        // it before anything is asked of its target.
        m_pending = *load.redirect;
        continue;
      }
    }
    m_location = url;
    loadedLast = true;
    FireNavigateComplete(url);  // its helpers may start another navigation
    helperNavigated = helperNavigated || m_pending.has_value();
  }
  m_pending.reset();
  report.location = m_location;
  if (report.outcome == Outcome::Error) return report;
  if (!loadedLast) {
    report.outcome = Outcome::Error;
    report.error = L"the navigation was stopped before it loaded";
    return report;
  }
  const std::optional<WarningPage> page = ParseWarningPage(m_location);
  if (page && helperNavigated) {
    report.outcome = page->list == L"grey" ? Outcome::Grey : Outcome::Black;
    report.key = page->key;
  } else if (helperNavigated) {
    report.outcome = Outcome::Reloaded;
  }
  return report;
}

NavigationReport CBrowserWindow::Continue() {
  const std::optional<WarningPage> page = ParseWarningPage(m_location);
  const std::optional<std::wstring> target = page ? ContinueAddress(*page) : std::nullopt;
  if (target) return Go(*target, L"continue");
  NavigationReport report;
  report.window = m_number;
  report.action = L"continue";
  report.location = m_location;
  report.outcome = Outcome::Error;
  report.error = page ? L"this " + page->list + L" warning page offers no way on (no key)"
                      : L"the window is not on a warning page";
  return report;
}

HRESULT CBrowserWindow::get_HWND(SHANDLE_PTR* window) {
  if (!window) return E_POINTER;
  *window = static_cast<SHANDLE_PTR>(0x10000 + m_number);  // a handle of its own per window
  return S_OK;
}

HRESULT CBrowserWindow::Stop() {
  if (m_navigating) m_abandoned = true;
  m_pending.reset();
  return S_OK;
}

HRESULT CBrowserWindow::Navigate(BSTR url, VARIANT*, VARIANT*, VARIANT*, VARIANT*) {
  if (!url) return E_INVALIDARG;
  if (m_navigating) m_abandoned = true;
  m_pending = std::wstring(url, SysStringLen(url));
  return S_OK;
}

HRESULT CBrowserWindow::get_LocationURL(BSTR* url) {
  if (!url) return E_POINTER;
  *url = NewText(m_location);
  return *url ? S_OK : E_OUTOFMEMORY;
}

}  // namespace ostrel::host
