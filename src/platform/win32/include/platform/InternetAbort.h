// Windows: abandoning the transfers of an HTTP session, and the limits
// every transfer keeps. Ours, over WinINet (win32/InternetSession.cpp):
// WinINet unblocks a request only when another thread closes its handle,
// and caps no body, so the session's requests are opened, read and closed
// through functions of ours under WinINet's names.
// Promises: after InternetSetAbortEvent(session, event), once the event is
// signalled, the session is closed with its requests under their users (a
// request being opened or read fails, on Windows at once; Wine's WinINet
// goes on until the server answers or drops the connection) and every
// later InternetOpenUrlW of the session fails with
// ERROR_INTERNET_OPERATION_CANCELLED; the owner's own InternetCloseHandle
// of the session or its requests then closes nothing again. A body longer than 16 MiB fails
// the read that passes the limit (ERROR_NOT_ENOUGH_MEMORY, as elsewhere).
// Thread-safe.
#pragma once

#include "platform/WinInet.h"

BOOL InternetSetAbortEvent(HINTERNET hSession, HANDLE hEvent);
