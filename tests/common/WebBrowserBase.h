// The browser interface a test's fake browser derives from. Here it is
// IWebBrowser2 itself, which declares only the members the system calls;
// the Windows test programs find tests/windows/include/common's version
// first, which answers E_NOTIMPL for the rest of Windows' interface.
#pragma once

#include "platform/ExDisp.h"

namespace ostrel::test {

using WebBrowserBase = IWebBrowser2;

}  // namespace ostrel::test
