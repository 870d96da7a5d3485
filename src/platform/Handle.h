// Platform layer: kernel-object handles and the attributes given at creation.
// Promises: a handle from CreateEventW, CreateMutexW or CreateThread names its
// object in this process until CloseHandle; an object lives while any process
// of the user holds a handle to it (a running thread also keeps its own
// object). Handles are per process; a child made by fork inherits its
// parent's handles to objects that still exist. CloseHandle fails with
// ERROR_INVALID_HANDLE on anything else. The objects of one user live in a
// private per-user folder, so security attributes are accepted and not
// otherwise used. All processes of the user share a table of fixed room
// (thousands of objects, processes and waits at once); a creation or wait
// that finds it full fails with ERROR_NOT_ENOUGH_MEMORY and the next call
// may succeed. Thread-safe.
#pragma once

#include "platform/WinError.h"
#include "platform/WinTypes.h"

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using PSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

BOOL CloseHandle(HANDLE hObject);
