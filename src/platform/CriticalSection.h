// Platform layer: critical sections.
// Promises: a critical section is a recursive lock among the threads of one
// process: the owner may enter again and must leave as often as it entered;
// EnterCriticalSection blocks while another thread owns it,
// TryEnterCriticalSection does not. Leaving one the caller does not own
// does nothing. A section must be initialised before use, not be moved or
// copied while initialised, and be deleted only when no thread owns it.
#pragma once

#include "platform/WinTypes.h"

struct RTL_CRITICAL_SECTION {
  // The platform's recursive lock; opaque to callers.
  alignas(16) unsigned char Opaque[64];
};
using CRITICAL_SECTION = RTL_CRITICAL_SECTION;
using PCRITICAL_SECTION = RTL_CRITICAL_SECTION*;
using LPCRITICAL_SECTION = RTL_CRITICAL_SECTION*;

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
