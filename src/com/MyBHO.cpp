#include "com/MyBHO.h"

#include <string>

#include "com/ComObject.h"
#include "com/ListRules.h"
#include "engine/PhishListEngine.h"
#include "settings/Settings.h"
#include "support/Exception.h"
#include "support/Trace.h"

namespace {

// Where BeforeNavigate2's URL sits in the reversed argument array, and the
// only type it is taken in.
constexpr UINT kUrlArgument = 5;
constexpr VARTYPE kUrlType = VT_BYREF | VT_VARIANT;

void TraceLine(wchar_t mark) {
  const std::wstring line(85, mark);
  TraceMessage(L"%s\r\n", line.c_str());
}

}  // namespace

CMyBHO::CMyBHO()
    : m_site(),
      m_engine(nullptr),
      m_connectionPoint(),
      m_browser(),
      m_container(),
      m_adviseCookie(0),
      m_active(FALSE) {
  m_active = CSettings::GetBHOActive(CSettings::DefaultBHOActive) != 0;
}

CMyBHO::~CMyBHO() {
  // An engine still here (no OnQuit came) would keep its update thread.
  try {
    delete m_engine;
  } catch (...) {
  }
}

void* CMyBHO::GetInterface(REFIID iid) {
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IObjectWithSite))
    return static_cast<IObjectWithSite*>(this);
  if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IMyBHO))
    return static_cast<IMyBHO*>(this);
  if (IsEqualIID(iid, IID_IPhishListRules)) return static_cast<IPhishListRules*>(this);
  return nullptr;
}

HRESULT CMyBHO::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  return CreateComObject<CMyBHO>(outer, iid, out);
}

