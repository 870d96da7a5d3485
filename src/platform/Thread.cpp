// Threads: a detached pthread per CreateThread, its state in the object table
// so that any process holding the handle can wait for its end. Suspension is
// a suspend count the thread parks on: at its start (CREATE_SUSPENDED) or,
// once running, in the handler of a signal SuspendThread sends it.
#include "platform/Thread.h"

#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>

#include "platform/ObjectTable.h"

namespace ostrel::platform::kernel {
namespace {

// The table entry of the thread running here, for the suspend handler.
// Initial-exec TLS: reading it in a signal handler must not allocate.
__attribute__((tls_model("initial-exec"))) thread_local ObjectEntry* t_self = nullptr;

std::once_flag g_handlerOnce;

int SuspendSignal() { return SIGRTMIN + 6; }

void ParkWhileSuspended(ObjectEntry& o) {
  for (;;) {
    const std::uint32_t count = o.suspendCount.load(std::memory_order_acquire);
    if (count == 0) return;
    FutexWait(o.suspendCount, count, nullptr);
  }
}

void OnSuspendSignal(int) {
  const int saved = errno;
  if (ObjectEntry* o = t_self) {
    // Tell SuspendThread the thread has stopped, then stay here until resumed.
    o->parkSeq.fetch_add(1);
    FutexWake(o->parkSeq, INT_MAX);
    ParkWhileSuspended(*o);
  }
  errno = saved;
}

void InstallSuspendHandler() {
  struct sigaction action {};
  action.sa_handler = OnSuspendSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SuspendSignal(), &action, nullptr);
}

struct StartBlock {
  SharedTable* table;
  std::uint32_t index;
  LPTHREAD_START_ROUTINE routine;
  LPVOID parameter;
};

void* ThreadMain(void* argument) {
  std::unique_ptr<StartBlock> start(static_cast<StartBlock*>(argument));
  SharedTable& t = *start->table;
  ObjectEntry& o = t.objects[start->index];
  t_self = &o;
  o.tid.store(static_cast<std::uint32_t>(CurrentTid()), std::memory_order_release);
  FutexWake(o.tid, INT_MAX);
  ParkWhileSuspended(o);
  const DWORD exitCode = start->routine(start->parameter);
  t_self = nullptr;  // the entry may be reused once the thread has ended
  TableLock lock(t);
  // Whoever sees the handle signalled must find this thread's mutexes abandoned.
  AbandonMutexesOfThisThread(t);
  EndThreadEntry(t, start->index, exitCode);
  ReleaseIfUnused(t, start->index);
  return nullptr;
}

// The entry of a thread handle, or null with the last error set.
ObjectEntry* ThreadOf(HANDLE hThread, bool ownProcessOnly) {
  HandleInfo info;
  DWORD error = ERROR_INVALID_HANDLE;
  SharedTable* t = Resolve(hThread, &info) && info.kind == Kind::Thread ? Table(&error) : nullptr;
  if (!t) {
    SetLastError(error);
    return nullptr;
  }
  ObjectEntry& o = t->objects[info.index];
  if (ownProcessOnly && o.ownerProcess != Self()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return &o;
}

bool ValidPriority(int priority) {
  switch (priority) {
    case THREAD_PRIORITY_IDLE:
    case THREAD_PRIORITY_LOWEST:
    case THREAD_PRIORITY_BELOW_NORMAL:
    case THREAD_PRIORITY_NORMAL:
    case THREAD_PRIORITY_ABOVE_NORMAL:
    case THREAD_PRIORITY_HIGHEST:
    case THREAD_PRIORITY_TIME_CRITICAL:
      return true;
    default:
      return false;
  }
}

}  // namespace

void EndThreadEntry(SharedTable& t, std::uint32_t index, DWORD exitCode) {
  ObjectEntry& o = t.objects[index];
  o.exitCode = exitCode;
  o.running.store(0);
  o.signalled = 1;
  GrantWaiters(t, index);
  o.parkSeq.fetch_add(1);  // a SuspendThread in progress stops waiting
  FutexWake(o.parkSeq, INT_MAX);
}

}  // namespace ostrel::platform::kernel

