// The shared object table: opening it and registering this process, process
// reclaim, entries and names, and this process's handles (see ObjectTable.h).
#include "platform/ObjectTable.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <new>

#include "platform/Handle.h"
#include "platform/Testing.h"
#include "platform/WinError.h"

namespace ostrel::platform::kernel {
namespace {

// ---- Process liveness ----

struct ProcStat {
  bool exists = false;
  char state = '?';
  std::uint64_t startTime = 0;
};

ProcStat ReadProcStat(pid_t pid) {
  ProcStat r;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return r;
  char buffer[1024];
  ssize_t n;
  do {
    n = read(fd, buffer, sizeof buffer - 1);
  } while (n < 0 && errno == EINTR);
  close(fd);
  if (n <= 0) return r;
  buffer[n] = 0;
  // The command name in parentheses may hold anything; fields follow the last ')'.
  const char* p = std::strrchr(buffer, ')');
  if (!p) return r;
  r.exists = true;
  ++p;
  // Field 3 is the state, field 22 the start time.
  for (int field = 3; field <= 22 && *p; ++field) {
    while (*p == ' ') ++p;
    if (field == 3) r.state = *p;
    if (field == 22) r.startTime = std::strtoull(p, nullptr, 10);
    while (*p && *p != ' ') ++p;
  }
  return r;
}

bool g_procAvailable = true;  // set at open: whether /proc tells about processes

bool ProcessAlive(pid_t pid, std::uint64_t startTime) {
  if (!g_procAvailable) return kill(pid, 0) == 0 || errno == EPERM;
  const ProcStat s = ReadProcStat(pid);
  if (!s.exists) return false;
  if (s.state == 'Z' || s.state == 'X') return false;  // its robust mutexes are already released
  return startTime == 0 || s.startTime == startTime;
}

// ---- This process's view ----

std::mutex g_localMutex;  // LocalLock
// Written under g_localMutex, read without it once set.
std::atomic<SharedTable*> g_table{nullptr};
std::atomic<std::uint32_t> g_self{kNone};
MappedTable g_mapped;  // guarded by g_localMutex
std::once_flag g_atforkOnce;

// Test seams.
std::atomic<void (*)()> g_beforeClose{nullptr};
std::atomic<bool> g_dieInGrant{false};
std::atomic<std::uint32_t> g_processCap{0};
std::atomic<std::uint32_t> g_waiterCap{0};

// Process-local handles: slot s is handle (s + 1) * 4. A slot word is 0 when
// free, kReserved while a creation fills it, else used bit, kind, serial and
// entry index. Chunks are never freed, so Resolve needs no lock.
constexpr std::uint32_t kChunkSize = 256;
constexpr std::uint32_t kMaxChunks = 64;
constexpr std::uint64_t kUsed = 1ull << 63;
constexpr std::uint64_t kReserved = 1;
constexpr std::uint32_t kSerialMask = 0x1FFFFFFF;

struct Chunk {
  std::atomic<std::uint64_t> slots[kChunkSize];
};
std::atomic<Chunk*> g_chunks[kMaxChunks];

// Guarded by g_localMutex: handles of this process per entry, and the serial
// they were opened for.
std::uint32_t g_localRefs[kMaxObjects];
std::uint32_t g_localSerial[kMaxObjects];

std::uint64_t Pack(std::uint32_t index, std::uint32_t serial, Kind kind) {
  return kUsed | (static_cast<std::uint64_t>(kind) & 3) << 61 |
         static_cast<std::uint64_t>(serial & kSerialMask) << 32 | index;
}

HandleInfo Unpack(std::uint64_t packed) {
  return HandleInfo{static_cast<std::uint32_t>(packed & 0xFFFFFFFFu),
                    static_cast<std::uint32_t>(packed >> 32) & kSerialMask,
                    static_cast<Kind>((packed >> 61) & 3)};
}

// The slot word of a handle value; null for values that are no handle.
std::atomic<std::uint64_t>* SlotWord(std::uintptr_t value) {
  if (value == 0 || value % 4 != 0 || value / 4 > kChunkSize * kMaxChunks) return nullptr;
  const auto slot = static_cast<std::uint32_t>(value / 4 - 1);
  Chunk* chunk = g_chunks[slot / kChunkSize].load(std::memory_order_acquire);
  return chunk ? &chunk->slots[slot % kChunkSize] : nullptr;
}

std::atomic<std::uint64_t>& SlotOf(std::uint32_t slot) {
  return g_chunks[slot / kChunkSize].load(std::memory_order_acquire)->slots[slot % kChunkSize];
}

// Forgets every handle of this process to entry index (LocalLock held or
// single-threaded).
void DropLocalHandles(std::uint32_t index) {
  for (std::atomic<Chunk*>& c : g_chunks) {
    Chunk* chunk = c.load(std::memory_order_acquire);
    if (!chunk) continue;
    for (std::atomic<std::uint64_t>& word : chunk->slots) {
      const std::uint64_t packed = word.load(std::memory_order_relaxed);
      if ((packed & kUsed) && (packed & 0xFFFFFFFFu) == index) word.store(0);
    }
  }
}

bool IsHolder(const SharedTable& t, std::uint32_t index, std::uint32_t p) {
  return (t.holders[index][p / 64] >> (p % 64)) & 1;
}

void SetHolder(SharedTable& t, std::uint32_t index, std::uint32_t p, bool on) {
  const std::uint64_t bit = 1ull << (p % 64);
  if (on)
    t.holders[index][p / 64] |= bit;
  else
    t.holders[index][p / 64] &= ~bit;
}

bool HasHolders(const SharedTable& t, std::uint32_t index) {
  for (std::uint64_t word : t.holders[index])
    if (word) return true;
  return false;
}

void LockTable(SharedTable& t) {
  if (pthread_mutex_lock(&t.lock) != EOWNERDEAD) return;
  // A process died inside an update. Every update keeps the table usable at
  // each step; what one cannot have finished is waking the waiters it had
  // granted, so wake them all (a waiter woken twice just sees it is granted).
  pthread_mutex_consistent(&t.lock);
  for (std::uint32_t w = 0; w < t.waitersUsed; ++w) {
    Waiter& waiter = t.waiters[w];
    if (waiter.inUse && waiter.granted.load(std::memory_order_acquire))
      FutexWake(waiter.granted, INT_MAX);
  }
}

void ReclaimProcess(SharedTable& t, std::uint32_t p) {
  DropWaitersOf(t, p);
  for (std::uint32_t i = 0; i < t.objectsUsed; ++i) {
    ObjectEntry& o = t.objects[i];
    if (o.kind == Kind::Free) continue;
    bool touched = false;
    if (IsHolder(t, i, p)) {
      SetHolder(t, i, p, false);
      touched = true;
    }
    if (o.kind == Kind::Thread && o.ownerProcess == p && o.running.load()) {
      EndThreadEntry(t, i, ERROR_PROCESS_ABORTED);
      touched = true;
    }
    if (touched) ReleaseIfUnused(t, i);
  }
  t.processes[p] = ProcessEntry{};
}

// Registers this process in a free entry; reclaims the dead first. It then
// holds every object its handles name, which a fork copied from its parent
// (so the objects outlive the parent's handles, as on Windows); copies of
// handles to objects that ended meanwhile are dropped.
bool Register(SharedTable& t) {
  ReclaimDeadProcesses(t);
  std::uint32_t self = kNone;
  for (std::uint32_t p = 0; p < ProcessCapacity() && self == kNone; ++p) {
    if (!t.processes[p].inUse) self = p;
  }
  if (self == kNone) return false;
  ProcessEntry& e = t.processes[self];
  e.inUse = 1;
  e.pid = getpid();
  e.startTime = g_procAvailable ? ReadProcStat(getpid()).startTime : 0;
  t.processesUsed = std::max(t.processesUsed, self + 1);
  for (std::uint32_t i = 0; i < kMaxObjects; ++i) {
    if (!g_localRefs[i]) continue;
    if (Current(t, i, g_localSerial[i])) {
      SetHolder(t, i, self, true);
    } else {
      DropLocalHandles(i);
      g_localRefs[i] = 0;
    }
  }
  g_self.store(self, std::memory_order_release);
  return true;
}

void BeforeFork() { g_localMutex.lock(); }
void AfterForkInParent() { g_localMutex.unlock(); }
void AfterForkInChild() {
  g_localMutex.unlock();
  g_self.store(kNone);
  SharedTable* t = g_table.load();
  if (!t) return;
  // A child that finds no free entry registers at a later call.
  TableLock lock(*t);
  Register(*t);
}

// Opens the table and registers this process, as far as not yet done
// (LocalLock held).
DWORD Attach() {
  if (!g_table.load()) {
    g_procAvailable = ReadProcStat(getpid()).exists;
    const std::string folder = ResolveFolder();
    if (folder.empty()) return ERROR_ACCESS_DENIED;
    const DWORD error = MapTable(folder, &g_mapped);
    if (error != ERROR_SUCCESS) return error;
    std::call_once(g_atforkOnce,
                   [] { pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild); });
    g_table.store(g_mapped.table, std::memory_order_release);
  }
  if (g_self.load() == kNone) {
    TableLock lock(*g_table.load());
    if (!Register(*g_table.load())) return ERROR_NOT_ENOUGH_MEMORY;
  }
  return ERROR_SUCCESS;
}

// Finds a live object of this name; kNone when there is none.
std::uint32_t FindNamed(const SharedTable& t, const std::wstring& name) {
  for (std::uint32_t s = 0; s < t.namesUsed; ++s) {
    const NameSlot& n = t.names[s];
    if (n.length != name.size()) continue;
    bool same = true;
    for (std::size_t c = 0; c < name.size() && same; ++c)
      same = n.text[c] == static_cast<std::uint32_t>(name[c]);
    const ObjectEntry& o = t.objects[n.object];
    if (same && o.kind != Kind::Free && !o.retired && o.name == s) return n.object;
  }
  return kNone;
}

// Gives entry index this name; false when every name slot is taken.
bool AssignName(SharedTable& t, std::uint32_t index, const std::wstring& name) {
  for (std::uint32_t s = 0; s < kMaxNames; ++s) {
    NameSlot& n = t.names[s];
    if (n.length) continue;
    n.length = static_cast<std::uint32_t>(name.size());
    n.object = index;
    for (std::size_t c = 0; c < name.size(); ++c) n.text[c] = static_cast<std::uint32_t>(name[c]);
    t.objects[index].name = s;
    t.namesUsed = std::max(t.namesUsed, s + 1);
    return true;
  }
  return false;
}

void ForgetName(SharedTable& t, ObjectEntry& o) {
  if (o.name != kNone) t.names[o.name].length = 0;
  o.name = kNone;
}

}  // namespace

