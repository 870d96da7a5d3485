#include "update/Internet.h"

#include "support/Exception.h"

CInternetSession::CInternetSession(const wchar_t* agent, DWORD accessType, const wchar_t* proxy,
                                   const wchar_t* proxyBypass, DWORD flags)
    : m_session(InternetOpenW(agent, accessType, proxy, proxyBypass, flags)),
      m_connection(nullptr) {
  if (!m_session) CException::Raise(L"Unable to create internet session object", 0);
}

CInternetSession::~CInternetSession() {
  delete m_connection;
  InternetCloseHandle(m_session);
}

HINTERNET CInternetSession::OpenUrl(const wchar_t* url, const wchar_t* headers,
                                    DWORD headersLength, DWORD flags, DWORD_PTR context) {
  return InternetOpenUrlW(m_session, url, headers, headersLength, flags, context);
}

HINTERNET CInternetSession::GetHandle() const { return m_session; }

bool CInternetSession::SetAbortEvent(HANDLE event) {
  return InternetSetAbortEvent(m_session, event) != FALSE;
}

CHttpSession::CHttpSession(const wchar_t* agent, DWORD accessType, const wchar_t* proxy,
                           const wchar_t* proxyBypass, DWORD flags)
    : CInternetSession(agent, accessType, proxy, proxyBypass, flags) {}

CHttpSession::~CHttpSession() = default;

CInternetConnection::CInternetConnection(HINTERNET session, const wchar_t* server,
                                         INTERNET_PORT port, const wchar_t* user,
                                         const wchar_t* password, DWORD service)
    : m_connection(InternetConnectW(session, server, port, user, password, service, 0, 0)) {
  if (!m_connection) CException::Raise(L"Unable to create internet connection object", 0);
}

CInternetConnection::~CInternetConnection() {
  if (m_connection) InternetCloseHandle(m_connection);
}

HINTERNET CInternetConnection::GetHandle() const { return m_connection; }

CHttpConnection::CHttpConnection(HINTERNET session, const wchar_t* server, INTERNET_PORT port,
                                 const wchar_t* user, const wchar_t* password, DWORD service)
    : CInternetConnection(session, server, port, user, password, service) {}

CHttpConnection::~CHttpConnection() = default;

CInternetFile::CInternetFile(HINTERNET handle) : m_handle(handle) {}

CInternetFile::~CInternetFile() = default;

bool CInternetFile::IsOpen() const { return m_handle != nullptr; }

int CInternetFile::Attach(HINTERNET handle) {
  if (!m_handle) m_handle = handle;
  return 0;
}

bool CInternetFile::Close() {
  if (!m_handle) return false;
  const BOOL closed = InternetCloseHandle(m_handle);
  m_handle = nullptr;
  return closed != FALSE;
}

DWORD CInternetFile::GetStatusCode() const {
  if (!m_handle) return 0;
  DWORD status = 0;
  DWORD length = sizeof status;
  if (!HttpQueryInfoW(m_handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                      nullptr))
    return 0;
  return status;
}

bool CInternetFile::ReadText(std::wstring& out, LONG limit) {
  if (!m_handle) return false;
  out.clear();
  if (limit == 0) return false;
  // Read in blocks rather than a byte per call; a limited read never asks
  // for more than the limit leaves.
  BYTE block[8192];
  for (;;) {
    DWORD wanted = sizeof block;
    if (limit > 0) {
      const std::size_t left = static_cast<std::size_t>(limit) - out.size();
      if (left < wanted) wanted = static_cast<DWORD>(left);
    }
    DWORD got = 0;
    if (!InternetReadFile(m_handle, block, wanted, &got)) return false;
    if (got == 0) return true;
    for (DWORD i = 0; i < got; ++i) out += static_cast<wchar_t>(block[i]);
    if (limit > 0 && out.size() >= static_cast<std::size_t>(limit)) return false;
  }
}
