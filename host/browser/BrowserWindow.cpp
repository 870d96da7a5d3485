#include "browser/BrowserWindow.h"

#include <cwctype>

#include "browser/Helpers.h"
#include "browser/WarningPage.h"
#include "platform/WinInet.h"

namespace ostrel::host {

namespace {

// A helper that keeps redirecting is stopped here, as a browser would stop
// a redirect loop.
constexpr std::size_t kMaxNavigations = 20;

bool HasScheme(const std::wstring& address, const wchar_t* scheme) {
  const std::wstring prefix = std::wstring(scheme) + L":";
  if (address.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (static_cast<wchar_t>(towlower(address[i])) != prefix[i]) return false;
  return true;
}

bool IsHttp(const std::wstring& address) {
  return HasScheme(address, L"http") || HasScheme(address, L"https");
}

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
  if (IsHttp(address) && parts.dwHostNameLength == 0) {
    *why = L"not a valid address (no host)";
    return false;
  }
  return true;
}

// One by-reference variant argument of an event, kept alive while it fires.
struct EventArgument {
  VARIANT value;
  EventArgument() { VariantInit(&value); }
  ~EventArgument() { VariantClear(&value); }
};

void ByReference(VARIANT& argument, VARIANT& to) {
  argument.vt = VT_BYREF | VT_VARIANT;
  argument.pvarVal = &to;
}

BSTR NewText(const std::wstring& text) {
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

}  // namespace

CBrowserWindow::CBrowserWindow(int number, bool fetch)
    : m_number(number),
      m_loader(fetch ? new CPageLoader() : nullptr),
      m_location(L"about:blank"),
      m_helpersActive(true),
      m_navigating(false),
      m_abandoned(false),
      m_references(1) {}

CBrowserWindow::~CBrowserWindow() {
  for (IDispatch* sink : m_sinks)
    if (sink) sink->Release();
}

void CBrowserWindow::AddHelper(IObjectWithSite* helper, bool active) {
  m_helpers.push_back(helper);
  m_helpersActive = m_helpersActive && active;
  // A helper that refuses its site is kept, as the browser keeps it.
  helper->SetSite(static_cast<IWebBrowser2*>(this));
}

NavigationReport CBrowserWindow::Go(const std::wstring& address, const std::wstring& action) {
  NavigationReport report;
  report.window = m_number;
  report.action = action;
  report.address = address;
  if (m_helpers.empty()) {
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
    if (cancelled || m_abandoned) continue;
    if (m_loader && IsHttp(url)) {
      const LoadResult load = m_loader->Load(url);
      if (!load.loaded) {
        m_location = url;
        report.outcome = Outcome::Error;
        report.error = url + L": " + load.error;
        break;
      }
      report.status = load.status;
    }
    m_location = url;
    loadedLast = true;
    FireNavigateComplete(url);  // its helpers may start another navigation
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
  if (page && report.navigations.size() > 1) {
    report.outcome = page->list == L"grey" ? Outcome::Grey : Outcome::Black;
    report.key = page->key;
  } else if (report.navigations.size() > 1) {
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

void CBrowserWindow::Close() {
  FireQuit();
  for (IObjectWithSite* helper : m_helpers) {
    helper->SetSite(nullptr);
    helper->Release();
  }
  m_helpers.clear();
  Release();
}

bool CBrowserWindow::FireBeforeNavigate(const std::wstring& url) {
  EventArgument address, flags, frame, postData, headers;
  address.value.vt = VT_BSTR;
  address.value.bstrVal = NewText(url);
  flags.value.vt = VT_I4;
  flags.value.lVal = 0;
  frame.value.vt = VT_BSTR;
  frame.value.bstrVal = NewText(L"");
  headers.value.vt = VT_BSTR;
  headers.value.bstrVal = NewText(L"");
  VARIANT_BOOL cancel = VARIANT_FALSE;
  // Reversed: cancel, headers, post data, frame, flags, URL, browser.
  VARIANT args[7];
  for (VARIANT& a : args) VariantInit(&a);
  args[0].vt = VT_BYREF | VT_BOOL;
  args[0].pboolVal = &cancel;
  ByReference(args[1], headers.value);
  ByReference(args[2], postData.value);
  ByReference(args[3], frame.value);
  ByReference(args[4], flags.value);
  ByReference(args[5], address.value);
  args[6].vt = VT_DISPATCH;
  args[6].pdispVal = static_cast<IWebBrowser2*>(this);
  DISPPARAMS params{args, nullptr, 7, 0};
  Fire(DISPID_BEFORENAVIGATE2, &params);
  return cancel != VARIANT_FALSE;
}

void CBrowserWindow::FireNavigateComplete(const std::wstring& url) {
  EventArgument address;
  address.value.vt = VT_BSTR;
  address.value.bstrVal = NewText(url);
  VARIANT args[2];
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  ByReference(args[0], address.value);
  args[1].vt = VT_DISPATCH;
  args[1].pdispVal = static_cast<IWebBrowser2*>(this);
  DISPPARAMS params{args, nullptr, 2, 0};
  Fire(DISPID_NAVIGATECOMPLETE2, &params);
}

void CBrowserWindow::FireQuit() {
  DISPPARAMS params{nullptr, nullptr, 0, 0};
  Fire(DISPID_ONQUIT, &params);
}

void CBrowserWindow::Fire(DISPID event, DISPPARAMS* params) {
  // A sink may unsubscribe while it is called: each is held meanwhile.
  std::vector<IDispatch*> sinks;
  for (IDispatch* sink : m_sinks)
    if (sink) {
      sink->AddRef();
      sinks.push_back(sink);
    }
  for (IDispatch* sink : sinks) {
    sink->Invoke(event, IID_NULL, 0, DISPATCH_METHOD, params, nullptr, nullptr, nullptr);
    sink->Release();
  }
}

HRESULT CBrowserWindow::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, IID_IWebBrowser2))
    *out = static_cast<IWebBrowser2*>(this);
  else if (IsEqualIID(iid, IID_IConnectionPointContainer))
    *out = static_cast<IConnectionPointContainer*>(this);
  if (!*out) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

ULONG CBrowserWindow::AddRef() { return ++m_references; }

ULONG CBrowserWindow::Release() {
  const ULONG left = --m_references;
  if (left == 0) delete this;
  return left;
}

HRESULT CBrowserWindow::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return S_OK;
}

HRESULT CBrowserWindow::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT CBrowserWindow::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  return DISP_E_UNKNOWNNAME;
}

HRESULT CBrowserWindow::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                               UINT*) {
  return DISP_E_MEMBERNOTFOUND;
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

HRESULT CBrowserWindow::EnumConnectionPoints(IEnumConnectionPoints** points) {
  if (points) *points = nullptr;
  return E_NOTIMPL;
}

HRESULT CBrowserWindow::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  if (!point) return E_POINTER;
  *point = nullptr;
  if (!IsEqualIID(iid, DIID_DWebBrowserEvents2)) return CONNECT_E_NOCONNECTION;
  *point = static_cast<IConnectionPoint*>(this);
  AddRef();
  return S_OK;
}

