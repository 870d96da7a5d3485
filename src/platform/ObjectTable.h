// Internal to the platform layer (never include it above src/platform): the
// per-user table of kernel objects that every process of the user maps, and
// this process's handles into it.
//
// The table is one file, <folder>/objects-v<kLayoutVersion>, mapped shared by
// every process (the folder: ObjectTableFile.cpp). One robust process-shared
// mutex (TableLock) guards every field not marked otherwise. Blocking never
// happens under that lock: a waiting thread registers a Waiter entry and
// sleeps on the futex word in it; whoever changes an object's state grants
// the waiters it satisfies (GrantWaiters, in FIFO order), so the decision
// which waiter an auto-reset signal or a pulse releases is taken atomically
// with the change. Named mutexes are robust, recursive, process-shared
// pthread mutexes inside their entries, so the kernel hands a dead owner's
// mutex to the next waiter; a thread made by CreateThread gives up the
// mutexes it still owns, marked abandoned, before its handle is signalled.
// A wait for a mutex is recorded as a Waiter too, so that a waiting process
// that dies leaves nothing behind.
//
// Processes register themselves (pid and start time, so a reused pid is not
// taken for the old process). An object's entry records which processes
// hold handles to it; entries of processes found dead are reclaimed when a
// process registers, when a name is looked up and when an entry is needed.
//
// Capacity, for all processes of one user together. A browser window costs
// two objects of its own (its list's update thread and that thread's quit
// event), opens the five named objects every window shares, and has at most
// two waits at a time (the update thread's wait between cycles, and a wait
// of the window's thread for the registry or local-file mutex); a browser
// may run every window in a process of its own. The limits below hold over
// 2,000 windows with room to spare. Running out of any of them fails the
// one call that needed more with ERROR_NOT_ENOUGH_MEMORY (a process that
// cannot register fails its calls until an entry frees up); nothing waits
// for room and nothing ends the process.
//
// Lock order: the process-local handle lock (LocalLock) before TableLock.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>

#include "platform/WinTypes.h"

namespace ostrel::platform::kernel {

constexpr std::uint32_t kLayoutVersion =
    2;  // part of the file's name: raise it with any change below
constexpr std::uint32_t kMaxObjects = 8192;    // events, mutexes and threads alive at once
constexpr std::uint32_t kMaxNames = 1024;      // of those, objects with a name
constexpr std::uint32_t kMaxProcesses = 4096;  // processes using kernel objects at once
constexpr std::uint32_t kMaxWaiters = 8192;    // waits in progress at once, mutex waits included
constexpr std::uint32_t kMaxNameLength = 260;  // MAX_PATH, as for Windows object names
constexpr std::uint32_t kMaxWaitObjects = 64;
constexpr std::uint32_t kNone = 0xFFFFFFFFu;

enum class Kind : std::uint32_t { Free = 0, Event = 1, Mutex = 2, Thread = 3 };

struct ProcessEntry {
  std::uint32_t inUse;
  std::int32_t pid;
  std::uint64_t startTime;  // clock ticks after boot (/proc/<pid>/stat), 0 when unknown
};

struct ObjectEntry {
  Kind kind;
  std::uint32_t serial;   // changes at every allocation, so a stale handle is detected
  std::uint32_t pins;     // waits in progress on this entry; it is not freed while > 0
  std::uint32_t retired;  // mutex whose last handle closed while a live thread owned it
  std::uint32_t name;     // slot in SharedTable::names, kNone when unnamed

  // Events and threads. A thread is signalled from its end on.
  std::uint32_t signalled;
  std::uint32_t manualReset;

  // Threads. The atomics are read without TableLock.
  std::uint32_t ownerProcess;          // process entry that runs the thread
  std::atomic<std::uint32_t> running;  // 1 until the routine returned
  std::uint32_t exitCode;              // valid once running is 0
  std::atomic<std::int32_t> priority;
  std::atomic<std::uint32_t> tid;           // futex: 0 until the new thread published its id
  std::atomic<std::uint32_t> suspendCount;  // futex: the thread parks while it is above 0
  std::atomic<std::uint32_t> parkSeq;       // futex: bumped when the thread parks or ends

