// Loading a page over HTTP(S) for the browser stand-in's --fetch, through
// the platform's HTTP client (redirects followed, timeouts and a body cap
// as it keeps them). The body is read and dropped: the stand-in shows no
// pages. One loader per window, used on that window's thread.
#pragma once

#include <string>

#include "platform/WinError.h"
#include "platform/WinInet.h"

namespace ostrel::host {

struct LoadResult {
  bool loaded = false;  // a response arrived whole (any status)
  DWORD status = 0;     // its HTTP status
  std::wstring error;   // why it did not load
};

class CPageLoader {
 public:
  CPageLoader();
  CPageLoader(const CPageLoader&) = delete;
  CPageLoader& operator=(const CPageLoader&) = delete;
  virtual ~CPageLoader();

  // Only http and https addresses are loaded; callers pass nothing else.
  LoadResult Load(const std::wstring& address);

 private:
  HINTERNET m_session;
};

}  // namespace ostrel::host