HRESULT CBrowserWindow::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = DIID_DWebBrowserEvents2;
  return S_OK;
}

HRESULT CBrowserWindow::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (!container) return E_POINTER;
  *container = static_cast<IConnectionPointContainer*>(this);
  AddRef();
  return S_OK;
}

HRESULT CBrowserWindow::Advise(IUnknown* sink, DWORD* cookie) {
  if (!sink || !cookie) return E_POINTER;
  *cookie = 0;
  IDispatch* events = nullptr;
  if (FAILED(sink->QueryInterface(DIID_DWebBrowserEvents2, reinterpret_cast<void**>(&events))) &&
      FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&events))))
    return CONNECT_E_CANNOTCONNECT;
  m_sinks.push_back(events);
  *cookie = static_cast<DWORD>(m_sinks.size());
  return S_OK;
}

HRESULT CBrowserWindow::Unadvise(DWORD cookie) {
  if (cookie == 0 || cookie > m_sinks.size() || !m_sinks[cookie - 1]) return CONNECT_E_NOCONNECTION;
  IDispatch* sink = m_sinks[cookie - 1];
  m_sinks[cookie - 1] = nullptr;
  sink->Release();
  return S_OK;
}

HRESULT CBrowserWindow::EnumConnections(IEnumConnections** connections) {
  if (connections) *connections = nullptr;
  return E_NOTIMPL;
}

}  // namespace ostrel::host