// ---- Small system helpers ----

bool ThreadAlive(std::int32_t pid, std::int32_t tid) {
  if (pid <= 0 || tid <= 0) return false;
  if (syscall(SYS_tgkill, pid, tid, 0) != 0 && errno != EPERM) return false;
  if (pid == getpid()) return true;
  const ProcStat s = ReadProcStat(pid);
  return s.exists && s.state != 'Z' && s.state != 'X';
}

int FutexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected, const timespec* deadline) {
  // Absolute CLOCK_MONOTONIC deadline: FUTEX_WAIT_BITSET without FUTEX_CLOCK_REALTIME.
  const long rc = syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_BITSET,
                          expected, deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
  if (rc == 0) return 0;
  if (errno == EAGAIN) return 0;
  return errno;
}

void FutexWake(std::atomic<std::uint32_t>& word, int count) {
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE, count, nullptr, nullptr,
          0);
}

timespec DeadlineAfter(DWORD milliseconds) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  now.tv_sec += static_cast<time_t>(milliseconds / 1000);
  now.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (now.tv_nsec >= 1000000000L) {
    now.tv_sec += 1;
    now.tv_nsec -= 1000000000L;
  }
  return now;
}

bool DieInThisGrant() {
  return g_dieInGrant.load(std::memory_order_relaxed) && g_dieInGrant.exchange(false);
}

