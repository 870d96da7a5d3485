// The base of a test fake of the browser: the platform's IWebBrowser2,
// which has only the members the system calls. The Windows test programs
// find tests/windows/include/common/WebBrowserBase.h first, which fails
// the rest of the Windows interface's members with E_NOTIMPL.
#pragma once

#include "platform/ExDisp.h"

namespace ostrel::test {

using WebBrowserBase = IWebBrowser2;

}  // namespace ostrel::test
