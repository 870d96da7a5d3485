// Windows: the requests of WinINet sessions, kept track of so that a
// session's abort event can close the session under its readers (WinINet
// closes its requests with it, and unblocks a request being opened), each
// handle is closed once, and no body passes the size limit
// (platform/InternetAbort.h). A handle value WinINet gives out again after
// an abort closed it, before its old owner closed it too, belongs to the
// newest opener; the old owner's close then closes it: that narrow case is
// WinINet's single handle namespace, and the tables follow the newest.
// One lock guards the tables; WinINet is never waited on under it, only
// asked to close a handle. A watcher thread per session with an abort event
// waits for that event or for the session's own close.
#include "platform/InternetAbort.h"

#include <map>
#include <mutex>
#include <set>
#include <thread>

// This file calls WinINet itself under these names.
#undef InternetOpenUrlW
#undef InternetReadFile
#undef InternetCloseHandle

namespace {

constexpr unsigned long long kMaxBodyBytes = 16ull << 20;

struct Session {
  HANDLE stop = nullptr;  // set when the session itself is closed
  bool aborted = false;   // closed by the abort; the owner's close is ours to answer
  std::set<HINTERNET> requests;  // open, not yet closed by their owner
};

struct Request {
  HINTERNET session = nullptr;
  unsigned long long read = 0;
  bool closedByAbort = false;  // WinINet's handle is gone; the owner's close is ours to answer
};

std::mutex g_lock;
std::map<HINTERNET, Session> g_sessions;  // the sessions with an abort event
std::map<HINTERNET, Request> g_requests;  // their requests, until the owner closes them

void Abort(HINTERNET session) {
  std::lock_guard<std::mutex> lock(g_lock);
  const auto found = g_sessions.find(session);
  if (found == g_sessions.end()) return;
  found->second.aborted = true;
  for (HINTERNET request : found->second.requests) g_requests[request].closedByAbort = true;
  found->second.requests.clear();
  InternetCloseHandle(session);  // with every request under it: a read blocked in one fails
}

void Watch(HINTERNET session, HANDLE abort, HANDLE stop) {
  const HANDLE handles[] = {abort, stop};
  if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0) Abort(session);
  CloseHandle(abort);
  CloseHandle(stop);
}

}  // namespace

BOOL InternetSetAbortEvent(HINTERNET hSession, HANDLE hEvent) {
  if (!hSession) return FALSE;
  HANDLE abort = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), hEvent, GetCurrentProcess(), &abort, SYNCHRONIZE,
                       FALSE, 0))
    return FALSE;
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE stopForWatcher = nullptr;
  if (!stop || !DuplicateHandle(GetCurrentProcess(), stop, GetCurrentProcess(), &stopForWatcher,
                                SYNCHRONIZE, FALSE, 0)) {
    if (stop) CloseHandle(stop);
    CloseHandle(abort);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_sessions.count(hSession)) {  // one event per session: the first stays
      CloseHandle(stop);
      CloseHandle(stopForWatcher);
      CloseHandle(abort);
      return FALSE;
    }
    g_sessions[hSession].stop = stop;
  }
  try {
    std::thread(Watch, hSession, abort, stopForWatcher).detach();
  } catch (...) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_sessions.erase(hSession);
    CloseHandle(stop);
    CloseHandle(stopForWatcher);
    CloseHandle(abort);
    return FALSE;
  }
  return TRUE;
}

HINTERNET OstrelInternetOpenUrlW(HINTERNET hInternet, LPCWSTR lpszUrl, LPCWSTR lpszHeaders,
                                 DWORD dwHeadersLength, DWORD dwFlags, DWORD_PTR dwContext) {
  {
    std::lock_guard<std::mutex> lock(g_lock);
    const auto found = g_sessions.find(hInternet);
    if (found != g_sessions.end() && found->second.aborted) {
      SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
      return nullptr;
    }
  }
  HINTERNET request =
      InternetOpenUrlW(hInternet, lpszUrl, lpszHeaders, dwHeadersLength, dwFlags, dwContext);
  if (!request) return nullptr;
  std::lock_guard<std::mutex> lock(g_lock);
  const auto found = g_sessions.find(hInternet);
  if (found != g_sessions.end() && found->second.aborted) {  // aborted while it opened
    InternetCloseHandle(request);  // where the session's close left it open
    SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
    return nullptr;
  }
  if (found != g_sessions.end()) found->second.requests.insert(request);
  g_requests[request] = Request{hInternet};  // a value given out again is the new request's
  return request;
}

BOOL OstrelInternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                            LPDWORD lpdwNumberOfBytesRead) {
  {
    std::lock_guard<std::mutex> lock(g_lock);
    const auto found = g_requests.find(hFile);
    if (found != g_requests.end() && found->second.closedByAbort) {
      if (lpdwNumberOfBytesRead) *lpdwNumberOfBytesRead = 0;
      SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
      return FALSE;
    }
  }
  const BOOL ok = InternetReadFile(hFile, lpBuffer, dwNumberOfBytesToRead, lpdwNumberOfBytesRead);
  std::lock_guard<std::mutex> lock(g_lock);
  const auto found = g_requests.find(hFile);
  if (found == g_requests.end()) return ok;
  if (found->second.closedByAbort) {  // closed under the read
    SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
    return FALSE;
  }
  if (ok && lpdwNumberOfBytesRead) {
    found->second.read += *lpdwNumberOfBytesRead;
    if (found->second.read > kMaxBodyBytes) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return FALSE;
    }
  }
  return ok;
}

BOOL OstrelInternetCloseHandle(HINTERNET hInternet) {
  {
    std::lock_guard<std::mutex> lock(g_lock);
    const auto request = g_requests.find(hInternet);
    if (request != g_requests.end()) {
      const bool closed = request->second.closedByAbort;
      const auto session = g_sessions.find(request->second.session);
      if (session != g_sessions.end()) session->second.requests.erase(hInternet);
      g_requests.erase(request);
      if (closed) return TRUE;  // WinINet's handle went with the abort
    }
    const auto session = g_sessions.find(hInternet);
    if (session != g_sessions.end()) {
      const bool closed = session->second.aborted;
      SetEvent(session->second.stop);
      CloseHandle(session->second.stop);
      g_sessions.erase(session);
      if (closed) return TRUE;  // the abort closed it
    }
  }
  return InternetCloseHandle(hInternet);
}
