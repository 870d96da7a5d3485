// The shared object table: its folder and file, process registration and
// reclaim, entry allocation, and this process's handles (see ObjectTable.h).
#include "platform/ObjectTable.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

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
#include "platform/Thread.h"
#include "platform/WinError.h"

namespace ostrel::platform::kernel {
namespace {

constexpr std::uint32_t kMagic = 0x4B4F424Au;  // "KOBJ"
constexpr std::uint32_t kLayout = static_cast<std::uint32_t>(sizeof(SharedTable));
constexpr const char* kTableFile = "objects-v1";

// ---- Folder ----

// Opens path as a directory owned by this user and closed to everyone else.
int OpenPrivateDir(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & 077) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The folder the table lives in: $XDG_RUNTIME_DIR/ostrel; without that
// variable, the session's /run/user/<uid>/ostrel when that folder is the
// user's own, else /tmp/ostrel-<uid>. Every process of the user resolves the
// same path from the same session.
std::string FolderPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') return std::string(runtime) + "/ostrel";
  const std::string uid = std::to_string(geteuid());
  const std::string session = "/run/user/" + uid;
  const int fd = OpenPrivateDir(session);
  if (fd >= 0) {
    close(fd);
    return session + "/ostrel";
  }
  return "/tmp/ostrel-" + uid;
}

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

bool g_procAvailable = true;  // set once at open: whether /proc tells about processes

bool ProcessAlive(pid_t pid, std::uint64_t startTime) {
  if (!g_procAvailable) return kill(pid, 0) == 0 || errno == EPERM;
  const ProcStat s = ReadProcStat(pid);
  if (!s.exists) return false;
  if (s.state == 'Z' || s.state == 'X') return false;  // its robust mutexes are already released
  return startTime == 0 || s.startTime == startTime;
}

// ---- This process's view ----

SharedTable* g_table = nullptr;
DWORD g_openError = ERROR_SUCCESS;
std::uint32_t g_self = kNone;
std::once_flag g_openOnce;

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

std::mutex g_localMutex;
// Guarded by g_localMutex: handles of this process per entry, and the serial
// they were opened for.
std::uint32_t g_localRefs[kMaxObjects];
std::uint32_t g_localSerial[kMaxObjects];

std::uint64_t Pack(std::uint32_t index, std::uint32_t serial, Kind kind) {
  return kUsed | (static_cast<std::uint64_t>(kind) & 3) << 61 |
         static_cast<std::uint64_t>(serial & kSerialMask) << 32 | index;
}

std::atomic<std::uint64_t>* SlotWord(std::uint32_t slot) {
  Chunk* chunk = g_chunks[slot / kChunkSize].load(std::memory_order_acquire);
  return chunk ? &chunk->slots[slot % kChunkSize] : nullptr;
}

// Forgets every handle of this process to entry index (single-threaded use).
void DropLocalHandles(std::uint32_t index) {
  for (std::uint32_t c = 0; c < kMaxChunks; ++c) {
    Chunk* chunk = g_chunks[c].load(std::memory_order_acquire);
    if (!chunk) continue;
    for (std::atomic<std::uint64_t>& word : chunk->slots) {
      const std::uint64_t packed = word.load(std::memory_order_relaxed);
      if ((packed & kUsed) && (packed & 0xFFFFFFFFu) == index) word.store(0);
    }
  }
}

void SetHolder(ObjectEntry& o, std::uint32_t p, bool on) {
  const std::uint64_t bit = 1ull << (p % 64);
  if (on)
    o.holders[p / 64] |= bit;
  else
    o.holders[p / 64] &= ~bit;
}

bool HasHolders(const ObjectEntry& o) {
  for (std::uint64_t word : o.holders)
    if (word) return true;
  return false;
}

void Lock(SharedTable& t) {
  const int rc = pthread_mutex_lock(&t.lock);
  // A process died inside an update. Updates are short and keep the table
  // usable at every step, so carry on.
  if (rc == EOWNERDEAD) pthread_mutex_consistent(&t.lock);
}

// Registers this process in a free entry; reclaims the dead first.
bool Register(SharedTable& t) {
  ReclaimDeadProcesses(t);
  for (std::uint32_t p = 0; p < kMaxProcesses; ++p) {
    ProcessEntry& e = t.processes[p];
    if (e.inUse) continue;
    e.inUse = 1;
    e.pid = getpid();
    e.startTime = g_procAvailable ? ReadProcStat(getpid()).startTime : 0;
    g_self = p;
    return true;
  }
  return false;
}

// fork: the child is a new process with copies of the parent's handles. It
// registers itself and becomes a holder of every object those handles name,
// so the objects outlive the parent's handles as they would on Windows.
void BeforeFork() { g_localMutex.lock(); }
void AfterForkInParent() { g_localMutex.unlock(); }
void AfterForkInChild() {
  g_localMutex.unlock();
  if (!g_table) return;
  SharedTable& t = *g_table;
  Lock(t);
  g_self = kNone;
  if (Register(t)) {
    for (std::uint32_t i = 0; i < kMaxObjects; ++i) {
      if (!g_localRefs[i]) continue;
      if (Current(t, i, g_localSerial[i])) {
        SetHolder(t.objects[i], g_self, true);
      } else {
        // The parent closed its last handle before this child registered:
        // the object is gone, and so are the copies of its handles.
        DropLocalHandles(i);
        g_localRefs[i] = 0;
      }
    }
  } else {
    g_openError = ERROR_NOT_ENOUGH_MEMORY;
  }
  pthread_mutex_unlock(&t.lock);
}

// The kernel's id of this boot, or all zeros when it cannot be read.
void ReadBootId(char (&id)[40]) {
  std::memset(id, 0, sizeof id);
  const int fd = open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  const ssize_t n = read(fd, id, sizeof id - 1);
  close(fd);
  if (n <= 0) std::memset(id, 0, sizeof id);
}

void Initialise(SharedTable* t, const char (&bootId)[40]) {
  std::memset(static_cast<void*>(t), 0, sizeof(SharedTable));
  std::memcpy(t->bootId, bootId, sizeof t->bootId);
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutex_init(&t->lock, &attr);
  pthread_mutexattr_destroy(&attr);
  t->layout = kLayout;
  __atomic_store_n(&t->magic, kMagic, __ATOMIC_RELEASE);
}

// Maps the table file, initialising it under an exclusive file lock when no
// complete table is there yet (a creator that died half-way left no magic).
DWORD MapTable(int dirfd, SharedTable** out) {
  const int fd = openat(dirfd, kTableFile, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return ERROR_ACCESS_DENIED;
  DWORD error = ERROR_SUCCESS;
  void* map = MAP_FAILED;
  struct stat st;
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & 077) != 0) {
    error = ERROR_ACCESS_DENIED;
  } else if (st.st_size != 0 && st.st_size != static_cast<off_t>(sizeof(SharedTable))) {
    error = ERROR_INVALID_DATA;  // another layout: never reinterpret it
  } else if (st.st_size == 0 && ftruncate(fd, sizeof(SharedTable)) != 0) {
    error = ERROR_NOT_ENOUGH_MEMORY;
  } else {
    map = mmap(nullptr, sizeof(SharedTable), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
      error = ERROR_NOT_ENOUGH_MEMORY;
    } else {
      auto* t = static_cast<SharedTable*>(map);
      char bootId[40];
      ReadBootId(bootId);
      if (__atomic_load_n(&t->magic, __ATOMIC_ACQUIRE) != kMagic || t->layout != kLayout ||
          std::memcmp(t->bootId, bootId, sizeof bootId) != 0)
        Initialise(t, bootId);
      *out = t;
    }
  }
  flock(fd, LOCK_UN);
  close(fd);
  return error;
}

