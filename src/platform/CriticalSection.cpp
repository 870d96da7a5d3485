// Critical sections: a recursive pthread mutex kept in the section's storage.
#include "platform/CriticalSection.h"

#include <pthread.h>

namespace {

static_assert(sizeof(pthread_mutex_t) <= sizeof(RTL_CRITICAL_SECTION::Opaque),
              "the critical section cannot hold a pthread mutex");
static_assert(alignof(pthread_mutex_t) <= alignof(RTL_CRITICAL_SECTION),
              "the critical section is not aligned for a pthread mutex");

pthread_mutex_t* LockOf(LPCRITICAL_SECTION section) {
  return reinterpret_cast<pthread_mutex_t*>(section->Opaque);
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (!lpCriticalSection) return;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(LockOf(lpCriticalSection), &attr);
  pthread_mutexattr_destroy(&attr);
}

void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (lpCriticalSection) pthread_mutex_lock(LockOf(lpCriticalSection));
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  return lpCriticalSection && pthread_mutex_trylock(LockOf(lpCriticalSection)) == 0;
}

void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  // A recursive pthread mutex refuses (EPERM) an unlock by a non-owner.
  if (lpCriticalSection) pthread_mutex_unlock(LockOf(lpCriticalSection));
}

void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (lpCriticalSection) pthread_mutex_destroy(LockOf(lpCriticalSection));
}
