#include "update/Remote.h"

#include "settings/Settings.h"
#include "support/Trace.h"
#include "update/Cipher.h"

namespace {
constexpr const wchar_t* kAgent = L"HttpSession";
}

CRemote::CRemote(HANDLE abortEvent) : CRemote(std::wstring(), abortEvent) {}

CRemote::CRemote(const std::wstring& uri, HANDLE abortEvent)
    : m_session(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, kFlags),
      m_remoteUri(uri),
      m_stream(std::ios_base::in) {
  if (abortEvent) m_session.SetAbortEvent(abortEvent);
}

CRemote::~CRemote() { Close(); }

bool CRemote::Open() {
  if (!m_remoteUri.empty() && !m_file.IsOpen()) {
    m_file.Attach(m_session.OpenUrl(m_remoteUri.c_str(), nullptr, 0, kFlags, 0));
    const DWORD status = m_file.GetStatusCode();
    if (m_file.IsOpen() && (status < 200 || status > 299)) {
      TraceMessage(L"HTTP status %lu from %s: not fetched\r\n", static_cast<unsigned long>(status),
                   m_remoteUri.c_str());
      m_file.Close();
    }
  }
  return m_file.IsOpen();
}

bool CRemote::OpenUri(const std::wstring& uri) {
  if (m_file.IsOpen()) return false;
  m_remoteUri = uri;
  return Open();
}

bool CRemote::Close() { return m_file.Close(); }

bool CRemote::Fetch() {
  m_data.clear();
  if (!Open()) return false;
  if (m_file.ReadText(m_data, -1)) return m_file.Close();
  m_file.Close();
  return false;
}

std::wistream& CRemote::GetStream() {
  m_stream.str(m_data);
  m_stream.clear();
  m_stream.seekg(0);
  return m_stream;
}

CRemoteDB::CRemoteDB(HANDLE abortEvent)
    : CRemote(CSettings::GetDBRemoteUpdUri(CSettings::DefaultDBRemoteUpdUri), abortEvent) {}

CRemoteDB::~CRemoteDB() = default;

bool CRemoteDB::Fetch() {
  if (!CRemote::Fetch()) return false;
  std::string bytes;
  bytes.reserve(m_data.size());
  for (wchar_t c : m_data) bytes += static_cast<char>(static_cast<unsigned>(c) & 0xFF);
  if (CDecrypt(bytes).IsValid()) return true;
  TraceMessage(L"Downloaded phish database fails its checksum: not used\r\n");
  return false;
}
