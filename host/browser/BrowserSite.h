// CBrowserSite: what any browser window offers the helpers it sites, as COM
// plumbing: IWebBrowser2 and IDispatch on one object with its reference
// count, the DWebBrowserEvents2 connection point and its sinks, and the
// firing of BeforeNavigate2 (URL at index 5 as VT_BYREF|VT_VARIANT),
// NavigateComplete2 and OnQuit with the browser's argument layout. What a
// window does when asked (Stop, Navigate, get_LocationURL, get_HWND) is the
// derived window's. Used on the window's own thread only; nothing is locked.
// Serves the browser stand-in's window and the Chromium host's window.
#pragma once

#include <string>
#include <vector>

#include "platform/ExDisp.h"
#include "platform/OCIdl.h"

namespace ostrel::host {

class CBrowserSite : public IWebBrowser2,
                     public IConnectionPointContainer,
                     public IConnectionPoint {
 public:
  CBrowserSite(const CBrowserSite&) = delete;
  CBrowserSite& operator=(const CBrowserSite&) = delete;

  // Takes the helper's reference and hands it this site. A helper that
  // refuses its site is kept, as the browser keeps it.
  void AddHelper(IObjectWithSite* helper);
  std::size_t HelperCount() const { return m_helpers.size(); }
  // OnQuit, then each helper loses its site and is released; the site
  // object goes when the last reference on it does (its creator's is
  // given up here).
  void Close();

  // IUnknown
  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  // IDispatch (the browser's own automation: not provided)
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;
  // IConnectionPointContainer
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override;
  HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;
  // IConnectionPoint (DWebBrowserEvents2)
  HRESULT GetConnectionInterface(IID* iid) override;
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT Unadvise(DWORD cookie) override;
  HRESULT EnumConnections(IEnumConnections** connections) override;

 protected:
  CBrowserSite();  // one reference, the creator's
  virtual ~CBrowserSite();

  // Returns whether a sink set Cancel.
  bool FireBeforeNavigate(const std::wstring& url);
  void FireNavigateComplete(const std::wstring& url);
  void FireQuit();

  // A new BSTR holding text (null when out of memory).
  static BSTR NewText(const std::wstring& text);

 private:
  void Fire(DISPID event, DISPPARAMS* params);

  std::vector<IObjectWithSite*> m_helpers;  // counted
  std::vector<IDispatch*> m_sinks;  // counted; index cookie - 1, null once unadvised
  ULONG m_references;
};

}  // namespace ostrel::host
