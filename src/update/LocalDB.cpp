#include "update/LocalDB.h"

#include "platform/FileApi.h"
#include "settings/Settings.h"

CLocalDB::CLocalDB()
    : m_mutex(false, L"_OSTREL_ANTIPHISH_BHO_LOCAL_DB_MUTEX", true, nullptr), m_file(&m_buffer) {}

CLocalDB::~CLocalDB() { Close(); }

bool CLocalDB::OpenForRead() { return Open(Mode::Read); }

bool CLocalDB::Open(Mode mode) {
  const std::wstring name = CSettings::GetDBFileName(CSettings::DefaultDBFileName);
  if (name.empty()) return m_buffer.IsOpen();
  if (m_buffer.IsOpen()) return true;
  m_mutex.Lock(INFINITE);
  const bool opened = m_buffer.Open(name, mode == Mode::Read
                                              ? ostrel::platform::ByteFileBuf::Mode::Read
                                              : ostrel::platform::ByteFileBuf::Mode::Replace);
  if (!opened) {
    m_mutex.Unlock();
    return false;
  }
  m_file.clear();
  return true;
}

bool CLocalDB::Close() {
  if (!m_buffer.IsOpen()) return false;
  m_file.flush();
  const bool closed = m_buffer.Close() && !m_file.bad();
  m_mutex.Unlock();
  return closed;
}

std::wistream& CLocalDB::GetStream() { return m_file; }

bool CLocalDB::Save(std::wistream& source) {
  if (m_buffer.IsOpen()) return false;
  if (!Open(Mode::Rewrite)) return false;
  std::wistream copy(source.rdbuf());
  copy.seekg(0);
  wchar_t c;
  while (copy.get(c)) m_file.put(c);
  if (!copy.eof()) {  // the source failed part-way: keep the old file
    m_buffer.Discard();
    m_mutex.Unlock();
    return false;
  }
  return Close();
}

bool CLocalDB::Exists() {
  const std::wstring name = CSettings::GetDBFileName(CSettings::DefaultDBFileName);
  if (name.empty()) return false;
  // What Open refuses (a link, a folder, a FIFO or device) counts as no
  // file, so that an update is forced rather than the list never loading.
  const DWORD attributes = GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY |
                         FILE_ATTRIBUTE_DEVICE));
}