std::uint32_t ProcessCapacity() {
  const std::uint32_t cap = g_processCap.load();
  return cap && cap < kMaxProcesses ? cap : kMaxProcesses;
}

std::uint32_t WaiterCapacity() {
  const std::uint32_t cap = g_waiterCap.load();
  return cap && cap < kMaxWaiters ? cap : kMaxWaiters;
}

// ---- The table ----

SharedTable* Table(DWORD* error) {
  SharedTable* t = g_table.load(std::memory_order_acquire);
  if (t && g_self.load(std::memory_order_acquire) != kNone) return t;
  LocalLock local;
  const DWORD failure = Attach();
  if (failure != ERROR_SUCCESS) {
    if (error) *error = failure;
    return nullptr;
  }
  return g_table.load();
}

std::uint32_t Self() { return g_self.load(std::memory_order_relaxed); }

TableLock::TableLock(SharedTable& table) : m_table(table) { LockTable(m_table); }

TableLock::~TableLock() { pthread_mutex_unlock(&m_table.lock); }

// ---- Entries ----

std::uint32_t AllocateObject(SharedTable& t, Kind kind) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    for (std::uint32_t i = 0; i < kMaxObjects; ++i) {
      ObjectEntry& o = t.objects[i];
      if (o.kind != Kind::Free) continue;
      const std::uint32_t next = (o.serial + 1) & kSerialMask;
      std::memset(static_cast<void*>(&o), 0, sizeof o);
      o.serial = next ? next : 1;
      o.kind = kind;
      o.name = kNone;
      o.ownerProcess = kNone;
      t.objectsUsed = std::max(t.objectsUsed, i + 1);
      return i;
    }
    ReclaimDeadProcesses(t);
  }
  return kNone;
}

