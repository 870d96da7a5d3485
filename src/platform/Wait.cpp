// Waits on events and threads, and the granting of waiters when an object
// becomes signalled (see ObjectTable.h for the scheme).
#include "platform/Wait.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>

#include "platform/ObjectTable.h"

namespace ostrel::platform::kernel {
namespace {

bool Signalled(const ObjectEntry& o) {
  return (o.kind == Kind::Event || o.kind == Kind::Thread) && o.signalled;
}

// What a wait on these objects would return now; false when it must block.
bool Evaluate(const SharedTable& t, const std::uint32_t* objects, std::uint32_t count, bool all,
              DWORD* result) {
  if (all) {
    for (std::uint32_t i = 0; i < count; ++i)
      if (!Signalled(t.objects[objects[i]])) return false;
    *result = WAIT_OBJECT_0;
    return true;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    if (Signalled(t.objects[objects[i]])) {
      *result = WAIT_OBJECT_0 + i;
      return true;
    }
  }
  return false;
}

// A satisfied wait resets the auto-reset events it was satisfied by.
void Consume(SharedTable& t, const std::uint32_t* objects, std::uint32_t count, bool all,
             DWORD result) {
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!all && i != result - WAIT_OBJECT_0) continue;
    ObjectEntry& o = t.objects[objects[i]];
    if (o.kind == Kind::Event && !o.manualReset) o.signalled = 0;
  }
}

bool Names(const Waiter& w, std::uint32_t index) {
  for (std::uint32_t i = 0; i < w.count; ++i)
    if (w.objects[i] == index) return true;
  return false;
}

// Candidates of one grant, in this process; TableLock guards it, as it
// guards everything GrantWaiters does (which never runs inside itself).
std::uint32_t g_grantOrder[kMaxWaiters];

DWORD WaitOnObjects(SharedTable& t, const HandleInfo* handles, std::uint32_t count, bool all,
                    DWORD milliseconds) {
  std::uint32_t objects[kMaxWaitObjects] = {};
  for (std::uint32_t i = 0; i < count; ++i) objects[i] = handles[i].index;
  // The deadline counts from the call, not from registration.
  const timespec deadline = DeadlineAfter(milliseconds == INFINITE ? 0 : milliseconds);
  std::uint32_t slot;
  {
    TableLock lock(t);
    for (std::uint32_t i = 0; i < count; ++i) {
      if (!Current(t, handles[i].index, handles[i].serial)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
      }
    }
    DWORD result;
    if (Evaluate(t, objects, count, all, &result)) {
      Consume(t, objects, count, all, result);
      return result;
    }
    if (milliseconds == 0) return WAIT_TIMEOUT;
    slot = AddWaiter(t, objects, count, all, false);
    if (slot == kNone) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return WAIT_FAILED;
    }
  }

  Waiter& w = t.waiters[slot];
  while (w.granted.load(std::memory_order_acquire) == 0) {
    if (FutexWait(w.granted, 0, milliseconds == INFINITE ? nullptr : &deadline) == ETIMEDOUT) break;
  }
  // A grant may still have arrived between the time-out and this lock: it
  // consumed a signal on our behalf, so report it rather than lose it.
  TableLock lock(t);
  const DWORD result = w.granted.load(std::memory_order_acquire) ? w.result : WAIT_TIMEOUT;
  RemoveWaiter(t, slot);
  return result;
}

}  // namespace

std::uint32_t AddWaiter(SharedTable& t, const std::uint32_t* objects, std::uint32_t count, bool all,
                        bool forMutex) {
  std::uint32_t slot = kNone;
  for (int attempt = 0; attempt < 2 && slot == kNone; ++attempt) {
    for (std::uint32_t w = 0; w < WaiterCapacity() && slot == kNone; ++w)
      if (!t.waiters[w].inUse) slot = w;
    if (slot == kNone && attempt == 0) ReclaimDeadProcesses(t);
  }
  if (slot == kNone) return kNone;
  Waiter& w = t.waiters[slot];
  w.inUse = 1;
  w.process = Self();
  w.forMutex = forMutex ? 1 : 0;
  w.sequence = ++t.nextSequence;
  w.waitAll = all ? 1 : 0;
  w.count = count;
  for (std::uint32_t i = 0; i < count; ++i) {
    w.objects[i] = objects[i];
    t.objects[objects[i]].pins += 1;
  }
  w.result = WAIT_FAILED;
  w.granted.store(0, std::memory_order_release);
  t.waitersUsed = std::max(t.waitersUsed, slot + 1);
  return slot;
}