  // Mutexes. ownerPid/ownerTid/recursion mirror the pthread mutex's owner;
  // only the owner writes them (recursion only the owner reads). abandoned
  // is set by an ending thread before it unlocks, read and cleared by the
  // next owner: both under the pthread mutex.
  pthread_mutex_t mutex;
  std::atomic<std::int32_t> ownerPid;
  std::atomic<std::int32_t> ownerTid;
  std::uint32_t recursion;
  std::uint32_t abandoned;
};

struct NameSlot {
  std::uint32_t length;  // 0: free
  std::uint32_t object;  // the entry that bears the name
  std::uint32_t text[kMaxNameLength];
};

struct Waiter {
  std::uint32_t inUse;
  std::uint32_t process;
  std::uint32_t forMutex;  // a mutex wait: only recorded, never granted
  std::uint32_t waitAll;
  std::uint64_t sequence;  // arrival order; grants go to the earliest waiter first
  std::uint32_t count;
  std::uint32_t objects[kMaxWaitObjects];
  std::atomic<std::uint32_t> granted;  // futex: 0 while waiting, 1 once result is set
  std::uint32_t result;
};

struct TableHeader {
  std::uint32_t magic;   // written last by the initialiser
  std::uint32_t layout;  // sizeof(SharedTable)
  // The kernel's boot id at initialisation. A table from an earlier boot (a
  // folder on disk survives reboots) may hold locks of processes the kernel
  // never marked dead, so it is started afresh.
  char bootId[40];
};

struct SharedTable {
  TableHeader header;
  pthread_mutex_t lock;
  std::uint64_t nextSequence;
  // One past the highest entry ever used: scans stop there.
  std::uint32_t processesUsed;
  std::uint32_t waitersUsed;
  std::uint32_t objectsUsed;
  std::uint32_t namesUsed;
  ProcessEntry processes[kMaxProcesses];
  Waiter waiters[kMaxWaiters];
  ObjectEntry objects[kMaxObjects];
  NameSlot names[kMaxNames];
  std::uint64_t holders[kMaxObjects][kMaxProcesses / 64];  // bit p: process entry p holds a handle
};

// ---- The table file (ObjectTableFile.cpp) ----

// The private per-user folder of the table, created when missing: in
// $XDG_RUNTIME_DIR, else in the user's cache folder; empty when it is not
// owned by the user or is open to others.
std::string ResolveFolder();

struct MappedTable {
  SharedTable* table = nullptr;
  int fd = -1;  // kept open: it marks the file as in use for as long as this process lives
};

// Opens (creating or starting afresh when needed) and maps the table in the
// folder. A file of another size or layout that no live process uses is
// renamed aside, kept, and a fresh table started; one that live processes
// use fails with ERROR_INVALID_DATA. Other failures: ERROR_ACCESS_DENIED
// (unsafe folder or file), ERROR_NOT_ENOUGH_MEMORY (no room for the file).
DWORD MapTable(const std::string& folder, MappedTable* out);
void UnmapTable(MappedTable& mapped);

// ---- The table ----

// The table, opened and this process registered at first use; null with
// *error set when that is impossible (unsafe folder, table of another layout
// in use, no room). A failed open or registration is tried again later.
SharedTable* Table(DWORD* error);

// This process's entry (valid once Table succeeded).
std::uint32_t Self();

// Holds TableLock; recovers the table when a process died holding it.
class TableLock {
 public:
  explicit TableLock(SharedTable& table);
  ~TableLock();
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

