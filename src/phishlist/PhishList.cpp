#include "phishlist/PhishList.h"

#include "settings/Settings.h"
#include "support/Exception.h"
#include "support/Trace.h"
#include "update/LocalDB.h"

CPhishList::CPhishList()
    : m_updateMutex(false, L"_OSTREL_ANTIPHISH_BHO_AUTOUPD_MUTEX", true, nullptr),
      m_updateDoneEvent(false, true, L"_OSTREL_ANTIPHISH_BHO_AUTOUPD_EVENT", true, nullptr),
      m_manualUpdateEvent(false, false, L"_OSTREL_ANTIPHISH_BHO_MNULUPD_EVENT", false, nullptr),
      m_updateThread(&CPhishList::AutoUpdateThreadProc, this, THREAD_PRIORITY_NORMAL, 0,
                     CREATE_SUSPENDED, nullptr) {
  if (CSettings::GetDBLoadOnDemand(CSettings::DefaultDBLoadOnDemand) == 0) {
    TraceMessage(L"Loading list on creation\r\n");
    try {
      EnsureLoaded();
    } catch (...) {
      // No list will exist: end the suspended thread rather than leave it.
      StartAutoUpdate();
      StopAutoUpdate();
      throw;
    }
  }
  // The update service runs from here to destruction. Until its update cycle
  // is built, AutoUpdateLoop only waits for the thread's quit event.
  StartAutoUpdate();
}

CPhishList::~CPhishList() { StopAutoUpdate(); }

void CPhishList::EnsureLoaded() {
  if (IsLoaded()) return;
  TraceMessage(L"Loading Phish List from local DB file\r\n");
  LoadFromLocalDB();
}

void CPhishList::LoadFromLocalDB() {
  CCriticalSectionLock lock(m_lock);
  CLocalDB db;  // closes the file and releases its mutex on every path
  if (db.OpenForRead()) {
    Load(db.GetStream());
    db.Close();
  }
}

void CPhishList::StartAutoUpdate() { m_updateThread.Start(); }

void CPhishList::StopAutoUpdate() {
  m_updateThread.Stop(INFINITE);
  CCriticalSectionLock lock(m_lock);
  UnloadAll();
}

DWORD CPhishList::AutoUpdateThreadProc(LPVOID list) {
  TraceMessage(L"Entering auto phish list update thread\r\n");
  return RunAutoUpdateService(static_cast<CPhishList*>(list));
}

DWORD CPhishList::RunAutoUpdateService(CPhishList* list) {
  TraceMessage(L"Starting phish list auto update service\r\n");
  return list->AutoUpdateLoop();
}

DWORD CPhishList::AutoUpdateLoop() {
  // Until the update cycle is built, the service only waits for its quit
  // event, so a list starts and stops its thread as it always will.
  m_updateThread.GetQuitEvent().Wait(INFINITE);
  TraceMessage(L"Quit event signaled, terminating auto update thread\r\n");
  return 0;
}
