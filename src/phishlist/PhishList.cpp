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
  // The update service runs from here to destruction; its first cycle
  // starts at once.
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