void RemoveWaiter(SharedTable& t, std::uint32_t slot) {
  Waiter& w = t.waiters[slot];
  const std::uint32_t count = w.count;
  w.count = 0;
  w.inUse = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    t.objects[w.objects[i]].pins -= 1;
    ReleaseIfUnused(t, w.objects[i]);
  }
}

void GrantWaiters(SharedTable& t, std::uint32_t index) {
  std::uint32_t n = 0;
  for (std::uint32_t w = 0; w < t.waitersUsed; ++w) {
    const Waiter& waiter = t.waiters[w];
    if (waiter.inUse && !waiter.forMutex && !waiter.granted.load(std::memory_order_relaxed) &&
        Names(waiter, index))
      g_grantOrder[n++] = w;
  }
  std::sort(g_grantOrder, g_grantOrder + n, [&t](std::uint32_t a, std::uint32_t b) {
    return t.waiters[a].sequence < t.waiters[b].sequence;
  });
  for (std::uint32_t k = 0; k < n; ++k) {
    if (!Signalled(t.objects[index])) break;  // an auto-reset signal was taken
    const std::uint32_t slot = g_grantOrder[k];
    Waiter& w = t.waiters[slot];
    DWORD result;
    if (!w.inUse || !Evaluate(t, w.objects, w.count, w.waitAll != 0, &result)) continue;
    // A waiter of a process that died must not take the signal with it.
    if (!ProcessEntryAlive(t, w.process)) {
      RemoveWaiter(t, slot);
      continue;
    }
    Consume(t, w.objects, w.count, w.waitAll != 0, result);
    w.result = result;
    w.granted.store(1, std::memory_order_release);
    if (DieInThisGrant()) raise(SIGKILL);
    FutexWake(w.granted, INT_MAX);
  }
}

void DropWaitersOf(SharedTable& t, std::uint32_t process) {
  for (std::uint32_t w = 0; w < t.waitersUsed; ++w) {
    const Waiter& waiter = t.waiters[w];
    if (waiter.inUse && waiter.process == process) RemoveWaiter(t, w);
  }
}

}  // namespace ostrel::platform::kernel

using namespace ostrel::platform::kernel;

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  HandleInfo info;
  DWORD error = ERROR_INVALID_HANDLE;
  SharedTable* t = Resolve(hHandle, &info) ? Table(&error) : nullptr;
  if (!t) {
    SetLastError(error);
    return WAIT_FAILED;
  }
  if (info.kind == Kind::Mutex) return AcquireMutex(*t, info, dwMilliseconds);
  return WaitOnObjects(*t, &info, 1, false, dwMilliseconds);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds) {
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  HandleInfo infos[kMaxWaitObjects];
  for (DWORD i = 0; i < nCount; ++i) {
    if (!Resolve(lpHandles[i], &infos[i])) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    // Mutexes are pthread mutexes and cannot join a shared wait; the system
    // never waits for one among other objects.
    if (infos[i].kind == Kind::Mutex) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return WAIT_FAILED;
    }
    if (bWaitAll) {
      for (DWORD j = 0; j < i; ++j) {
        if (infos[j].index == infos[i].index) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return WAIT_FAILED;
        }
      }
    }
  }
  DWORD error = ERROR_INVALID_HANDLE;
  SharedTable* t = Table(&error);
  if (!t) {
    SetLastError(error);
    return WAIT_FAILED;
  }
  return WaitOnObjects(*t, infos, nCount, bWaitAll != FALSE, dwMilliseconds);
}
