// Windows: a session's transfers abandoned when its abort event is
// signalled. WinINet unblocks a request only when its handle, or a parent's,
// is closed from another thread, so a watcher thread per session waits for
// the event and then closes the session, which closes every request under
// it. The watcher ends, without closing anything, once the session has been
// closed by its owner (it checks every 250 ms).
#include "platform/InternetAbort.h"

#include <thread>

namespace {

bool SessionOpen(HINTERNET session) {
  DWORD type = 0;
  DWORD size = sizeof type;
  return InternetQueryOptionW(session, INTERNET_OPTION_HANDLE_TYPE, &type, &size) != FALSE;
}

void Watch(HINTERNET session, HANDLE event) {
  for (;;) {
    const DWORD waited = WaitForSingleObject(event, 250);
    if (waited == WAIT_OBJECT_0) {
      InternetCloseHandle(session);
      break;
    }
    if (waited != WAIT_TIMEOUT || !SessionOpen(session)) break;
  }
  CloseHandle(event);
}

}  // namespace

BOOL InternetSetAbortEvent(HINTERNET hSession, HANDLE hEvent) {
  HANDLE event = nullptr;
  if (!hSession || !DuplicateHandle(GetCurrentProcess(), hEvent, GetCurrentProcess(), &event,
                                    SYNCHRONIZE, FALSE, 0))
    return FALSE;
  try {
    std::thread(Watch, hSession, event).detach();
  } catch (...) {
    CloseHandle(event);
    return FALSE;
  }
  return TRUE;
}
