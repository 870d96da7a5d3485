// The update thread of every phish list and its update cycle. A cycle runs
// under the update mutex, shared by every list of every process, so one
// process downloads and the others reload its file. A failure of any kind
// inside a cycle (no response, an error status, a damaged download, a
// kernel object or session that cannot be made) ends that cycle with the
// list, the local file, the settings and the announcement as they were,
// and the thread waits for the next; it never spins.
// Downloads never run away: the update-done event is pulsed only when a
// newer version was recorded, and a list it wakes only reloads the local
// file; a process downloads at most once per poll interval (a manual update
// aside); and without a version to tell a new database by, a database
// recorded within the poll interval by any process is reloaded, not
// downloaded again.
// A window never waits on the network: the quit event abandons a transfer
// in progress (CRemote), is tested between the cycle's steps and watched
// while the update mutex is awaited, and the new-version question is asked
// only once the mutex is released.
#include "update/AutoUpdate.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>

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

DWORD WINAPI CPhishList::AutoUpdateThreadProc(LPVOID list) {
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
  UpdateCause cause = UpdateCause::Schedule;
  for (;;) {
    if (Quitting()) {
      TraceMessage(L"Quit event signaled, terminating auto update thread\r\n");
      return 0;
    }
    TraceMessage(L"Performing auto update\r\n");
    PerformAutoUpdate(cause);
    TraceMessage(L"Waiting for quit signal or next auto update cycle (which ever comes first)\r\n");
    const DWORD interval = CSettings::GetPollIntervalMillis();
    const DWORD woken = wakeUps.WaitAny(interval);
    if (woken != WAIT_FAILED) {
      cause = woken == WAIT_OBJECT_0       ? UpdateCause::Announcement
              : woken == WAIT_OBJECT_0 + 1 ? UpdateCause::Manual
                                           : UpdateCause::Schedule;
      continue;
    }
    cause = UpdateCause::Schedule;
    // A wait that fails at once would turn the loop into a spin: wait for
    // the quit event alone, and if even that cannot be done, stop.
    if (CWaitSingleObj::Wait(m_updateThread.GetQuitEvent(), interval) == WAIT_FAILED) {
      TraceMessage(L"Cannot wait for the next cycle, terminating auto update thread\r\n");
      return 0;
    }
  }
}

namespace {

// Runs one part of the update service; whatever it raises is traced and
// goes no further.
template <class Work>
void RunTraced(Work work) {
  try {
    work();
  } catch (const CException& e) {
    TraceMessage(L"Update cycle ended by an error: %s\r\n", e.GetMessage().c_str());
  } catch (const std::exception& e) {
    TraceMessage(L"Update cycle ended by an error: %hs\r\n", e.what());
  } catch (...) {
    TraceMessage(L"Update cycle ended by an unknown error\r\n");
  }
}

// This process's last download (steady clock), shared by all its lists.
constexpr std::int64_t kNever = INT64_MIN;
std::atomic<std::int64_t> g_lastDownloadMs{kNever};

std::int64_t SteadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool DownloadedWithin(DWORD intervalMs) {
  const std::int64_t last = g_lastDownloadMs.load();
  return last != kNever && SteadyNowMs() - last < static_cast<std::int64_t>(intervalMs);
}

// Whether a time stamp lies within the last intervalMs; one in the future
// (a clock set back) proves nothing.
bool StampWithin(LONGLONG stamp, DWORD intervalMs) {
  const LONGLONG nowSeconds = std::chrono::duration_cast<std::chrono::seconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
  return stamp >= CRemoteMD::StampAt(nowSeconds - intervalMs / 1000, 0) &&
         stamp <= CRemoteMD::StampAt(nowSeconds, 0);
}

// Why an automatic cycle must not download what the metadata asks for;
// null when it may.
const wchar_t* HoldDownloadBack(const CRemoteMD& metadata) {
  const DWORD interval = CSettings::GetPollIntervalMillis();
  if (DownloadedWithin(interval)) return L"this process downloaded within the poll interval";
  // Needed only because the local version is unknown (the metadata gives
  // no higher one): nothing tells whether the database recorded lately by
  // this or another process is older than the server's.
  const bool newerRemote = metadata.GetRemoteValues().dbVersion > metadata.GetLocalDBVersion();
  if (!newerRemote && CLocalDB::Exists() && StampWithin(metadata.GetLastUpdateStamp(), interval))
    return L"no newer remote version, and a database was recorded within the poll interval";
  return nullptr;
}

}  // namespace

