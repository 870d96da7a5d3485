// CLocalDB: the local database file, shared by every browser process of the
// user, opened for one read or one rewrite under the named mutex
// "_OSTREL_ANTIPHISH_BHO_LOCAL_DB_MUTEX", held from Open to Close, so no
// reader sees a file being rewritten and no two writers interleave. The
// file's name is the DBFileName setting, read at each open. A rewrite goes
// to a new file beside the old one and replaces it only when complete; the
// file is never opened through a link. Short-lived: made for one read or
// one save, on one thread. The mutex is the innermost lock of the system.
#pragma once

#include <istream>
#include <string>

#include "platform/ByteFile.h"
#include "support/KernelObjects.h"

class CLocalDB {
 public:
  enum class Mode { Read, Rewrite };

  // Raises CException "Unable to create mutex object" when the mutex
  // cannot be had.
  CLocalDB();
  CLocalDB(const CLocalDB&) = delete;
  CLocalDB& operator=(const CLocalDB&) = delete;
  virtual ~CLocalDB();

  bool OpenForRead();
  // False when there is no file name, no file (for reading) or it cannot be
  // opened; the mutex is then not held.
  bool Open(Mode mode);
  // Closes the file (a rewrite takes the old file's place here) and
  // releases the mutex; false when a rewrite could not be completed.
  bool Close();
  // The open file, one character per byte.
  std::wistream& GetStream();

  // Copies source from its start into the file through a stream object of
  // its own, so the caller's stream keeps its state. True when the file now
  // holds exactly those bytes; otherwise the old file is unchanged.
  bool Save(std::wistream& source);

  // Whether a file of the configured name exists that Open could open: a
  // link, folder, FIFO or device there counts as no file.
  static bool Exists();

 private:
  CMutex m_mutex;
  ostrel::platform::ByteFileBuf m_buffer;
  std::wiostream m_file;
};
