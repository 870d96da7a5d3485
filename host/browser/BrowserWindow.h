// CBrowserWindow: one window of the browser stand-in, as its helpers see
// the browser: the site they are given (IWebBrowser2 with Stop, Navigate,
// get_LocationURL and get_HWND), the connection point of DWebBrowserEvents2
// they subscribe to, and the events: BeforeNavigate2 before a navigation
// (URL at index 5 as VT_BYREF|VT_VARIANT), NavigateComplete2 once it loaded
// (the location set first), OnQuit when the window closes. A helper's Stop
// abandons the navigation in progress; its Navigate starts a new one once
// the event returns (events never nest). Created, used and closed on the
// window's own thread (the helpers' apartment); nothing here is locked.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser/PageLoader.h"
#include "browser/Report.h"
#include "platform/ExDisp.h"
#include "platform/OCIdl.h"

namespace ostrel::host {

class CBrowserWindow final : public IWebBrowser2,
                             public IConnectionPointContainer,
                             public IConnectionPoint {
 public:
  // fetch: load http and https pages over the network; otherwise every
  // navigation counts as loaded.
  CBrowserWindow(int number, bool fetch);
  CBrowserWindow(const CBrowserWindow&) = delete;
  CBrowserWindow& operator=(const CBrowserWindow&) = delete;

  // Takes the helper's reference and hands it its site.
  void AddHelper(IObjectWithSite* helper, bool active);

  // A navigation asked for by the user, followed to where the window ends.
  NavigationReport Go(const std::wstring& address, const std::wstring& action = L"navigate");
  // What the warning page's "continue" link does, on the page shown now.
  NavigationReport Continue();
  // OnQuit, then each helper loses its site and is released; the window
  // object goes when the last reference on it does.
  void Close();

  const std::wstring& Location() const { return m_location; }

  // IUnknown
  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  // IDispatch (the browser's own automation: not provided)
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;
  // IWebBrowser2
  HRESULT get_HWND(SHANDLE_PTR* window) override;
  HRESULT Stop() override;
  HRESULT Navigate(BSTR url, VARIANT* flags, VARIANT* frame, VARIANT* postData,
                   VARIANT* headers) override;
  HRESULT get_LocationURL(BSTR* url) override;
  // IConnectionPointContainer
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override;
  HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;
  // IConnectionPoint (DWebBrowserEvents2)
  HRESULT GetConnectionInterface(IID* iid) override;
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT Unadvise(DWORD cookie) override;
  HRESULT EnumConnections(IEnumConnections** connections) override;

 private:
  ~CBrowserWindow();

  // Returns whether a sink set Cancel.
  bool FireBeforeNavigate(const std::wstring& url);
  void FireNavigateComplete(const std::wstring& url);
  void FireQuit();
  void Fire(DISPID event, DISPPARAMS* params);

  int m_number;
  std::unique_ptr<CPageLoader> m_loader;  // with --fetch only
  std::wstring m_location;
  std::vector<IObjectWithSite*> m_helpers;  // counted
  bool m_helpersActive;
  std::vector<IDispatch*> m_sinks;        // counted; index cookie - 1, null once unadvised
  bool m_navigating;                      // between BeforeNavigate2 and loading
  bool m_abandoned;                       // the navigation in progress was stopped or replaced
  std::optional<std::wstring> m_pending;  // the next navigation to start
  ULONG m_references;
};

}  // namespace ostrel::host
