#include "browser/BrowserSite.h"

namespace ostrel::host {

namespace {

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

}  // namespace

CBrowserSite::CBrowserSite() : m_references(1) {}

CBrowserSite::~CBrowserSite() {
  for (IDispatch* sink : m_sinks)
    if (sink) sink->Release();
}

void CBrowserSite::AddHelper(IObjectWithSite* helper) {
  m_helpers.push_back(helper);
  helper->SetSite(static_cast<IWebBrowser2*>(this));
}

void CBrowserSite::Close() {
  FireQuit();
  for (IObjectWithSite* helper : m_helpers) {
    helper->SetSite(nullptr);
    helper->Release();
  }
  m_helpers.clear();
  Release();
}

BSTR CBrowserSite::NewText(const std::wstring& text) {
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

bool CBrowserSite::FireBeforeNavigate(const std::wstring& url) {
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

void CBrowserSite::FireNavigateComplete(const std::wstring& url) {
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

void CBrowserSite::FireQuit() {
  DISPPARAMS params{nullptr, nullptr, 0, 0};
  Fire(DISPID_ONQUIT, &params);
}

void CBrowserSite::Fire(DISPID event, DISPPARAMS* params) {
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

HRESULT CBrowserSite::QueryInterface(REFIID iid, void** out) {
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

ULONG CBrowserSite::AddRef() { return ++m_references; }

ULONG CBrowserSite::Release() {
  const ULONG left = --m_references;
  if (left == 0) delete this;
  return left;
}

HRESULT CBrowserSite::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return S_OK;
}

HRESULT CBrowserSite::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT CBrowserSite::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  return DISP_E_UNKNOWNNAME;
}

HRESULT CBrowserSite::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                               UINT*) {
  return DISP_E_MEMBERNOTFOUND;
}

HRESULT CBrowserSite::EnumConnectionPoints(IEnumConnectionPoints** points) {
  if (points) *points = nullptr;
  return E_NOTIMPL;
}

HRESULT CBrowserSite::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  if (!point) return E_POINTER;
  *point = nullptr;
  if (!IsEqualIID(iid, DIID_DWebBrowserEvents2)) return CONNECT_E_NOCONNECTION;
  *point = static_cast<IConnectionPoint*>(this);
  AddRef();
  return S_OK;
}

HRESULT CBrowserSite::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = DIID_DWebBrowserEvents2;
  return S_OK;
}

HRESULT CBrowserSite::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (!container) return E_POINTER;
  *container = static_cast<IConnectionPointContainer*>(this);
  AddRef();
  return S_OK;
}

HRESULT CBrowserSite::Advise(IUnknown* sink, DWORD* cookie) {
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

HRESULT CBrowserSite::Unadvise(DWORD cookie) {
  if (cookie == 0 || cookie > m_sinks.size() || !m_sinks[cookie - 1]) return CONNECT_E_NOCONNECTION;
  IDispatch* sink = m_sinks[cookie - 1];
  m_sinks[cookie - 1] = nullptr;
  sink->Release();
  return S_OK;
}

HRESULT CBrowserSite::EnumConnections(IEnumConnections** connections) {
  if (connections) *connections = nullptr;
  return E_NOTIMPL;
}

}  // namespace ostrel::host
