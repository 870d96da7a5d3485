// Mutexes: robust, recursive, process-shared pthread mutexes in the object
// table. The kernel's robust-futex list hands the mutex of a thread or
// process that died to the next locker with EOWNERDEAD: WAIT_ABANDONED. A
// thread of CreateThread gives its mutexes up itself before its handle is
// signalled (the kernel would only after), marked abandoned in the entry.
#include "platform/Mutex.h"

#include <unistd.h>

#include <cerrno>

#include "platform/ObjectTable.h"
#include "platform/Wait.h"

namespace ostrel::platform::kernel {
namespace {

void TakeOwnership(ObjectEntry& o, bool abandoned) {
  const std::int32_t pid = CurrentPid();
  const std::int32_t tid = CurrentTid();
  // The pthread mutex granted it only to us, so equal fields mean a
  // recursive acquisition; after an abandonment they are the dead owner's.
  if (!abandoned && o.ownerPid.load() == pid && o.ownerTid.load() == tid) {
    o.recursion += 1;
    return;
  }
  o.recursion = 1;
  o.ownerPid.store(pid);
  o.ownerTid.store(tid);
}

struct MutexInit {
  bool initialOwner;
};

bool InitMutexEntry(ObjectEntry& entry, const void* context) {
  if (!InitMutex(entry)) return false;
  // Taken under the table lock, so no other process can get it first.
  if (static_cast<const MutexInit*>(context)->initialOwner) {
    if (pthread_mutex_lock(&entry.mutex) != 0) return false;
    TakeOwnership(entry, false);
  }
  return true;
}

}  // namespace

bool InitMutex(ObjectEntry& entry) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return false;
  const bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
                  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
                  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                  pthread_mutex_init(&entry.mutex, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  return ok;
}

bool MutexOwnerAlive(const ObjectEntry& entry) {
  return ThreadAlive(entry.ownerPid.load(), entry.ownerTid.load());
}

DWORD AcquireMutex(SharedTable& t, const HandleInfo& handle, DWORD milliseconds) {
  ObjectEntry& o = t.objects[handle.index];
  std::uint32_t slot;
  {
    // Recorded as a wait of this process, the entry is pinned against being
    // freed and reinitialised under us, and unpinned should we die waiting.
    TableLock lock(t);
    if (!Current(t, handle.index, handle.serial)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    slot = AddWaiter(t, &handle.index, 1, false, true);
    if (slot == kNone) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return WAIT_FAILED;
    }
  }
  int rc;
  if (milliseconds == 0) {
    rc = pthread_mutex_trylock(&o.mutex);
  } else if (milliseconds == INFINITE) {
    rc = pthread_mutex_lock(&o.mutex);
  } else {
    const timespec deadline = DeadlineAfter(milliseconds);
    rc = pthread_mutex_clocklock(&o.mutex, CLOCK_MONOTONIC, &deadline);
  }
  DWORD result;
  switch (rc) {
    case 0:
      // A thread that ended owning it gave it up marked abandoned.
      result = o.abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
      o.abandoned = 0;
      TakeOwnership(o, result == WAIT_ABANDONED);
      break;
    case EOWNERDEAD:
      pthread_mutex_consistent(&o.mutex);
      o.abandoned = 0;
      TakeOwnership(o, true);
      result = WAIT_ABANDONED;
      break;
    case EBUSY:
    case ETIMEDOUT:
      result = WAIT_TIMEOUT;
      break;
    case EAGAIN:  // recursion count exhausted
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      result = WAIT_FAILED;
      break;
    default:
      SetLastError(ERROR_INVALID_HANDLE);
      result = WAIT_FAILED;
      break;
  }
  TableLock lock(t);
  RemoveWaiter(t, slot);
  return result;
}

void AbandonMutexesOfThisThread(SharedTable& t) {
  const std::int32_t pid = CurrentPid();
  const std::int32_t tid = CurrentTid();
  for (std::uint32_t i = 0; i < t.objectsUsed; ++i) {
    ObjectEntry& o = t.objects[i];
    if (o.kind != Kind::Mutex || o.ownerPid.load() != pid || o.ownerTid.load() != tid) continue;
    const std::uint32_t levels = o.recursion;
    o.abandoned = 1;
    o.recursion = 0;
    o.ownerTid.store(0);
    o.ownerPid.store(0);
    for (std::uint32_t level = 0; level < levels; ++level) pthread_mutex_unlock(&o.mutex);
    // No longer owned: a mutex kept only for its owner can go now.
    if (o.retired) {
      o.retired = 0;
      ReleaseIfUnused(t, i);
    }
  }
}

}  // namespace ostrel::platform::kernel

using namespace ostrel::platform::kernel;

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCWSTR lpName) {
  const MutexInit init{bInitialOwner != FALSE};
  return CreateObject(Kind::Mutex, lpName, InitMutexEntry, &init);
}

BOOL ReleaseMutex(HANDLE hMutex) {
  HandleInfo info;
  DWORD error = ERROR_INVALID_HANDLE;
  SharedTable* t = Resolve(hMutex, &info) && info.kind == Kind::Mutex ? Table(&error) : nullptr;
  if (!t) {
    SetLastError(error);
    return FALSE;
  }
  ObjectEntry& o = t->objects[info.index];
  const std::int32_t pid = CurrentPid();
  const std::int32_t tid = CurrentTid();
  if (o.ownerPid.load() != pid || o.ownerTid.load() != tid) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  const std::uint32_t recursion = o.recursion;
  if (recursion == 1) {
    o.ownerTid.store(0);
    o.ownerPid.store(0);
  }
  o.recursion = recursion - 1;
  if (pthread_mutex_unlock(&o.mutex) != 0) {
    // The fields named us, but the kernel gave the mutex away (our thread id
    // was reused after the real owner died): we own nothing.
    o.recursion = recursion;
    if (recursion == 1) {
      o.ownerPid.store(pid);
      o.ownerTid.store(tid);
    }
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  return TRUE;
}
