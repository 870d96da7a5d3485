// CPhishList: the memory-resident phish list of one browser window. Its
// entries, lookups and loading are CPhishListEntries'; this class adds
// loading from the local database file (at creation or on demand) and owns
// the kernel objects and the thread of the list's update service
// (update/AutoUpdate.cpp), which runs from the end of construction to the
// start of destruction. Two threads use a list: the browser window's
// (lookups) and its update thread (update cycles); the entries' lock keeps
// lookups from seeing a half-loaded list.
// Lock order: update mutex, then the list's lock, then the local file's.
#pragma once

#include "phishlist/PhishListEntries.h"
#include "support/KernelObjects.h"

class CPhishList : public CPhishListEntries {
 public:
  // Raises CException when a kernel object or the thread cannot be created,
  // and passes on a failure of the load at creation (no list then exists).
  CPhishList();
  ~CPhishList() override;

  // Loads from the local database file unless a load has completed.
  void EnsureLoaded();
  // Loads from the local database file; nothing changes when it cannot be
  // opened.
  void LoadFromLocalDB();

  void StartAutoUpdate();
  void StopAutoUpdate();

  // The update service (update/AutoUpdate.cpp): the thread's routine, the
  // service, its loop (one cycle at once, then one whenever the poll
  // interval passes, another list announces a download or a manual update
  // is asked for, until the quit event), and one update cycle. Nothing
  // raised in a cycle leaves it, and the update mutex is always released.
  static DWORD AutoUpdateThreadProc(LPVOID list);
  static DWORD RunAutoUpdateService(CPhishList* list);
  DWORD AutoUpdateLoop();
  void PerformAutoUpdate();

 private:
  CMutex m_updateMutex;         // one update cycle at a time, all processes
  CEvent m_updateDoneEvent;     // pulsed after a download; every list waits on it
  CEvent m_manualUpdateEvent;   // signalled by the configuration dialog
  CThread m_updateThread;       // created suspended; runs AutoUpdateThreadProc

  void RunUpdateCycle();  // PerformAutoUpdate's work, under the update mutex
};
