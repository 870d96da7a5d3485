// Platform layer: events.
// Promises: CreateEventW makes an event, or, when lpName names an existing
// event of this user (in any process), opens that one, ignores the other
// arguments and sets the last error to ERROR_ALREADY_EXISTS (ERROR_SUCCESS
// when it is new); a name held by a mutex fails with ERROR_INVALID_HANDLE,
// a name over 260 characters with ERROR_FILENAME_EXCED_RANGE. A null or
// empty name makes an unnamed event. "Local\" before a name is the same
// namespace as no prefix; "Global\" names a namespace of its own (both are
// private to the user). SetEvent on an auto-reset event releases exactly one
// waiter, or leaves the event signalled until one comes; on a manual-reset
// event it releases every waiter and stays signalled. PulseEvent releases
// the threads waiting at that moment (all of them for manual reset, one for
// auto reset) and leaves the event non-signalled, so a thread that starts
// waiting afterwards is not released. Thread-safe and process-safe.
#pragma once

#include "platform/Handle.h"

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCWSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
BOOL PulseEvent(HANDLE hEvent);