HRESULT STDMETHODCALLTYPE CMyBHO::SetSite(IUnknown* site) {
  if (!m_active) return S_OK;
  try {
    m_site.Assign(site);
    if (FAILED(m_browser.QueryFrom(site, IID_IWebBrowser2))) return E_INVALIDARG;
    if (FAILED(m_container.QueryFrom(m_browser.Get(), IID_IConnectionPointContainer)))
      return E_POINTER;
    const HRESULT found =
        m_container->FindConnectionPoint(DIID_DWebBrowserEvents2, m_connectionPoint.Receive());
    if (FAILED(found) || !m_connectionPoint) {
      m_active = FALSE;
      return FAILED(found) ? found : E_POINTER;
    }
    Attach();
    return S_OK;
  } catch (const CException& e) {
    e.Trace(L"Exception caught...");
  } catch (...) {
    TraceMessage(L"Exception caught...\r\n");
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CMyBHO::GetSite(REFIID iid, void** site) {
  if (!site) return E_POINTER;
  *site = nullptr;
  return m_site ? m_site->QueryInterface(iid, site) : E_FAIL;
}

HRESULT CMyBHO::Attach() {
  const HRESULT advised = m_connectionPoint->Advise(
      static_cast<IUnknown*>(GetInterface(IID_IUnknown)), &m_adviseCookie);
  if (FAILED(advised)) {
    m_active = FALSE;
    return advised;
  }
  if (m_engine) return S_OK;
  TraceMessage(L"Creating Phish List scanning engine\r\n");
  try {
    m_engine = new CPhishListEngine(m_browser.Get());
  } catch (const CException& e) {
    e.Trace(L"Failed to create Phish List scanning engine\r\n");
    delete m_engine;
    m_engine = nullptr;
  } catch (...) {
    // Not the system's own failure (the C++ runtime's): handled the same.
    TraceMessage(L"Failed to create Phish List scanning engine\r\n");
    m_engine = nullptr;
  }
  return S_OK;
}

void CMyBHO::Detach() {
  delete m_engine;
  m_engine = nullptr;
  if (m_connectionPoint) m_connectionPoint->Unadvise(m_adviseCookie);
}

HRESULT STDMETHODCALLTYPE CMyBHO::Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                       UINT*) {
  try {
    switch (member) {
      case DISPID_BEFORENAVIGATE2:
        return OnBeforeNavigate(params);
      case DISPID_NAVIGATECOMPLETE2:
        OnNavigateComplete();
        return S_OK;
      case DISPID_ONQUIT:
        Detach();
        return S_OK;
      default:
        return S_OK;
    }
  } catch (const CException& e) {
    e.Trace(L"Exception caught...");
  } catch (...) {
    // Whatever the engine or the C++ runtime raised, the browser never sees it.
    TraceMessage(L"Exception caught...\r\n");
  }
  return S_OK;
}

HRESULT CMyBHO::OnBeforeNavigate(DISPPARAMS* params) {
  TraceLine(L'>');
  TraceMessage(L"Staring pre-navigation scan\r\n");
  HRESULT hr = S_OK;
  // A malformed event (too few arguments) is not read past its end.
  if (params && params->rgvarg && params->cArgs > kUrlArgument &&
      params->rgvarg[kUrlArgument].vt == kUrlType) {
    CVariant url;
    const HRESULT copied = VariantCopy(&url, params->rgvarg[kUrlArgument].pvarVal);
    if (FAILED(copied)) {
      (&url)->vt = VT_ERROR;
      (&url)->scode = copied;
    }
    VariantChangeType(&url, &url, 0, VT_BSTR);
    if (url.Get().vt == VT_BSTR) hr = ScanUrl(url.Get().bstrVal);
  }
  TraceMessage(L"Pre-navigation scan complete\r\n");
  TraceLine(L'<');
  return hr;
}

HRESULT CMyBHO::OnNavigateComplete() {
  TraceLine(L'>');
  TraceMessage(L"Staring post-navigation scan\r\n");
  CBstr location;
  HRESULT hr = m_browser ? m_browser->get_LocationURL(location.Receive()) : E_POINTER;
  if (SUCCEEDED(hr)) hr = ScanUrl(location.Get());
  TraceMessage(L"Post-navigation scan complete\r\n");
  TraceLine(L'<');
  return hr;
}

HRESULT CMyBHO::ScanUrl(BSTR url) {
  if (!m_active || CSettings::GetBHOPaused(CSettings::DefaultBHOPaused) || !m_engine) return S_OK;
  const std::wstring text = url ? std::wstring(url, SysStringLen(url)) : std::wstring();
  TraceMessage(L"About to scan '%s'\r\n", text.c_str());
  const HRESULT hr = m_engine->Scan(text);
  TraceMessage(L"Finished scanning '%s'\r\n", text.c_str());
  return hr;
}

HRESULT STDMETHODCALLTYPE CMyBHO::GetListRules(LONGLONG known, LONGLONG* version, BSTR* rules) {
  if (!version || !rules) return E_POINTER;
  *version = 0;
  *rules = nullptr;
  try {
    if (!m_engine) return S_FALSE;
    CPhishList& list = m_engine->GetList();
    list.EnsureLoaded();  // asked before the first navigation: rules in place before it
    if (!list.IsLoaded()) return S_FALSE;
    const bool paused = CSettings::GetBHOPaused(CSettings::DefaultBHOPaused) != 0;
    if (m_rulesVersion == 0 || list.GetLoadStamp() != m_rulesStamp || paused != m_rulesPaused) {
      m_rulesText = ListRulesText(list.GetPatterns(), paused);
      m_rulesStamp = list.GetLoadStamp();
      m_rulesPaused = paused;
      ++m_rulesVersion;
    }
    *version = m_rulesVersion;
    if (known == m_rulesVersion) return S_FALSE;
    *rules = SysAllocStringLen(m_rulesText.data(), static_cast<UINT>(m_rulesText.size()));
    return *rules ? S_OK : E_OUTOFMEMORY;
  } catch (const CException& e) {
    e.Trace(L"Exception caught...");
  } catch (...) {
    TraceMessage(L"Exception caught...\r\n");
  }
  *version = 0;
  return E_FAIL;
}
