// Loading a page over HTTP(S) for the browser stand-in's --fetch, through
// the platform's HTTP client (timeouts and a body cap as it keeps them).
// The network is handed the address's canonical form, the one the filter
// read, and a redirect is not followed but handed back, so that the window
// makes each hop a navigation of its own. The body is read and dropped: the
// stand-in shows no pages. One loader per window, used on that window's
// thread.
#pragma once

#include <optional>
#include <string>

#include "platform/WinError.h"
#include "platform/WinInet.h"

namespace ostrel::host {

struct LoadResult {
  std::wstring fetched;  // the address handed to the network; empty if none was
  bool loaded = false;   // a response arrived whole (any status)
  DWORD status = 0;      // its HTTP status
  std::optional<std::wstring> redirect;  // where a redirect response points
  std::wstring error;                    // why it did not load
};

class CPageLoader {
 public:
  CPageLoader();
  CPageLoader(const CPageLoader&) = delete;
  CPageLoader& operator=(const CPageLoader&) = delete;
  virtual ~CPageLoader();

  // One request, for the canonical form of an http or https address
  // (callers pass nothing else); a redirect comes back unfollowed.
  LoadResult Load(const std::wstring& address);

 private:
  HINTERNET m_session;
};

}  // namespace ostrel::host