using namespace ostrel::platform::kernel;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                    LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (!lpStartAddress) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  DWORD error = ERROR_SUCCESS;
  SharedTable* t = Table(&error);
  if (!t) {
    SetLastError(error);
    return nullptr;
  }

  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (dwStackSize != 0) {
    const SIZE_T page = static_cast<SIZE_T>(sysconf(_SC_PAGESIZE));
    const auto minimum = static_cast<SIZE_T>(PTHREAD_STACK_MIN);
    SIZE_T size = dwStackSize < minimum ? minimum : dwStackSize;
    if (size > static_cast<SIZE_T>(-1) - page) {
      pthread_attr_destroy(&attr);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    size = (size + page - 1) / page * page;
    pthread_attr_setstacksize(&attr, size);
  }

  auto start = std::make_unique<StartBlock>(StartBlock{t, kNone, lpStartAddress, lpParameter});
  HANDLE handle = nullptr;
  {
    LocalLock local;
    const std::uint32_t slot = ReserveHandle();
    if (slot == kNone) {
      pthread_attr_destroy(&attr);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    TableLock lock(*t);
    const std::uint32_t index = AllocateObject(*t, Kind::Thread);
    if (index == kNone) {
      UnreserveHandle(slot);
      pthread_attr_destroy(&attr);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    ObjectEntry& o = t->objects[index];
    o.manualReset = 1;
    o.ownerProcess = Self();
    o.running.store(1);
    o.exitCode = STILL_ACTIVE;
    o.suspendCount.store((dwCreationFlags & CREATE_SUSPENDED) ? 1 : 0);
    start->index = index;
    handle = FillHandle(*t, slot, index);
  }

  ObjectEntry& o = t->objects[start->index];
  pthread_t thread;
  const int rc = pthread_create(&thread, &attr, ThreadMain, start.get());
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    {
      TableLock lock(*t);
      o.running.store(0);
    }
    CloseHandle(handle);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  start.release();  // the thread owns it now
  // The id is the kernel's, known once the thread runs.
  std::uint32_t tid;
  while ((tid = o.tid.load(std::memory_order_acquire)) == 0) FutexWait(o.tid, 0, nullptr);
  if (lpThreadId) *lpThreadId = tid;
  return handle;
}

DWORD ResumeThread(HANDLE hThread) {
  ObjectEntry* o = ThreadOf(hThread, true);
  if (!o) return static_cast<DWORD>(-1);
  std::uint32_t previous = o->suspendCount.load();
  do {
    if (previous == 0) return 0;
  } while (!o->suspendCount.compare_exchange_weak(previous, previous - 1));
  if (previous == 1) FutexWake(o->suspendCount, INT_MAX);
  return previous;
}

DWORD SuspendThread(HANDLE hThread) {
  ObjectEntry* o = ThreadOf(hThread, true);
  if (!o) return static_cast<DWORD>(-1);
  if (!o->running.load()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return static_cast<DWORD>(-1);
  }
  const std::uint32_t seq = o->parkSeq.load();
  std::uint32_t previous = o->suspendCount.load();
  do {
    if (previous >= MAXIMUM_SUSPEND_COUNT) {
      SetLastError(ERROR_SIGNAL_REFCOUNT_EXCEEDED);
      return static_cast<DWORD>(-1);
    }
  } while (!o->suspendCount.compare_exchange_weak(previous, previous + 1));
  if (previous != 0) return previous;  // already stopped, or held at its start

  const auto tid = static_cast<std::int32_t>(o->tid.load());
  if (tid == CurrentTid()) {
    ParkWhileSuspended(*o);
    return 0;
  }
  std::call_once(g_handlerOnce, InstallSuspendHandler);
  if (syscall(SYS_tgkill, getpid(), tid, SuspendSignal()) == 0) {
    // The handler bumps parkSeq when it holds the thread; so does the end of
    // the thread, should it get there first.
    while (o->parkSeq.load() == seq) FutexWait(o->parkSeq, seq, nullptr);
  }
  return previous;
}

BOOL SetThreadPriority(HANDLE hThread, int nPriority) {
  ObjectEntry* o = ThreadOf(hThread, true);
  if (!o) return FALSE;
  if (!ValidPriority(nPriority)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  o->priority.store(nPriority);
  return TRUE;
}

int GetThreadPriority(HANDLE hThread) {
  ObjectEntry* o = ThreadOf(hThread, false);
  return o ? o->priority.load() : THREAD_PRIORITY_ERROR_RETURN;
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  ObjectEntry* o = ThreadOf(hThread, false);
  if (!o) return FALSE;
  if (!lpExitCode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // exitCode is written before running drops to 0.
  *lpExitCode = o->running.load() ? STILL_ACTIVE : o->exitCode;
  return TRUE;
}
