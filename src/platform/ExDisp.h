// Platform layer: the browser's object model as the system uses it.
// Promises: IWebBrowser2 with the members the system calls: get_HWND (the
// browser's top-level window), Stop (abandons the navigation in progress),
// Navigate (starts a navigation to the URL; the four optional arguments
// may be null) and get_LocationURL (the current address, a new BSTR the
// caller frees). The browser stand-in and test fakes implement it.
// DWebBrowserEvents2 is the outgoing (event) interface a browser's
// connection point serves: events reach the sink through IDispatch::Invoke
// with the dispids below, the arguments in reverse order.
#pragma once

#include "platform/OleAuto.h"

using SHANDLE_PTR = LONG_PTR;

// {D30C1661-CDAF-11D0-8A3E-00C04FC9E26E}
inline constexpr IID IID_IWebBrowser2 = {0xD30C1661, 0xCDAF, 0x11D0,
                                         {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};

struct IWebBrowser2 : IDispatch {
  virtual HRESULT get_HWND(SHANDLE_PTR* pHWND) = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT Navigate(BSTR URL, VARIANT* Flags, VARIANT* TargetFrameName, VARIANT* PostData,
                           VARIANT* Headers) = 0;
  virtual HRESULT get_LocationURL(BSTR* LocationURL) = 0;

 protected:
  ~IWebBrowser2() = default;
};

// {34A715A0-6587-11D0-924A-0020AFC7AC4D}
inline constexpr IID DIID_DWebBrowserEvents2 = {0x34A715A0, 0x6587, 0x11D0,
                                                {0x92, 0x4A, 0x00, 0x20, 0xAF, 0xC7, 0xAC, 0x4D}};

// The events of DWebBrowserEvents2 a helper listens to. BeforeNavigate2
// has seven arguments (browser, URL, flags, target frame, post data,
// headers, cancel); in the argument array, reversed, the URL is at index 5
// as VT_BYREF|VT_VARIANT and cancel at index 0 as VT_BYREF|VT_BOOL.
// NavigateComplete2 has two (browser, URL), OnQuit none.
constexpr DISPID DISPID_BEFORENAVIGATE2 = 250;
constexpr DISPID DISPID_NAVIGATECOMPLETE2 = 252;
constexpr DISPID DISPID_ONQUIT = 253;
