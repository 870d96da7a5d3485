// The URI model reads an address as a browser does (host, port, escapes,
// backslashes, address forms, international names) where the platform's URL
// cracker is a browser's reading: the Linux platform layer's. On Windows the
// model cracks and canonicalises with WinINet (InternetCrackUrlW,
// InternetCanonicalizeUrlW), which reads many such addresses otherwise; the
// tests of the browser's reading skip there with this guard, and
// windows/WinInetUriTest.cpp states what WinINet gives instead.
#pragma once

#include <gtest/gtest.h>

#ifdef _WIN32
#define SKIP_WHERE_WININET_READS_ADDRESSES() \
  GTEST_SKIP() << "WinINet reads these addresses otherwise: windows/WinInetUriTest.cpp"
#else
#define SKIP_WHERE_WININET_READS_ADDRESSES() static_cast<void>(0)
#endif
