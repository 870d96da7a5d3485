// A browser for the helper-object tests, offering what the real one offers
// its helpers: IWebBrowser2 (Stop, Navigate and the location, recorded),
// the connection-point container and the DWebBrowserEvents2 point, each of
// which a test can withhold or make fail, and the three events fired into
// the subscribed sinks as the browser fires them. Lives on the test's
// stack; reference counts are kept so tests can see them.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "common/WebBrowserBase.h"
#include "platform/OCIdl.h"

namespace ostrel::test {

class FakeSite : public WebBrowserBase, public IConnectionPointContainer, public IConnectionPoint {
 public:
  bool offerBrowser = true;
  bool offerContainer = true;
  bool offerEvents = true;
  bool failAdvise = false;
  bool throwOnStop = false;  // a browser fault of the kind no helper expects
  bool throwOnNavigate = false;
  std::vector<std::wstring> navigations;
  int stops = 0;
  int advises = 0;
  int unadvises = 0;
  std::wstring location = L"about:blank";
  ULONG references = 0;

  ~FakeSite() {
    for (IDispatch* sink : m_sinks)
      if (sink) sink->Release();
  }

  // The site as handed to SetSite.
  IUnknown* Unknown() { return static_cast<IWebBrowser2*>(this); }

  std::size_t Subscribers() const {
    std::size_t n = 0;
    for (IDispatch* sink : m_sinks) n += sink != nullptr;
    return n;
  }

  // BeforeNavigate2 with the URL at index 5 as the browser passes it (or as
  // urlType says). Returns the last sink's answer.
  HRESULT BeforeNavigate(const std::wstring& url, VARTYPE urlType = VT_BYREF | VT_VARIANT) {
    BSTR text = SysAllocStringLen(url.data(), static_cast<UINT>(url.size()));
    VARIANT urlValue, args[7];
    VariantInit(&urlValue);
    urlValue.vt = VT_BSTR;
    urlValue.bstrVal = text;
    VARIANT_BOOL cancel = VARIANT_FALSE;
    for (VARIANT& a : args) VariantInit(&a);
    args[0].vt = VT_BYREF | VT_BOOL;
    args[0].pboolVal = &cancel;
    args[5].vt = urlType;
    if (urlType == (VT_BYREF | VT_VARIANT))
      args[5].pvarVal = &urlValue;
    else if (urlType == VT_BSTR)
      args[5].bstrVal = text;
    args[6].vt = VT_DISPATCH;
    args[6].pdispVal = static_cast<IWebBrowser2*>(this);
    DISPPARAMS params{args, nullptr, 7, 0};
    const HRESULT hr = Fire(DISPID_BEFORENAVIGATE2, &params);
    SysFreeString(text);
    return hr;
  }
  HRESULT NavigateComplete(const std::wstring& url) {
    location = url;
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    return Fire(DISPID_NAVIGATECOMPLETE2, &params);
  }
  HRESULT Quit() {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    return Fire(DISPID_ONQUIT, &params);
  }

  // IUnknown
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown))
      *out = static_cast<IWebBrowser2*>(this);
    else if (offerBrowser && (IsEqualIID(iid, IID_IWebBrowser2) || IsEqualIID(iid, IID_IDispatch)))
      *out = static_cast<IWebBrowser2*>(this);
    else if (offerContainer && IsEqualIID(iid, IID_IConnectionPointContainer))
      *out = static_cast<IConnectionPointContainer*>(this);
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }

  // IDispatch, and what the helper never calls: not provided.
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT GetConnectionInterface(IID*) override { return E_NOTIMPL; }
  HRESULT GetConnectionPointContainer(IConnectionPointContainer**) override { return E_NOTIMPL; }
  HRESULT EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

  // IWebBrowser2
  HRESULT get_HWND(SHANDLE_PTR* window) override { return *window = 0x1234, S_OK; }
  HRESULT Stop() override {
    if (throwOnStop) throw std::runtime_error("browser fault");
    return ++stops, S_OK;
  }
  HRESULT Navigate(BSTR url, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override {
    if (throwOnNavigate) throw std::runtime_error("browser fault");
    navigations.emplace_back(url, SysStringLen(url));
    return S_OK;
  }
  HRESULT get_LocationURL(BSTR* url) override {
    *url = SysAllocStringLen(location.data(), static_cast<UINT>(location.size()));
    return S_OK;
  }

  HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
    *point = nullptr;
    if (!offerEvents || !IsEqualIID(iid, DIID_DWebBrowserEvents2)) return CONNECT_E_NOCONNECTION;
    *point = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }

  // IConnectionPoint
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override {
    ++advises;
    *cookie = 0;
    IDispatch* dispatch = nullptr;
    if (failAdvise) return CONNECT_E_ADVISELIMIT;
    if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))))
      return CONNECT_E_CANNOTCONNECT;
    m_sinks.push_back(dispatch);
    *cookie = static_cast<DWORD>(m_sinks.size());
    return S_OK;
  }
  HRESULT Unadvise(DWORD cookie) override {
    if (cookie == 0 || cookie > m_sinks.size() || !m_sinks[cookie - 1])
      return CONNECT_E_NOCONNECTION;
    ++unadvises;
    IDispatch* sink = m_sinks[cookie - 1];
    m_sinks[cookie - 1] = nullptr;
    sink->Release();
    return S_OK;
  }

 private:
  HRESULT Fire(DISPID event, DISPPARAMS* params) {
    HRESULT hr = S_OK;
    const std::vector<IDispatch*> sinks = m_sinks;  // a sink may unsubscribe while called
    for (IDispatch* sink : sinks)
      if (sink)
        hr = sink->Invoke(event, IID_NULL, 0, DISPATCH_METHOD, params, nullptr, nullptr, nullptr);
    return hr;
  }

  std::vector<IDispatch*> m_sinks;  // by cookie - 1; null once unadvised
};

}  // namespace ostrel::test
