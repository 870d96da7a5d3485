// Runtime support: the system's wrappers of the platform's kernel objects.
// CKernelObj owns one handle and closes it when destroyed. CEvent and CMutex
// create, or open when the name already exists in any process of the user,
// an event or mutex, naming it by CSyncObject::MakeName; CThread owns a
// thread and its quit event; CWaitSingleObj and CWaitMultiObj wait on them.
// Creation failures raise CException; waits, signals and releases report
// the platform's results and never raise. The classes add no locking: each
// is as thread-safe as the platform calls it makes.
//
// Scoped locks, which release on every path (exceptions included):
// CCriticalSectionLock for a CCriticalSection (the threads of one process,
// such as a phish list and its update thread); CMutexLock for a CMutex
// (named mutexes shared by all processes: the update, local-file and
// registry mutexes). A CMutex held from one call to another (the local
// database file, open from Open to Close) uses Lock and Unlock directly.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Handle.h"
#include "platform/Mutex.h"
#include "platform/Thread.h"
#include "platform/Wait.h"

// Owns one kernel handle (null when none), closed on destruction.
class CKernelObj {
 public:
  explicit CKernelObj(HANDLE handle = nullptr);
  CKernelObj(const CKernelObj&) = delete;
  CKernelObj& operator=(const CKernelObj&) = delete;
  virtual ~CKernelObj();

  HANDLE GetHandle() const;

  // True when waiting up to timeout milliseconds ends with WAIT_OBJECT_0
  // (an abandoned mutex gives false, though the caller then owns it).
  bool Wait(DWORD timeout);
  bool IsSignalled();  // Wait(0)

 protected:
  HANDLE m_handle;
};

// A named or unnamed event or mutex.
class CSyncObject : public CKernelObj {
 public:
  ~CSyncObject() override;

  // The name handed to the platform: unchanged unless global is set, the
  // name is not empty and does not begin with "Global\" or "Local\"; then
  // "Global\" + name on platform major version 5, unchanged on any other.
  // Only that case queries the version; a failed query raises.
  static std::wstring MakeName(const std::wstring& name, bool global);

 protected:
  CSyncObject();
};

class CEvent : public CSyncObject {
 public:
  // An empty name makes an unnamed event; an existing name opens that event
  // (its reset mode and state stay as they are).
  explicit CEvent(bool initialState = false, bool manualReset = false,
                  const std::wstring& name = std::wstring(), bool global = false,
                  LPSECURITY_ATTRIBUTES attributes = nullptr);
  ~CEvent() override;

  BOOL Set();
  BOOL Pulse();
  BOOL Reset();
};

class CMutex : public CSyncObject {
 public:
  // An existing name opens that mutex without taking it.
  explicit CMutex(bool initiallyOwned = false, const std::wstring& name = std::wstring(),
                  bool global = false, LPSECURITY_ATTRIBUTES attributes = nullptr);
  ~CMutex() override;

  // The platform's wait result unchanged: WAIT_OBJECT_0, WAIT_ABANDONED
  // (owned too: the previous owner died), WAIT_TIMEOUT or WAIT_FAILED.
  DWORD Lock(DWORD timeout = INFINITE);
  BOOL Unlock();
};

// A recursive lock among the threads of one process.
class CCriticalSection {
 public:
  CCriticalSection();
  CCriticalSection(const CCriticalSection&) = delete;
  CCriticalSection& operator=(const CCriticalSection&) = delete;
  virtual ~CCriticalSection();

  void Enter();
  void Leave();

 private:
  CRITICAL_SECTION m_section;
  LPCRITICAL_SECTION m_pSection;  // every operation goes through it
};

// A thread and its quit event (unnamed, manual reset, non-signalled), which
// the thread's routine waits on to learn that it should end. Destruction
// neither signals nor waits: owners call Stop first, and a routine still
// running then must not touch the quit event any more.
class CThread : public CKernelObj {
 public:
  CThread(LPTHREAD_START_ROUTINE start, LPVOID parameter, int priority = THREAD_PRIORITY_NORMAL,
          SIZE_T stackSize = 0, DWORD creationFlags = 0,
          LPSECURITY_ATTRIBUTES attributes = nullptr);
  ~CThread() override;

