// CRemote: one HTTP fetch sequence: the whole body of a URI read into
// memory, one character per byte, and served again from its start through
// GetStream. A response whose HTTP status is not 2xx is not opened, so it
// is a failed fetch. CRemoteDB fetches the phish database from the
// DBRemoteUpdUri setting and accepts only a container whose checksum
// verifies. A fetch can be abandoned through an abort event (the update
// thread's quit event): within a second of its signal, a fetch in progress
// fails and every later one fails at once. Built, used and destroyed by one
// thread (the update thread, or the configuration dialog's, which passes
// none); no locking of its own.
#pragma once

#include <sstream>
#include <string>

#include "update/Internet.h"

class CRemote {
 public:
  // Both raise CException "Unable to create internet session object" when
  // the platform refuses the session. abortEvent, when given, is a
  // manual-reset event that outlives this object.
  explicit CRemote(HANDLE abortEvent = nullptr);
  explicit CRemote(const std::wstring& uri, HANDLE abortEvent = nullptr);
  CRemote(const CRemote&) = delete;
  CRemote& operator=(const CRemote&) = delete;

  // Clears the data, opens the remote URI and reads the whole body. True
  // when the end was reached and the response closed; the data then holds
  // the body (a failed read keeps what arrived).
  virtual bool Fetch();
  virtual ~CRemote() = 0;

  // Opens the remote URI unless a response is held already; true when one
  // is held. Empty URI, no response or a status other than 2xx: false.
  bool Open();
  // Sets the remote URI and opens it; false, changing nothing, while a
  // response is held.
  bool OpenUri(const std::wstring& uri);
  bool Close();
  // The last fetched body from its start, state cleared; the same stream
  // object at every call.
  std::wistream& GetStream();

  // The session's agent text and flags, and those of every request.
  static constexpr DWORD kFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

 protected:
  CHttpSession m_session;
  CInternetFile m_file;
  std::wstring m_data;       // the last fetched body, one character per byte
  std::wstring m_remoteUri;  // requested exactly as stored
  std::wistringstream m_stream;
};

class CRemoteDB : public CRemote {
 public:
  // The remote URI is the DBRemoteUpdUri setting at construction.
  explicit CRemoteDB(HANDLE abortEvent = nullptr);
  ~CRemoteDB() override;

  // A download whose container checksum fails is a failed fetch: it must
  // not be saved, loaded, recorded or announced.
  bool Fetch() override;
};