void ReleaseIfUnused(SharedTable& t, std::uint32_t index) {
  ObjectEntry& o = t.objects[index];
  if (o.kind == Kind::Free || HasHolders(t, index) || o.pins) return;
  if (o.kind == Kind::Thread && o.running.load()) return;
  ForgetName(t, o);
  if (o.kind == Kind::Mutex && MutexOwnerAlive(o)) {
    // The owner's thread still links this mutex in its robust list: reusing
    // the memory now would corrupt that list. Keep the entry, nameless,
    // until the owner is gone.
    o.retired = 1;
    return;
  }
  o.kind = Kind::Free;
  o.retired = 0;
}

bool ProcessEntryAlive(const SharedTable& t, std::uint32_t p) {
  if (p == Self()) return true;
  const ProcessEntry& e = t.processes[p];
  return e.inUse && ProcessAlive(e.pid, e.startTime);
}

bool CheckProcess(SharedTable& t, std::uint32_t p) {
  if (ProcessEntryAlive(t, p)) return true;
  ReclaimProcess(t, p);
  return false;
}

void ReclaimDeadProcesses(SharedTable& t) {
  for (std::uint32_t p = 0; p < t.processesUsed; ++p)
    if (t.processes[p].inUse) CheckProcess(t, p);
  for (std::uint32_t i = 0; i < t.objectsUsed; ++i) {
    ObjectEntry& o = t.objects[i];
    if (o.kind == Kind::Mutex && o.retired && !MutexOwnerAlive(o)) o.kind = Kind::Free;
  }
}

bool Current(const SharedTable& t, std::uint32_t index, std::uint32_t serial) {
  const ObjectEntry& o = t.objects[index];
  return o.kind != Kind::Free && !o.retired && (o.serial & kSerialMask) == (serial & kSerialMask);
}

// ---- Handles ----

bool Resolve(HANDLE handle, HandleInfo* info) {
  std::atomic<std::uint64_t>* word = SlotWord(reinterpret_cast<std::uintptr_t>(handle));
  if (!word) return false;
  const std::uint64_t packed = word->load(std::memory_order_acquire);
  if (!(packed & kUsed)) return false;
  *info = Unpack(packed);
  return info->index < kMaxObjects;
}

LocalLock::LocalLock() { g_localMutex.lock(); }

LocalLock::~LocalLock() { g_localMutex.unlock(); }

std::uint32_t ReserveHandle() {
  for (std::uint32_t c = 0; c < kMaxChunks; ++c) {
    Chunk* chunk = g_chunks[c].load(std::memory_order_acquire);
    if (!chunk) {
      chunk = new (std::nothrow) Chunk();
      if (!chunk) return kNone;
      g_chunks[c].store(chunk, std::memory_order_release);
    }
    for (std::uint32_t s = 0; s < kChunkSize; ++s) {
      if (chunk->slots[s].load(std::memory_order_relaxed) != 0) continue;
      chunk->slots[s].store(kReserved, std::memory_order_relaxed);
      return c * kChunkSize + s;
    }
  }
  return kNone;
}

void UnreserveHandle(std::uint32_t slot) { SlotOf(slot).store(0, std::memory_order_release); }

HANDLE FillHandle(SharedTable& t, std::uint32_t slot, std::uint32_t index) {
  ObjectEntry& o = t.objects[index];
  if (g_localRefs[index]++ == 0) {
    g_localSerial[index] = o.serial;
    SetHolder(t, index, Self(), true);
  }
  SlotOf(slot).store(Pack(index, o.serial, o.kind), std::memory_order_release);
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(slot + 1) * 4);
}

