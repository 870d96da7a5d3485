// Platform layer: abandoning the transfers of an HTTP session.
// Ours, not a Windows function: WinINet abandons a blocked request only
// when another thread closes its handle. On Windows this is a thread that
// waits on the event and closes the session's open request handles.
// Promises: after InternetSetAbortEvent(session, event), every request of
// the session (InternetOpenUrlW, platform/WinInet.h) fails with
// ERROR_INTERNET_OPERATION_CANCELLED within a second of the event being
// signalled: at once, without a request, when it is signalled already;
// while connecting or while the response arrives otherwise (a response
// cut off in its body keeps the bytes received and InternetReadFile then
// fails with that error). The event is tested without waiting and should
// be manual-reset: a test consumes the signal of an auto-reset event. A
// null event clears it. The event must stay open while the session makes
// requests; the session does not own it. False, with ERROR_INVALID_HANDLE
// or ERROR_INTERNET_INCORRECT_HANDLE_TYPE, for a handle that is not a
// session. Thread-safe.
#pragma once

#include "platform/WinInet.h"

BOOL InternetSetAbortEvent(HINTERNET hSession, HANDLE hEvent);
