// Platform layer: mutexes.
// Promises: CreateMutexW makes a mutex, or opens the existing mutex of that
// name (any process of the user), as CreateEventW does for events (an
// existing mutex is opened without taking ownership, whatever
// bInitialOwner says). A mutex is owned by one thread at a time and
// recursively: WaitForSingleObject takes it (once more for the owner),
// ReleaseMutex gives one level back and fails with ERROR_NOT_OWNER for any
// thread that does not own it. When the owning thread ends, or its process
// dies (even by SIGKILL), the mutex is granted to the next waiter with
// WAIT_ABANDONED instead of WAIT_OBJECT_0; that waiter owns it (for a thread
// of CreateThread, before its handle is signalled). Mutexes
// cannot be part of WaitForMultipleObjects (platform/Wait.h).
#pragma once

#include "platform/Handle.h"

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName);
BOOL ReleaseMutex(HANDLE hMutex);