 private:
  SharedTable& m_table;
};

// ---- Entries (TableLock held) ----

// A fresh entry of this kind, unnamed and unreferenced; kNone when the table
// is full even after reclaiming dead processes.
std::uint32_t AllocateObject(SharedTable& t, Kind kind);

// Frees the entry when no process holds it, no wait is pinned on it and, for
// a thread, the thread has ended.
void ReleaseIfUnused(SharedTable& t, std::uint32_t index);

// Reclaims every registered process that is no longer alive.
void ReclaimDeadProcesses(SharedTable& t);

// Whether process entry p still names a live process; reclaims it if not.
bool CheckProcess(SharedTable& t, std::uint32_t p);

// Whether process entry p names a live process, without reclaiming it.
bool ProcessEntryAlive(const SharedTable& t, std::uint32_t p);

// Whether the handle's entry is still the object it was opened for.
bool Current(const SharedTable& t, std::uint32_t index, std::uint32_t serial);

// ---- Handles of this process ----

struct HandleInfo {
  std::uint32_t index;
  std::uint32_t serial;
  Kind kind;
};

// Decodes a handle without locking; false for null, closed or foreign values.
bool Resolve(HANDLE handle, HandleInfo* info);

// Holds the process-local handle lock (taken before TableLock).
class LocalLock {
 public:
  LocalLock();
  ~LocalLock();
  LocalLock(const LocalLock&) = delete;
  LocalLock& operator=(const LocalLock&) = delete;
};

// Handle slots are reserved (LocalLock held) before the table is touched, so
// that nothing must be undone there when this process has too many handles.
// ReserveHandle returns kNone when it has; FillHandle (TableLock held too)
// makes the slot a handle to entry index and counts this process as holder.
std::uint32_t ReserveHandle();
void UnreserveHandle(std::uint32_t slot);
HANDLE FillHandle(SharedTable& t, std::uint32_t slot, std::uint32_t index);

// Opens or creates a named object, or creates an unnamed one (name null or
// empty). init prepares a new entry (TableLock held) and may fail. Sets the
// last error to ERROR_ALREADY_EXISTS or ERROR_SUCCESS on success.
using InitObject = bool (*)(ObjectEntry& entry, const void* context);
HANDLE CreateObject(Kind kind, LPCWSTR name, InitObject init, const void* context);

// ---- Waits (Wait.cpp; TableLock held) ----

// Records a wait of this process on the objects and pins them; kNone when
// no waiter entry is free even after reclaiming dead processes.
std::uint32_t AddWaiter(SharedTable& t, const std::uint32_t* objects, std::uint32_t count, bool all,
                        bool forMutex);

// Ends a recorded wait and unpins its objects.
void RemoveWaiter(SharedTable& t, std::uint32_t slot);

// Grants, in arrival order, the waiters that the object's current state
// satisfies; called after an object became signalled.
void GrantWaiters(SharedTable& t, std::uint32_t index);

// Removes the waits of a dead process.
void DropWaitersOf(SharedTable& t, std::uint32_t process);

// ---- Mutexes (Mutex.cpp) ----

// Initialises the pthread mutex of a new mutex entry (TableLock held).
bool InitMutex(ObjectEntry& entry);

// WaitForSingleObject on a mutex.
DWORD AcquireMutex(SharedTable& t, const HandleInfo& handle, DWORD milliseconds);

// Whether a thread still owns the entry's mutex (so it must not be reused).
bool MutexOwnerAlive(const ObjectEntry& entry);

// Gives up every mutex the calling thread owns, marked abandoned for the
// next owner (TableLock held; the thread is about to end).
void AbandonMutexesOfThisThread(SharedTable& t);

// ---- Threads (Thread.cpp; TableLock held) ----

// Marks a thread ended with this exit code and releases its waiters.
void EndThreadEntry(SharedTable& t, std::uint32_t index, DWORD exitCode);

// ---- Test seams (Testing.h) seen from inside ----

// True once after testing::DieInNextGrant.
bool DieInThisGrant();

// The process entries and waiter entries this process may use: the full
// table unless a test capped them (testing::CapKernelObjectTable).
std::uint32_t ProcessCapacity();
std::uint32_t WaiterCapacity();

// ---- Small system helpers ----

// The caller's kernel thread id and process id, asked of the kernel once
// per thread (a system call costs a microsecond on some virtual machines,
// and taking and giving back a mutex needs both twice); a forked child's
// thread asks again.
std::int32_t CurrentTid();
std::int32_t CurrentPid();

// Whether thread tid of process pid still runs (a zombie process counts as gone).
bool ThreadAlive(std::int32_t pid, std::int32_t tid);

// Futex operations on a word of the shared table. FutexWait returns 0 when
// woken (or the word differed), ETIMEDOUT at the deadline, EINTR on a signal.
int FutexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected, const timespec* deadline);
void FutexWake(std::atomic<std::uint32_t>& word, int count);

// The CLOCK_MONOTONIC time milliseconds from now.
timespec DeadlineAfter(DWORD milliseconds);

}  // namespace ostrel::platform::kernel
