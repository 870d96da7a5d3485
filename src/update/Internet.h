// The thin classes over the platform's HTTP client: a session
// (CInternetSession, CHttpSession), a connection to one server
// (CInternetConnection, CHttpConnection; no fetch goes through one) and the
// response of one URL (CInternetFile). Each owns its handle; a creation
// failure raises CException. Used by the one thread that built them
// (CRemote and its callers).
#pragma once

#include <string>

#include "platform/InternetAbort.h"
#include "platform/WinInet.h"

class CInternetConnection;

class CInternetSession {
 public:
  // Raises CException "Unable to create internet session object" when the
  // platform refuses the session.
  CInternetSession(const wchar_t* agent, DWORD accessType, const wchar_t* proxy,
                   const wchar_t* proxyBypass, DWORD flags);
  CInternetSession(const CInternetSession&) = delete;
  CInternetSession& operator=(const CInternetSession&) = delete;
  virtual ~CInternetSession();

  // The response to a GET of url, or null when it cannot be had; nothing
  // raised.
  HINTERNET OpenUrl(const wchar_t* url, const wchar_t* headers, DWORD headersLength, DWORD flags,
                    DWORD_PTR context);
  HINTERNET GetHandle() const;
  // Every request of the session fails within a second of event being
  // signalled (platform/InternetAbort.h); null clears it. The caller keeps
  // the event, manual-reset, open while the session lives.
  bool SetAbortEvent(HANDLE event);

 private:
  HINTERNET m_session;
  CInternetConnection* m_connection;  // owned, null: nothing in the system makes one
};

class CHttpSession : public CInternetSession {
 public:
  CHttpSession(const wchar_t* agent, DWORD accessType, const wchar_t* proxy,
               const wchar_t* proxyBypass, DWORD flags);
  ~CHttpSession() override;
};

// A connection to one server within a session; only derived objects exist.
class CInternetConnection {
 public:
  CInternetConnection(const CInternetConnection&) = delete;
  CInternetConnection& operator=(const CInternetConnection&) = delete;
  virtual ~CInternetConnection() = 0;

  HINTERNET GetHandle() const;

 protected:
  // Raises CException "Unable to create internet connection object".
  CInternetConnection(HINTERNET session, const wchar_t* server, INTERNET_PORT port,
                      const wchar_t* user, const wchar_t* password, DWORD service);

 private:
  HINTERNET m_connection;
};

class CHttpConnection : public CInternetConnection {
 public:
  CHttpConnection(HINTERNET session, const wchar_t* server, INTERNET_PORT port,
                  const wchar_t* user, const wchar_t* password, DWORD service);
  ~CHttpConnection() override;
};

// The response of one URL. The destructor does not close the handle; Close
// does.
class CInternetFile {
 public:
  explicit CInternetFile(HINTERNET handle = nullptr);
  CInternetFile(const CInternetFile&) = delete;
  CInternetFile& operator=(const CInternetFile&) = delete;
  virtual ~CInternetFile();

  bool IsOpen() const;
  // Takes the handle only when none is held; returns 0 in every case.
  int Attach(HINTERNET handle);
  // False when no handle was held, else the platform's result.
  bool Close();
  // The HTTP status of the response; 0 when none is held or known.
  DWORD GetStatusCode() const;

  // The body into out, one character per byte. True when its end was
  // reached; false when no handle is held (out untouched), a read fails, or
  // limit bytes (limit >= 0) were read before the end was seen. A negative
  // limit reads without one.
  bool ReadText(std::wstring& out, LONG limit);

 private:
  HINTERNET m_handle;
};
