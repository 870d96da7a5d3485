// Windows: abandoning the transfers of an HTTP session. Ours, not a Windows
// function: WinINet unblocks a request only when another thread closes its
// handle or a parent's (win32/InternetAbort.cpp).
// Promises: after InternetSetAbortEvent(session, event), a request of the
// session blocked in WinINet fails within a second of the event being
// signalled (the session is closed under it; later requests on it fail
// too). The owner still closes the session as usual; that second close
// fails harmlessly.
#pragma once

#include "platform/WinInet.h"

BOOL InternetSetAbortEvent(HINTERNET hSession, HANDLE hEvent);