void Open() {
  g_procAvailable = ReadProcStat(getpid()).exists;
  const std::string folder = ResolveFolder();
  if (folder.empty()) {
    g_openError = ERROR_ACCESS_DENIED;
    return;
  }
  const int dirfd = OpenPrivateDir(folder);
  if (dirfd < 0) {
    g_openError = ERROR_ACCESS_DENIED;
    return;
  }
  SharedTable* t = nullptr;
  g_openError = MapTable(dirfd, &t);
  close(dirfd);
  if (!t) return;
  Lock(*t);
  const bool registered = Register(*t);
  pthread_mutex_unlock(&t->lock);
  if (!registered) {
    g_openError = ERROR_NOT_ENOUGH_MEMORY;
    return;
  }
  pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild);
  g_table = t;
}

// Finds a live object of this name; kNone when there is none.
std::uint32_t FindNamed(const SharedTable& t, const std::wstring& name) {
  for (std::uint32_t i = 0; i < kMaxObjects; ++i) {
    const ObjectEntry& o = t.objects[i];
    if (o.kind == Kind::Free || o.retired || o.nameLength != name.size()) continue;
    bool same = true;
    for (std::size_t c = 0; c < name.size() && same; ++c)
      same = o.name[c] == static_cast<std::uint32_t>(name[c]);
    if (same) return i;
  }
  return kNone;
}