HANDLE CreateObject(Kind kind, LPCWSTR name, InitObject init, const void* context) {
  std::wstring key;
  if (name && *name) {
    const std::size_t length = std::wcslen(name);
    if (length > kMaxNameLength) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return nullptr;
    }
    key.assign(name, length);
    // "Local\" is the namespace of names without a prefix.
    static const std::wstring kLocal = L"Local\\";
    if (key.compare(0, kLocal.size(), kLocal) == 0) {
      key.erase(0, kLocal.size());
      if (key.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
      }
    }
  }
  DWORD error = ERROR_SUCCESS;
  SharedTable* t = Table(&error);
  if (!t) {
    SetLastError(error);
    return nullptr;
  }

  LocalLock local;
  const std::uint32_t slot = ReserveHandle();
  if (slot == kNone) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  TableLock lock(*t);
  std::uint32_t index = kNone;
  if (!key.empty()) {
    index = FindNamed(*t, key);
    if (index != kNone) {
      // A name left behind by processes that died is no longer in use.
      for (std::uint32_t p = 0; p < t->processesUsed; ++p)
        if (IsHolder(*t, index, p)) CheckProcess(*t, p);
      index = FindNamed(*t, key);
    }
    if (index != kNone && t->objects[index].kind != kind) {
      UnreserveHandle(slot);
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
  }
  const bool existed = index != kNone;
  if (!existed) {
    index = AllocateObject(*t, kind);
    const bool named = index != kNone && (key.empty() || AssignName(*t, index, key));
    if (!named || (init && !init(t->objects[index], context))) {
      if (index != kNone) ReleaseIfUnused(*t, index);
      UnreserveHandle(slot);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
  }
  HANDLE handle = FillHandle(*t, slot, index);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

}  // namespace ostrel::platform::kernel

namespace ostrel::platform::testing {

namespace kernel = ostrel::platform::kernel;

unsigned long KernelObjectWaits(HANDLE object) {
  kernel::HandleInfo info;
  kernel::SharedTable* t = kernel::Resolve(object, &info) ? kernel::Table(nullptr) : nullptr;
  if (!t) return 0;
  kernel::TableLock lock(*t);
  return kernel::Current(*t, info.index, info.serial) ? t->objects[info.index].pins : 0;
}

void ForgetKernelObjectTable() {
  kernel::LocalLock local;
  if (kernel::SharedTable* t = kernel::g_table.load()) {
    if (kernel::g_self.load() != kernel::kNone) {
      kernel::TableLock lock(*t);
      kernel::ReclaimProcess(*t, kernel::g_self.load());
    }
    kernel::UnmapTable(kernel::g_mapped);
  }
  kernel::g_table.store(nullptr);
  kernel::g_self.store(kernel::kNone);
  for (std::uint32_t i = 0; i < kernel::kMaxObjects; ++i) {
    if (kernel::g_localRefs[i]) kernel::DropLocalHandles(i);
    kernel::g_localRefs[i] = 0;
  }
}

void CapKernelObjectTable(unsigned processes, unsigned waits) {
  kernel::g_processCap = processes;
  kernel::g_waiterCap = waits;
}

void BeforeNextHandleClose(void (*hook)()) { kernel::g_beforeClose = hook; }

void DieInNextGrant() { kernel::g_dieInGrant = true; }

}  // namespace ostrel::platform::testing

using namespace ostrel::platform::kernel;

BOOL CloseHandle(HANDLE hObject) {
  std::atomic<std::uint64_t>* word = SlotWord(reinterpret_cast<std::uintptr_t>(hObject));
  if (g_beforeClose.load(std::memory_order_relaxed))
    if (auto hook = g_beforeClose.exchange(nullptr)) hook();
  LocalLock local;
  // Decoded under the lock: a racing close may have freed the slot and a
  // creation reused it for another object since the caller looked.
  const std::uint64_t packed = word ? word->load(std::memory_order_acquire) : 0;
  if (!(packed & kUsed) || Unpack(packed).index >= kMaxObjects) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  word->store(0, std::memory_order_release);
  const HandleInfo info = Unpack(packed);
  if (--g_localRefs[info.index] == 0) {
    SharedTable& t = *g_table.load();
    TableLock lock(t);
    if (Current(t, info.index, info.serial) && Self() != kNone) {
      SetHolder(t, info.index, Self(), false);
      ReleaseIfUnused(t, info.index);
    }
  }
  return TRUE;
}