  bool Start();    // ResumeThread succeeded
  bool Suspend();  // SuspendThread succeeded
  BOOL SetPriority(int priority);
  int GetPriority();
  CEvent& GetQuitEvent();
  DWORD GetThreadId() const;

  // Signals the quit event and waits up to timeout for the thread to end.
  // The wait result becomes 1 when it ended, 0 when not (or the wait
  // failed), -1 when the quit event could not be signalled (nothing waited).
  // After a wait, the exit code is GetExitCodeThread's (STILL_ACTIVE while
  // the thread runs), -1 when that query fails.
  void Stop(DWORD timeout);
  DWORD GetWaitResult() const;  // -1 until Stop
  DWORD GetExitCode() const;    // -1 until Stop

 private:
  DWORD m_threadId;
  DWORD m_waitResult;
  DWORD m_exitCode;
  CEvent m_quitEvent;  // built before the thread, destroyed before its handle closes
};

// A wait on one object: a CKernelObj the caller keeps, or a handle that this
// object takes over (and closes when destroyed).
class CWaitSingleObj {
 public:
  CWaitSingleObj(CKernelObj& object, DWORD timeout);
  CWaitSingleObj(HANDLE handle, DWORD timeout);
  CWaitSingleObj(const CWaitSingleObj&) = delete;
  CWaitSingleObj& operator=(const CWaitSingleObj&) = delete;
  virtual ~CWaitSingleObj();

  DWORD Wait();
  static DWORD Wait(CKernelObj& object, DWORD timeout);  // WaitForSingleObject

 private:
  std::unique_ptr<CKernelObj> m_owned;  // set in the handle form
  CKernelObj& m_object;
  DWORD m_timeout;
};

// A wait on several objects, in the order added; the objects stay the
// caller's. A null entry keeps its index but passes a null handle, which the
// platform refuses (WAIT_FAILED); with no entries, or only null ones,
// nothing is waited on and the result is WAIT_FAILED (0xFFFFFFFF) without a
// platform call.
class CWaitMultiObj {
 public:
  CWaitMultiObj();
  CWaitMultiObj(const CWaitMultiObj&) = delete;
  CWaitMultiObj& operator=(const CWaitMultiObj&) = delete;
  virtual ~CWaitMultiObj();

  void Add(CKernelObj* object);
  DWORD WaitAny(DWORD timeout);  // Wait(false, timeout)
  DWORD WaitAll(DWORD timeout);  // Wait(true, timeout)
  DWORD Wait(bool all, DWORD timeout);

 private:
  std::vector<CKernelObj*> m_objects;
};

// Holds a CCriticalSection from construction to destruction.
class CCriticalSectionLock {
 public:
  explicit CCriticalSectionLock(CCriticalSection& section);
  CCriticalSectionLock(const CCriticalSectionLock&) = delete;
  CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;
  virtual ~CCriticalSectionLock();

 private:
  CCriticalSection& m_section;
};

// Holds a CMutex, waited for without a time limit, from construction to
// destruction. An abandoned mutex is held all the same (the previous owner
// died; IsAbandoned says so). Should the wait fail, nothing is held and
// nothing is released. With a cancel event, the wait also ends, holding
// nothing (WAIT_TIMEOUT), once that event is signalled: the platform's
// mutexes cannot join a multi-object wait, so the mutex is waited for in
// slices of 100 ms with the event tested between them.
class CMutexLock {
 public:
  explicit CMutexLock(CMutex& mutex);
  CMutexLock(CMutex& mutex, CKernelObj& cancel);
  CMutexLock(const CMutexLock&) = delete;
  CMutexLock& operator=(const CMutexLock&) = delete;
  virtual ~CMutexLock();

  DWORD GetWaitResult() const;
  bool Owns() const;
  bool IsAbandoned() const;

 private:
  CMutex& m_mutex;
  DWORD m_waitResult;
};
