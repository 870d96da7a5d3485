// The HTTP client of platform/WinInet.h over libcurl. A request performs
// the whole transfer in InternetOpenUrlW (one easy handle in a multi handle
// of its own, both freed before it returns) and keeps the status, the
// target of a redirect left to the caller and the body for HttpQueryInfoW
// and InternetReadFile. Handles are numbers looked up in one table, so a
// stale or foreign handle is refused rather than dereferenced.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/InternetAbort.h"
#include "platform/Testing.h"
#include "platform/Utf8.h"
#include "platform/Wait.h"
#include "platform/WinError.h"
#include "platform/WinInet.h"

namespace {

using ostrel::platform::ToUtf8;
using ostrel::platform::testing::HttpLimits;

enum class Kind { Session, Connection, Request };

struct InternetObject {
  Kind kind;
  // Session.
  std::string agent;
  DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG;
  std::string proxy;
  std::string bypass;
  std::atomic<HANDLE> abortEvent{nullptr};  // InternetSetAbortEvent's; not owned
  // Connection.
  std::string server;
  INTERNET_PORT port = 0;
  // Request: the response, read from the front.
  long status = 0;
  std::string location;  // a redirect not followed: its target, absolute
  std::string body;
  std::size_t readPosition = 0;
  DWORD bodyError = ERROR_SUCCESS;  // reported once the received bytes are read
};

struct HandleTable {
  std::mutex mutex;
  std::map<std::uintptr_t, std::shared_ptr<InternetObject>> objects;
  std::uintptr_t next = 0x1000;  // never reused, so a closed handle stays invalid
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // lives until exit: handles may outlive statics
  return *table;
}

std::mutex g_limitsMutex;
HttpLimits g_limits;
std::atomic<bool> g_loopbackOnly{false};

// "Any host, any port: to 127.0.0.1, same port", for ConfineHttpToLoopback.
curl_slist* LoopbackRoute() {
  static curl_slist* route = curl_slist_append(nullptr, "::127.0.0.1:");
  return route;
}

HttpLimits CurrentLimits() {
  std::lock_guard<std::mutex> lock(g_limitsMutex);
  return g_limits;
}

HINTERNET Register(std::shared_ptr<InternetObject> object) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  const std::uintptr_t id = t.next++;
  t.objects.emplace(id, std::move(object));
  return reinterpret_cast<HINTERNET>(id);
}

std::shared_ptr<InternetObject> Find(HINTERNET handle) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  const auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == t.objects.end()) return nullptr;
  return it->second;
}

// Finds a handle of one kind, setting the last error when there is none.
std::shared_ptr<InternetObject> FindKind(HINTERNET handle, Kind kind) {
  std::shared_ptr<InternetObject> object = Find(handle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (object->kind != kind) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  return object;
}

std::string Narrow(LPCWSTR text) { return text ? ToUtf8(text) : std::string(); }

// The URL as curl takes it: printable ASCII as it is, everything else as
// %XX of its UTF-8 bytes, as a browser sends it.
std::string EncodeUrl(const std::wstring& url) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : ToUtf8(url)) {
    if (c > 0x20 && c < 0x7F) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 0x0F];
    }
  }
  return encoded;
}

void InitialiseCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Set up on the thread that loads the platform, which lasts as long as the
// process: when the first fetch came from a thread that then ends (a list's
// update thread), OpenSSL under curl left that thread's state behind.
__attribute__((constructor)) void InitialiseCurlAtLoad() { InitialiseCurl(); }

