// A browser stand-in for engine tests: it records Stop and Navigate, and
// can be told to fail Stop or report no window.
#pragma once

#include <string>
#include <vector>

#include "common/WebBrowserBase.h"

namespace ostrel::test {

class FakeBrowser : public WebBrowserBase {
 public:
  std::vector<std::wstring> navigations;
  int stops = 0;
  bool failStop = false;
  bool failWindow = false;
  std::wstring location = L"about:blank";

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IWebBrowser2) {
      *object = static_cast<IWebBrowser2*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
  ULONG STDMETHODCALLTYPE Release() override { return --m_references; }  // lives on the test's stack
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_HWND(SHANDLE_PTR* window) override {
    if (failWindow) return E_FAIL;
    *window = 0x1234;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Stop() override {
    ++stops;
    return failStop ? E_FAIL : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Navigate(BSTR url, VARIANT* flags, VARIANT* frame, VARIANT* postData,
                                     VARIANT* headers) override {
    if (flags || frame || postData || headers) return E_INVALIDARG;
    navigations.emplace_back(url, SysStringLen(url));
    location = navigations.back();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_LocationURL(BSTR* url) override {
    *url = SysAllocString(location.c_str());
    return S_OK;
  }

 private:
  ULONG m_references = 1;
};

}  // namespace ostrel::test
