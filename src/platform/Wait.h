// Platform layer: waiting for kernel objects.
// Promises: a wait blocks in the kernel (no polling) until the object is
// signalled or dwMilliseconds pass (INFINITE: no limit; 0: just a test).
// An event is signalled as platform/Event.h says and an auto-reset event is
// reset by the wait it releases; a thread is signalled once it has ended;
// a mutex is signalled when no other thread owns it (platform/Mutex.h).
// WaitForMultipleObjects waits for any one (bWaitAll false: the result is
// WAIT_OBJECT_0 plus the lowest index signalled) or for all at once (true:
// WAIT_OBJECT_0, consuming every auto-reset event together). It takes 1 to
// MAXIMUM_WAIT_OBJECTS events and threads; a mutex among them, an object
// named twice in a wait for all, or a bad count fails with
// ERROR_INVALID_PARAMETER, a null or closed handle with ERROR_INVALID_HANDLE
// (WAIT_FAILED in both cases). Thread-safe and process-safe.
#pragma once

#include "platform/Handle.h"

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
constexpr DWORD WAIT_ABANDONED = 0x00000080;
constexpr DWORD WAIT_ABANDONED_0 = WAIT_ABANDONED;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds);