// Tested without waiting; a handle closed under us counts as not signalled.
bool Signalled(HANDLE event) { return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

using Clock = std::chrono::steady_clock;

// What one transfer collects from curl's callbacks.
struct Transfer {
  std::string body;
  std::size_t cap = 0;
  bool bodyBegan = false;
  bool capReached = false;
  HANDLE abortEvent = nullptr;
  bool aborted = false;
  // The stall rule: no byte (header or body) for stallTime.
  Clock::duration stallTime{};
  Clock::time_point lastByte = Clock::now();
  bool stalled = false;
};

size_t CollectBody(char* data, size_t size, size_t count, void* context) {
  Transfer& t = *static_cast<Transfer*>(context);
  const std::size_t n = size * count;
  t.bodyBegan = true;
  t.lastByte = Clock::now();
  if (n > t.cap - t.body.size()) {
    t.body.append(data, t.cap - t.body.size());
    t.capReached = true;
    return 0;  // stops the transfer with CURLE_WRITE_ERROR
  }
  t.body.append(data, n);
  return n;
}

size_t NoteHeader(char*, size_t size, size_t count, void* context) {
  static_cast<Transfer*>(context)->lastByte = Clock::now();
  return size * count;
}

// Whether the transfer must end now: its abort event is signalled, or no
// byte came for the stall time. Curl's own low-speed limit is an average
// rate, which lets a silent server run on for as long as its earlier bytes
// keep the average up.
bool MustEnd(Transfer& t) {
  if (Signalled(t.abortEvent)) {
    t.aborted = true;
  } else if (Clock::now() - t.lastByte >= t.stallTime) {
    t.stalled = true;
  }
  return t.aborted || t.stalled;
}

// Runs the transfer as curl_easy_perform would, but wakes at least every
// 100 ms (connecting included) to apply MustEnd: curl's progress callback
// comes only about once a second while nothing arrives.
CURLcode Perform(CURL* curl, Transfer& transfer) {
  CURLM* multi = curl_multi_init();
  if (!multi) return CURLE_OUT_OF_MEMORY;
  CURLcode result = CURLE_OK;
  if (curl_multi_add_handle(multi, curl) != CURLM_OK) {
    curl_multi_cleanup(multi);
    return CURLE_OUT_OF_MEMORY;
  }
  transfer.lastByte = Clock::now();
  for (int running = 1; running;) {
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      result = CURLE_OUT_OF_MEMORY;
      break;
    }
    if (!running) {
      int left = 0;
      while (const CURLMsg* message = curl_multi_info_read(multi, &left))
        if (message->msg == CURLMSG_DONE) result = message->data.result;
      break;
    }
    if (MustEnd(transfer)) {
      result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    if (curl_multi_poll(multi, nullptr, 0, 100, nullptr) != CURLM_OK) {
      result = CURLE_OUT_OF_MEMORY;
      break;
    }
  }
  curl_multi_remove_handle(multi, curl);
  curl_multi_cleanup(multi);
  return result;
}

DWORD ErrorOf(CURLcode code, const Transfer& transfer) {
  if (transfer.capReached) return ERROR_NOT_ENOUGH_MEMORY;
  if (transfer.aborted) return ERROR_INTERNET_OPERATION_CANCELLED;
  if (transfer.stalled) return ERROR_INTERNET_TIMEOUT;
  switch (code) {
    case CURLE_OK:
      return ERROR_SUCCESS;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_URL_MALFORMAT:
      return ERROR_INTERNET_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
      return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case CURLE_TOO_MANY_REDIRECTS:
      return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_FILESIZE_EXCEEDED:
      return ERROR_NOT_ENOUGH_MEMORY;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
      return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
      return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    default:
      return ERROR_INTERNET_CONNECTION_ABORTED;
  }
}

// Sets curl's options for one GET; false when the handle refuses one.
bool Configure(CURL* curl, const InternetObject& session, const std::string& url,
               curl_slist* headers, Transfer* transfer, const HttpLimits& limits, DWORD flags) {
  bool ok = true;
  auto set = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };
  set(curl_easy_setopt(curl, CURLOPT_URL, url.c_str()));
  set(curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https"));
  set(curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
  set(curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L));  // the caller's threads keep their signals
  set(curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L));
  set(curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION,
                       (flags & INTERNET_FLAG_NO_AUTO_REDIRECT) ? 0L : 1L));
  set(curl_easy_setopt(curl, CURLOPT_MAXREDIRS, limits.maxRedirects));
  set(curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeoutMs)));
  set(curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.responseTimeoutMs)));
  set(curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                       static_cast<curl_off_t>(limits.maxBodyBytes)));
  set(curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers));
  set(curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CollectBody));
  set(curl_easy_setopt(curl, CURLOPT_WRITEDATA, transfer));
  set(curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &NoteHeader));
  set(curl_easy_setopt(curl, CURLOPT_HEADERDATA, transfer));
  if (!session.agent.empty()) set(curl_easy_setopt(curl, CURLOPT_USERAGENT, session.agent.c_str()));
  if (g_loopbackOnly.load()) {
    set(curl_easy_setopt(curl, CURLOPT_CONNECT_TO, LoopbackRoute()));
    set(curl_easy_setopt(curl, CURLOPT_PROXY, ""));
  } else if (session.accessType == INTERNET_OPEN_TYPE_DIRECT) {
    set(curl_easy_setopt(curl, CURLOPT_PROXY, ""));
  } else if (session.accessType == INTERNET_OPEN_TYPE_PROXY) {
    set(curl_easy_setopt(curl, CURLOPT_PROXY, session.proxy.c_str()));
    set(curl_easy_setopt(curl, CURLOPT_NOPROXY, session.bypass.c_str()));
  }
  return ok;
}

