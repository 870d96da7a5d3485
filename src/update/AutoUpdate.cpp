// The update thread of every phish list and its update cycle. A cycle runs
// under the update mutex, shared by every list of every process, so one
// process downloads and the others reload its file. A failure of any kind
// inside a cycle (no response, an error status, a damaged download, a
// kernel object or session that cannot be made) ends that cycle with the
// list, the local file, the settings and the announcement as they were,
// and the thread waits for the next; it never spins.
#include "update/AutoUpdate.h"

#include <exception>

#include "phishlist/PhishList.h"
#include "platform/ProcessFacts.h"
#include "settings/Settings.h"
#include "support/Exception.h"
#include "support/StringCase.h"
#include "support/Trace.h"
#include "update/LocalDB.h"
#include "update/Remote.h"
#include "update/RemoteMD.h"

bool IsBrowserExecutablePath(const std::wstring& path) {
  const std::wstring lower = ToLowerAscii(path);
  if (lower.find(L"iexplore.exe") != std::wstring::npos) return true;
  const std::size_t slash = lower.find_last_of(L"/\\");
  return lower.substr(slash == std::wstring::npos ? 0 : slash + 1) == L"ostrel-browser";
}

bool IsBrowserProcess() {
  WCHAR path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return length > 0 && IsBrowserExecutablePath(std::wstring(path, length < MAX_PATH ? length : MAX_PATH));
}

bool RequestDatabaseUpdate() {
  CSettings::SetPDBUN(-1);
  try {
    CEvent manualUpdate(false, false, L"_OSTREL_ANTIPHISH_BHO_MNULUPD_EVENT", false, nullptr);
    return manualUpdate.Set() != FALSE;
  } catch (const CException&) {
    return false;
  }
}

DWORD CPhishList::AutoUpdateThreadProc(LPVOID list) {
  TraceMessage(L"Entering auto phish list update thread\r\n");
  return RunAutoUpdateService(static_cast<CPhishList*>(list));
}

DWORD CPhishList::RunAutoUpdateService(CPhishList* list) {
  TraceMessage(L"Starting phish list auto update service\r\n");
  try {
    return list->AutoUpdateLoop();
  } catch (...) {
    // Only the loop's own waiting can get here (cycles catch everything);
    // the list goes on without updates rather than take the process down.
    TraceMessage(L"Auto update service ended by an error\r\n");
    return 0;
  }
}

DWORD CPhishList::AutoUpdateLoop() {
  CWaitMultiObj wakeUps;
  wakeUps.Add(&m_updateDoneEvent);
  wakeUps.Add(&m_manualUpdateEvent);
  wakeUps.Add(&m_updateThread.GetQuitEvent());
  for (;;) {
    if (m_updateThread.GetQuitEvent().IsSignalled()) {
      TraceMessage(L"Quit event signaled, terminating auto update thread\r\n");
      return 0;
    }
    TraceMessage(L"Performing auto update\r\n");
    PerformAutoUpdate();
    TraceMessage(L"Waiting for quit signal or next auto update cycle (which ever comes first)\r\n");
    const DWORD interval = CSettings::GetPollIntervalMillis();
    if (wakeUps.WaitAny(interval) != WAIT_FAILED) continue;
    // A wait that fails at once would turn the loop into a spin: wait for
    // the quit event alone, and if even that cannot be done, stop.
    if (CWaitSingleObj::Wait(m_updateThread.GetQuitEvent(), interval) == WAIT_FAILED) {
      TraceMessage(L"Cannot wait for the next cycle, terminating auto update thread\r\n");
      return 0;
    }
  }
}

void CPhishList::PerformAutoUpdate() {
  CMutexLock updateLock(m_updateMutex);  // released on every path below
  if (!updateLock.Owns()) {
    TraceMessage(L"Update mutex cannot be had, update cycle skipped\r\n");
    return;
  }
  try {
    RunUpdateCycle();
  } catch (const CException& e) {
    TraceMessage(L"Update cycle ended by an error: %s\r\n", e.GetMessage().c_str());
  } catch (const std::exception& e) {
    TraceMessage(L"Update cycle ended by an error: %hs\r\n", e.what());
  } catch (...) {
    TraceMessage(L"Update cycle ended by an unknown error\r\n");
  }
}

void CPhishList::RunUpdateCycle() {
  CRemoteMD metadata;
  if (IsBrowserProcess()) {
    CRemoteMD programCheck;
    programCheck.CheckBHOVersion(false);
  }
  if (metadata.IsDBUpdateNeeded()) {
    TraceMessage(L"Performing auto update over HTTP\r\n");
    CRemoteDB download;
    CLocalDB localFile;
    if (!download.Fetch()) return;
    TraceMessage(L"Successfully retrieved DB update over HTTP\r\n");
    std::wistream& data = download.GetStream();
    const bool saved = localFile.Save(data);
    Load(data);
    if (!saved) {
      // This list has the new data, but the file does not: recording the
      // version would stop every later cycle from trying again.
      TraceMessage(L"Local DB file not written, update not recorded\r\n");
      return;
    }
    metadata.UpdateRegistry();
    m_updateDoneEvent.Pulse();
    return;
  }
  TraceMessage(L"Auto update over HTTP skipped, update not needed\r\n");
  TraceMessage(L"Checking if local DB needs reloading\r\n");
  // Stamps count whole seconds, so an update recorded in the second this
  // list last loaded counts as newer: a reload too many, never one missed.
  if (CSettings::GetLSTUD(CSettings::DefaultLSTUD) >= GetLoadStamp()) {
    TraceMessage(L"memory resident list is out of date, reloading from local DB cache file\r\n");
    LoadFromLocalDB();
  }
}