void ForgetThisProcessDownload() { g_lastDownloadMs.store(kNever); }

bool CPhishList::Quitting() { return m_updateThread.GetQuitEvent().IsSignalled(); }

void CPhishList::PerformAutoUpdate(UpdateCause cause) {
  if (cause == UpdateCause::Announcement) {
    // Another list recorded a newer database and wrote the local file.
    RunTraced([this] { ReloadIfOutOfDate(); });
    return;
  }
  std::unique_ptr<CRemoteMD> newerProgram;
  {
    CMutexLock updateLock(m_updateMutex, m_updateThread.GetQuitEvent());  // released below
    if (Quitting()) {
      TraceMessage(L"Quit event signaled, update cycle skipped\r\n");
      return;
    }
    if (!updateLock.Owns()) {
      TraceMessage(L"Update mutex cannot be had, update cycle skipped\r\n");
      return;
    }
    RunTraced([&] { RunUpdateCycle(cause == UpdateCause::Manual, newerProgram); });
  }
  // Asked with the mutex released, so no other cycle and no window close
  // waits on the user's answer; a closing window asks nothing.
  if (newerProgram && !Quitting()) RunTraced([&] { newerProgram->OfferNewerProgram(); });
}

void CPhishList::RunUpdateCycle(bool manual, std::unique_ptr<CRemoteMD>& newerProgram) {
  const HANDLE quit = m_updateThread.GetQuitEvent().GetHandle();
  CRemoteMD metadata(quit);
  if (Quitting()) return;
  if (IsBrowserProcess()) {
    auto programCheck = std::make_unique<CRemoteMD>(quit);
    if (programCheck->FindNewerProgram(false)) newerProgram = std::move(programCheck);
    if (Quitting()) return;
  }
  if (!metadata.IsDBUpdateNeeded()) {
    TraceMessage(L"Auto update over HTTP skipped, update not needed\r\n");
    ReloadIfOutOfDate();
    return;
  }
  if (const wchar_t* reason = manual ? nullptr : HoldDownloadBack(metadata)) {
    TraceMessage(L"Auto update over HTTP held back: %s\r\n", reason);
    ReloadIfOutOfDate();
    return;
  }
  TraceMessage(L"Performing auto update over HTTP\r\n");
  CRemoteDB download(quit);
  CLocalDB localFile;
  if (!download.Fetch() || Quitting()) return;
  TraceMessage(L"Successfully retrieved DB update over HTTP\r\n");
  std::wistream& data = download.GetStream();
  Entries entries = ReadEntries(data);
  if (Quitting()) return;
  // A page that merely passes the checksum (a captive portal's, 1 in 256)
  // must not empty a list, nor the file every other list reloads from.
  if (entries.empty() && (GetCount() > 0 || (!IsLoaded() && CLocalDB::Exists()))) {
    TraceMessage(L"Downloaded phish database holds no entry: not used\r\n");
    return;
  }
  g_lastDownloadMs.store(SteadyNowMs());
  const bool saved = localFile.Save(data);
  Replace(std::move(entries));
  if (!saved) {
    // This list has the new data, but the file does not: recording the
    // version would stop every later cycle from trying again.
    TraceMessage(L"Local DB file not written, update not recorded\r\n");
    return;
  }
  // Only a newer version is news: a list woken for anything else would
  // reload, or once did download, for nothing.
  if (metadata.UpdateRegistry()) m_updateDoneEvent.Pulse();
}

void CPhishList::ReloadIfOutOfDate() {
  TraceMessage(L"Checking if local DB needs reloading\r\n");
  // Stamps count whole seconds, so an update recorded in the second this
  // list last loaded counts as newer: a reload too many, never one missed.
  if (CSettings::GetLSTUD(CSettings::DefaultLSTUD) >= GetLoadStamp()) {
    TraceMessage(L"memory resident list is out of date, reloading from local DB cache file\r\n");
    LoadFromLocalDB();
  }
}