// The extra header lines of InternetOpenUrlW, separated by CR LF.
curl_slist* HeaderList(LPCWSTR extra, DWORD length) {
  curl_slist* list = nullptr;
  auto add = [&list](const char* line) {
    if (curl_slist* grown = curl_slist_append(list, line)) list = grown;
  };
  add("Cache-Control: no-cache");
  add("Pragma: no-cache");
  if (!extra) return list;
  const std::wstring text = length == static_cast<DWORD>(-1) ? std::wstring(extra)
                                                             : std::wstring(extra, length);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L"\r\n", start);
    if (end == std::wstring::npos) end = text.size();
    if (end > start) add(ToUtf8(text.substr(start, end - start)).c_str());
    start = end + 2;
  }
  return list;
}

}  // namespace

namespace ostrel::platform::testing {

void SetHttpLimits(const HttpLimits& limits) {
  std::lock_guard<std::mutex> lock(g_limitsMutex);
  g_limits = limits;
}

HttpLimits GetHttpLimits() { return CurrentLimits(); }

void ConfineHttpToLoopback(bool on) { g_loopbackOnly.store(on); }

}  // namespace ostrel::platform::testing

HINTERNET InternetOpenW(LPCWSTR lpszAgent, DWORD dwAccessType, LPCWSTR lpszProxy,
                        LPCWSTR lpszProxyBypass, DWORD dwFlags) {
  const bool knownAccess = dwAccessType == INTERNET_OPEN_TYPE_PRECONFIG ||
                           dwAccessType == INTERNET_OPEN_TYPE_DIRECT ||
                           dwAccessType == INTERNET_OPEN_TYPE_PROXY;
  if (!knownAccess || (dwFlags & INTERNET_FLAG_ASYNC) ||
      (dwAccessType == INTERNET_OPEN_TYPE_PROXY && (!lpszProxy || !*lpszProxy))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  InitialiseCurl();
  auto session = std::make_shared<InternetObject>();
  session->kind = Kind::Session;
  session->agent = Narrow(lpszAgent);
  session->accessType = dwAccessType;
  session->proxy = Narrow(lpszProxy);
  session->bypass = Narrow(lpszProxyBypass);
  std::replace(session->bypass.begin(), session->bypass.end(), ';', ',');
  return Register(std::move(session));
}

BOOL InternetSetAbortEvent(HINTERNET hSession, HANDLE hEvent) {
  const std::shared_ptr<InternetObject> session = FindKind(hSession, Kind::Session);
  if (!session) return FALSE;
  session->abortEvent.store(hEvent);
  return TRUE;
}

HINTERNET InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName, INTERNET_PORT nServerPort,
                           LPCWSTR, LPCWSTR, DWORD dwService, DWORD, DWORD_PTR) {
  const std::shared_ptr<InternetObject> session = FindKind(hInternet, Kind::Session);
  if (!session) return nullptr;
  if (!lpszServerName || !*lpszServerName || dwService != INTERNET_SERVICE_HTTP) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto connection = std::make_shared<InternetObject>();
  connection->kind = Kind::Connection;
  connection->server = Narrow(lpszServerName);
  connection->port = nServerPort;
  return Register(std::move(connection));
}

