// CMyBHO: the browser helper object the browser creates in every window.
// Given its site, it subscribes to the browser's DWebBrowserEvents2 and
// creates the window's scanning engine; then BeforeNavigate2 scans the
// navigation's URL, NavigateComplete2 the browser's location, and OnQuit
// deletes the engine and unsubscribes. BHOActive is read once at creation,
// BHOPaused before every scan. Nothing raised inside reaches the browser:
// the events return S_OK and the navigation goes on unscanned. All calls
// arrive on the window's thread (threading model Apartment); no locks.
// A bridge to a browser that sends requests before asking asks it for the
// list's rules (IPhishListRules), kept until the list loads anew.
#pragma once

#include <string>

#include "com/ComPtr.h"
#include "com/DispatchImpl.h"
#include "com/Interfaces.h"
#include "platform/ExDisp.h"
#include "platform/OCIdl.h"

class CPhishListEngine;

class CMyBHO : public IObjectWithSite, public CDispatchImpl<IMyBHO>, public IPhishListRules {
 public:
  CMyBHO();
  virtual ~CMyBHO();

  void* GetInterface(REFIID iid);

  // IObjectWithSite
  HRESULT STDMETHODCALLTYPE SetSite(IUnknown* site) override;
  HRESULT STDMETHODCALLTYPE GetSite(REFIID iid, void** site) override;

  // IDispatch: the event sink.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

  // IPhishListRules
  HRESULT STDMETHODCALLTYPE GetListRules(LONGLONG known, LONGLONG* version, BSTR* rules) override;

  static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out);

 private:
  HRESULT Attach();
  void Detach();
  HRESULT OnBeforeNavigate(DISPPARAMS* params);
  HRESULT OnNavigateComplete();
  HRESULT ScanUrl(BSTR url);

  CComPtr<IUnknown> m_site;                     // the site holder's reference
  CPhishListEngine* m_engine;                   // owned; from Attach until OnQuit
  CComPtr<IConnectionPoint> m_connectionPoint;  // DWebBrowserEvents2 of the browser
  CComPtr<IWebBrowser2> m_browser;
  CComPtr<IConnectionPointContainer> m_container;
  DWORD m_adviseCookie;  // valid once Advise succeeded
  BOOL m_active;         // BHOActive at creation; cleared for good when subscribing fails

  // The rules last derived, for the list's load stamp and pause switch they
  // were derived under; m_rulesVersion counts the changes (0: none yet).
  LONGLONG m_rulesStamp = 0;
  bool m_rulesPaused = false;
  LONGLONG m_rulesVersion = 0;
  std::wstring m_rulesText;
};
