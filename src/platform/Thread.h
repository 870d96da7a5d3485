// Platform layer: threads.
// Promises: CreateThread runs lpStartAddress(lpParameter) on a new thread of
// this process (held back until ResumeThread with CREATE_SUSPENDED) and
// writes its id; the handle is signalled when the routine returns, and
// GetExitCodeThread gives STILL_ACTIVE until then and the routine's result
// after. A thread whose process died before it ended counts as ended with
// exit code ERROR_PROCESS_ABORTED. SuspendThread and ResumeThread keep the
// Windows suspend count (the previous count, or 0xFFFFFFFF on failure);
// SuspendThread returns once the thread has stopped, wherever it was, so,
// as on Windows, suspending a thread that holds a lock others need stalls
// them (it interrupts the thread with the real-time signal SIGRTMIN+6, whose
// handler it installs on first use). Suspending, resuming and setting the
// priority work on threads of the calling process only (ERROR_ACCESS_DENIED
// for a thread handle inherited through fork). The priority is one of the
// THREAD_PRIORITY_* values; it is kept and reported back but does not change
// scheduling (an unprivileged Linux process could not raise a lowered thread
// again). Thread-safe.
#pragma once

#include "platform/Handle.h"

using PTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID lpThreadParameter);
using LPTHREAD_START_ROUTINE = PTHREAD_START_ROUTINE;

constexpr DWORD CREATE_SUSPENDED = 0x00000004;
constexpr DWORD STACK_SIZE_PARAM_IS_A_RESERVATION = 0x00010000;
constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD MAXIMUM_SUSPEND_COUNT = 127;

constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;
constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD dwCreationFlags, LPDWORD lpThreadId);
DWORD ResumeThread(HANDLE hThread);
DWORD SuspendThread(HANDLE hThread);
BOOL SetThreadPriority(HANDLE hThread, int nPriority);
int GetThreadPriority(HANDLE hThread);
BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