HINTERNET InternetOpenUrlW(HINTERNET hInternet, LPCWSTR lpszUrl, LPCWSTR lpszHeaders,
                           DWORD dwHeadersLength, DWORD dwFlags, DWORD_PTR) {
  const std::shared_ptr<InternetObject> session = FindKind(hInternet, Kind::Session);
  if (!session) return nullptr;
  if (!lpszUrl || !*lpszUrl) {
    SetLastError(ERROR_INTERNET_INVALID_URL);
    return nullptr;
  }
  const HttpLimits limits = CurrentLimits();
  const std::string url = EncodeUrl(lpszUrl);
  Transfer transfer;
  transfer.cap = limits.maxBodyBytes;
  transfer.abortEvent = session->abortEvent.load();
  transfer.stallTime = std::chrono::milliseconds(limits.stallTimeoutMs);
  if (Signalled(transfer.abortEvent)) {  // abandoned before it began: nothing is sent
    SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
    return nullptr;
  }

  CURL* curl = curl_easy_init();
  curl_slist* headers = HeaderList(lpszHeaders, dwHeadersLength);
  if (!curl || !Configure(curl, *session, url, headers, &transfer, limits, dwFlags)) {
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  const CURLcode code = Perform(curl, transfer);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  char* redirect = nullptr;  // set only for a redirect left unfollowed
  curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &redirect);
  const std::string location = redirect ? redirect : "";
  curl_easy_cleanup(curl);
  curl_slist_free_all(headers);

  const DWORD error = ErrorOf(code, transfer);
  if (error != ERROR_SUCCESS && !transfer.bodyBegan) {
    SetLastError(error);
    return nullptr;
  }
  auto request = std::make_shared<InternetObject>();
  request->kind = Kind::Request;
  request->status = status;
  request->location = location;
  request->body = std::move(transfer.body);
  request->bodyError = error;
  return Register(std::move(request));
}

BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      LPDWORD lpdwNumberOfBytesRead) {
  if (lpdwNumberOfBytesRead) *lpdwNumberOfBytesRead = 0;
  const std::shared_ptr<InternetObject> request = FindKind(hFile, Kind::Request);
  if (!request) return FALSE;
  if (!lpdwNumberOfBytesRead || (!lpBuffer && dwNumberOfBytesToRead > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::size_t left = request->body.size() - request->readPosition;
  if (left == 0 && request->bodyError != ERROR_SUCCESS) {
    SetLastError(request->bodyError);
    return FALSE;
  }
  const std::size_t n = std::min<std::size_t>(left, dwNumberOfBytesToRead);
  if (n > 0) std::memcpy(lpBuffer, request->body.data() + request->readPosition, n);
  request->readPosition += n;
  *lpdwNumberOfBytesRead = static_cast<DWORD>(n);
  return TRUE;
}

BOOL InternetCloseHandle(HINTERNET hInternet) {
  std::shared_ptr<InternetObject> closed;  // freed outside the table's lock
  HandleTable& t = Table();
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    const auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(hInternet));
    if (it != t.objects.end()) {
      closed = std::move(it->second);
      t.objects.erase(it);
    }
  }
  if (!closed) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL HttpQueryInfoW(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                    LPDWORD lpdwBufferLength, LPDWORD) {
  const std::shared_ptr<InternetObject> request = FindKind(hRequest, Kind::Request);
  if (!request) return FALSE;
  const DWORD query = dwInfoLevel & 0xFFFF;
  if ((query != HTTP_QUERY_STATUS_CODE && query != HTTP_QUERY_LOCATION) ||
      (query == HTTP_QUERY_LOCATION && request->location.empty())) {
    SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
    return FALSE;
  }
  if (!lpdwBufferLength) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (query == HTTP_QUERY_LOCATION && (dwInfoLevel & HTTP_QUERY_FLAG_NUMBER)) {
    SetLastError(ERROR_HTTP_INVALID_QUERY_REQUEST);
    return FALSE;
  }
  if (dwInfoLevel & HTTP_QUERY_FLAG_NUMBER) {
    if (*lpdwBufferLength < sizeof(DWORD) || !lpBuffer) {
      *lpdwBufferLength = sizeof(DWORD);
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    const DWORD status = static_cast<DWORD>(request->status);
    std::memcpy(lpBuffer, &status, sizeof status);
    *lpdwBufferLength = sizeof status;
    return TRUE;
  }
  const std::wstring text = query == HTTP_QUERY_LOCATION
                                ? ostrel::platform::FromUtf8(request->location)
                                : std::to_wstring(request->status);
  const DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  if (*lpdwBufferLength < needed || !lpBuffer) {
    *lpdwBufferLength = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(lpBuffer, text.c_str(), needed);
  *lpdwBufferLength = static_cast<DWORD>(text.size() * sizeof(wchar_t));  // without the terminator
  return TRUE;
}