void ReclaimProcess(SharedTable& t, std::uint32_t p) {
  DropWaitersOf(t, p);
  for (std::uint32_t i = 0; i < kMaxObjects; ++i) {
    ObjectEntry& o = t.objects[i];
    if (o.kind == Kind::Free) continue;
    bool touched = false;
    if (o.holders[p / 64] & (1ull << (p % 64))) {
      SetHolder(o, p, false);
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

}  // namespace

// ---- Small system helpers ----

std::int32_t CurrentTid() { return static_cast<std::int32_t>(syscall(SYS_gettid)); }

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

// ---- The table ----

std::string ResolveFolder() {
  const std::string path = FolderPath();
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return std::string();
  const int fd = OpenPrivateDir(path);
  if (fd < 0) return std::string();
  close(fd);
  return path;
}

SharedTable* Table(DWORD* error) {
  std::call_once(g_openOnce, Open);
  if (!g_table || g_self == kNone) {
    if (error) *error = g_openError != ERROR_SUCCESS ? g_openError : ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  return g_table;
}

std::uint32_t Self() { return g_self; }

TableLock::TableLock(SharedTable& table) : m_table(table) { Lock(m_table); }

TableLock::~TableLock() { pthread_mutex_unlock(&m_table.lock); }

// ---- Entries ----

std::uint32_t AllocateObject(SharedTable& t, Kind kind) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    for (std::uint32_t i = 0; i < kMaxObjects; ++i) {
      ObjectEntry& o = t.objects[i];
      if (o.kind != Kind::Free) continue;
      const std::uint32_t serial = ((o.serial + 1) & kSerialMask) ? ((o.serial + 1) & kSerialMask) : 1;
      std::memset(static_cast<void*>(&o), 0, sizeof o);
      o.serial = serial;
      o.kind = kind;
      o.ownerProcess = kNone;
      return i;
    }
    ReclaimDeadProcesses(t);
  }
  return kNone;
}

void ReleaseIfUnused(SharedTable& t, std::uint32_t index) {
  ObjectEntry& o = t.objects[index];
  if (o.kind == Kind::Free || HasHolders(o) || o.pins) return;
  if (o.kind == Kind::Thread && o.running.load()) return;
  if (o.kind == Kind::Mutex && MutexOwnerAlive(o)) {
    // The owner's thread still links this mutex in its robust list: reusing
    // the memory now would corrupt that list. Forget the name, keep the entry
    // until the owner is gone.
    o.retired = 1;
    o.nameLength = 0;
    return;
  }
  o.kind = Kind::Free;
  o.nameLength = 0;
  o.retired = 0;
}

bool CheckProcess(SharedTable& t, std::uint32_t p) {
  if (p == g_self) return true;
  const ProcessEntry& e = t.processes[p];
  if (e.inUse && ProcessAlive(e.pid, e.startTime)) return true;
  ReclaimProcess(t, p);
  return false;
}

void ReclaimDeadProcesses(SharedTable& t) {
  for (std::uint32_t p = 0; p < kMaxProcesses; ++p)
    if (t.processes[p].inUse) CheckProcess(t, p);
  for (std::uint32_t i = 0; i < kMaxObjects; ++i) {
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
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (value == 0 || value % 4 != 0 || value / 4 > kChunkSize * kMaxChunks) return false;
  std::atomic<std::uint64_t>* word = SlotWord(static_cast<std::uint32_t>(value / 4 - 1));
  if (!word) return false;
  const std::uint64_t packed = word->load(std::memory_order_acquire);
  if (!(packed & kUsed)) return false;
  info->index = static_cast<std::uint32_t>(packed & 0xFFFFFFFFu);
  info->serial = static_cast<std::uint32_t>(packed >> 32) & kSerialMask;
  info->kind = static_cast<Kind>((packed >> 61) & 3);
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

void UnreserveHandle(std::uint32_t slot) { SlotWord(slot)->store(0, std::memory_order_release); }

HANDLE FillHandle(SharedTable& t, std::uint32_t slot, std::uint32_t index) {
  ObjectEntry& o = t.objects[index];
  if (g_localRefs[index]++ == 0) {
    g_localSerial[index] = o.serial;
    SetHolder(o, g_self, true);
  }
  SlotWord(slot)->store(Pack(index, o.serial, o.kind), std::memory_order_release);
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
      ObjectEntry& o = t->objects[index];
      for (std::uint32_t p = 0; p < kMaxProcesses; ++p)
        if (o.holders[p / 64] & (1ull << (p % 64))) CheckProcess(*t, p);
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
    if (index == kNone) {
      UnreserveHandle(slot);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    ObjectEntry& o = t->objects[index];
    o.nameLength = static_cast<std::uint32_t>(key.size());
    for (std::size_t c = 0; c < key.size(); ++c) o.name[c] = static_cast<std::uint32_t>(key[c]);
    if (init && !init(o, context)) {
      ReleaseIfUnused(*t, index);
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

std::string KernelObjectFolder() { return kernel::ResolveFolder(); }

unsigned long KernelObjectWaits(HANDLE object) {
  kernel::HandleInfo info;
  kernel::SharedTable* t = kernel::Resolve(object, &info) ? kernel::Table(nullptr) : nullptr;
  if (!t) return 0;
  kernel::TableLock lock(*t);
  return kernel::Current(*t, info.index, info.serial) ? t->objects[info.index].pins : 0;
}

}  // namespace ostrel::platform::testing

using namespace ostrel::platform::kernel;

BOOL CloseHandle(HANDLE hObject) {
  HandleInfo info;
  if (!Resolve(hObject, &info)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  LocalLock local;
  const auto value = reinterpret_cast<std::uintptr_t>(hObject);
  std::atomic<std::uint64_t>* word = SlotWord(static_cast<std::uint32_t>(value / 4 - 1));
  std::uint64_t packed = word->load(std::memory_order_acquire);
  // Another thread may have closed it since Resolve.
  if (!(packed & kUsed) || !word->compare_exchange_strong(packed, 0)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (--g_localRefs[info.index] == 0) {
    SharedTable& t = *g_table;
    TableLock lock(t);
    if (Current(t, info.index, info.serial) && g_self != kNone) {
      SetHolder(t.objects[info.index], g_self, false);
      ReleaseIfUnused(t, info.index);
    }
  }
  return TRUE;
}
