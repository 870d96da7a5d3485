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

#include <memory>

#include "phishlist/PhishListEntries.h"
#include "support/KernelObjects.h"

class CRemoteMD;

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

  // Why a cycle runs: the schedule (the first cycle, or the poll interval
  // passed), a manual update (downloads even when this process downloaded
  // lately), or another list's announcement of a newer database (reloads
  // from the local file, never downloads).
  enum class UpdateCause { Schedule, Manual, Announcement };

  // The update service (update/AutoUpdate.cpp): the thread's routine, the
  // service, its loop (one cycle at once, then one whenever the poll
  // interval passes, another list announces a newer database or a manual
  // update is asked for, until the quit event), and one update cycle.
  // Nothing raised in a cycle leaves it, and the update mutex is always
  // released.
  static DWORD WINAPI AutoUpdateThreadProc(LPVOID list);
  static DWORD RunAutoUpdateService(CPhishList* list);
  DWORD AutoUpdateLoop();
  void PerformAutoUpdate(UpdateCause cause = UpdateCause::Schedule);

 private:
  CMutex m_updateMutex;         // one update cycle at a time, all processes
  CEvent m_updateDoneEvent;     // pulsed after a newer version was recorded; every list waits on it
  CEvent m_manualUpdateEvent;   // signalled by the configuration dialog
  CThread m_updateThread;       // created suspended; runs AutoUpdateThreadProc

  // PerformAutoUpdate's work under the update mutex. A newer program to
  // offer is handed back in newerProgram, to be asked about once the mutex
  // is released.
  void RunUpdateCycle(bool manual, std::unique_ptr<CRemoteMD>& newerProgram);
  // Reloads from the local file when a database was recorded (LSTUD) since
  // this list last loaded.
  void ReloadIfOutOfDate();
  bool Quitting();  // the update thread's quit event is signalled
};
