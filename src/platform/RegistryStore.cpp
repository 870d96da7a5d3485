#include "platform/RegistryStore.h"
#include "platform/RegistryStamp.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/UserFolders.h"
#include "platform/WinError.h"

namespace ostrel::platform::registry {
namespace {

// Marks a database as this registry store ("OSRG"), and its layout.
constexpr int kApplicationId = 0x4F535247;
constexpr int kFormatVersion = 1;

// Registry calls have no time-out on Windows; a lock held this long means a
// process hangs inside a transaction, and the call gives up with ERROR_BUSY.
constexpr std::chrono::seconds kBusyTimeout{30};

constexpr const char* kSchema =
    "CREATE TABLE keys("
    " hive INTEGER NOT NULL,"
    " path TEXT NOT NULL,"        // folded path, the key's identity
    " parent TEXT NOT NULL,"      // folded path of the parent ("" below the hive)
    " name TEXT NOT NULL,"        // last element as created (case kept)
    " written INTEGER NOT NULL,"  // last write time, FILETIME units
    " PRIMARY KEY (hive, path)) WITHOUT ROWID;"
    "CREATE INDEX keys_by_parent ON keys(hive, parent, path);"
    // Values of the hive itself have key "". The rowid keeps the order in
    // which values were first set; an update keeps its row.
    "CREATE TABLE vals("
    " hive INTEGER NOT NULL,"
    " key TEXT NOT NULL,"
    " fold TEXT NOT NULL,"
    " name TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " UNIQUE (hive, key, fold));";

// A SQLite failure inside one operation, with its extended result code.
// kForeign stands for a database that is not a registry store of this
// layout (SQLite itself no longer uses SQLITE_FORMAT).
struct StoreFailure {
  int code;
};
constexpr int kForeign = SQLITE_FORMAT;

int Primary(int code) { return code & 0xFF; }

// What makes a store damaged: it cannot be used as a store whatever is
// retried, only set aside.
bool IsDamage(int code) {
  const int primary = Primary(code);
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_FORMAT;
}

std::string DamageOf(int code) {
  switch (Primary(code)) {
    case SQLITE_NOTADB:
      return "the file is not a database";
    case SQLITE_FORMAT:
      return "it is not a registry store of this layout";
    default:
      return "a page is damaged";
  }
}

// Reports what a person must know about the store on standard error, the
// process's log. A state (refused, damaged) is told once per process: a
// browser that reads settings at every navigation must not flood the log.
// An event (a store set aside) is told each time.
enum class Told { Once, Always };
void Notice(const std::string& text, Told told = Told::Once) {
  static std::mutex* const mutex = new std::mutex;  // never destroyed: used during exit
  static std::deque<std::string>* const shown = new std::deque<std::string>;
  std::lock_guard<std::mutex> lock(*mutex);
  if (told == Told::Once) {
    for (const std::string& old : *shown)
      if (old == text) return;
    if (shown->size() == 32) shown->pop_front();
    shown->push_back(text);
  }
  std::fprintf(stderr, "ostrel registry: %s\n", text.c_str());
}

void NoticeRefused(const std::string& path, const std::string& why) {
  Notice(path + " is refused as the registry store: " + why +
         "; settings read as defaults and changes fail until it is put right");
}

void NoticeDamaged(const std::string& file, int code) {
  Notice(file + " is damaged (" + DamageOf(code) +
         "); reads fail, and the next change sets it aside and starts a new store");
}

// Waits for another connection's lock in short steps: transactions here take
// a millisecond or so, and SQLite's own handler sleeps up to 100 ms a try.
int WaitWhileBusy(void* context, int attempts) {
  const auto deadline = *static_cast<std::chrono::steady_clock::time_point*>(context);
  if (std::chrono::steady_clock::now() >= deadline) return 0;
  std::this_thread::sleep_for(std::chrono::microseconds(attempts < 20 ? 100 : 1000));
  return 1;
}

// What the store path named when a connection was opened: the same file,
// with the same owner and mode, or the connection no longer stands for it.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  mode_t mode = 0;
  uid_t owner = 0;
  gid_t group = 0;

  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && mode == other.mode &&
           owner == other.owner && group == other.group;
  }
  bool SameFile(const FileIdentity& other) const {
    return device == other.device && inode == other.inode;
  }
};

FileIdentity IdentityFrom(const struct stat& st) {
  return FileIdentity{st.st_dev, st.st_ino, st.st_mode, st.st_uid, st.st_gid};
}

// The path itself, not a link's target; false when it cannot be looked up.
bool IdentityOf(const std::string& file, FileIdentity* identity) {
  struct stat st {};
  if (lstat(file.c_str(), &st) != 0) return false;
  *identity = IdentityFrom(st);
  return true;
}

std::string FolderOf(const std::string& file) { return file.substr(0, file.rfind('/')); }

// Why the store's folder or file may not be used, empty when it may: it
// must be what it claims (no link), this user's, and writable by no one
// else, or another user could feed the filter its settings.
std::string Unsafe(const struct stat& st, bool folder) {
  if (S_ISLNK(st.st_mode)) return "it is a link";
  if (folder && !S_ISDIR(st.st_mode)) return "it is not a folder";
  if (!folder && !S_ISREG(st.st_mode)) return "it is not a regular file";
  if (st.st_uid != geteuid()) return "it belongs to user " + std::to_string(st.st_uid);
  if (st.st_mode & (S_IWGRP | S_IWOTH)) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return std::string("other users may write to it (mode ") + mode + ")";
  }
  return std::string();
}

enum class Place { Missing, Refused, Present };

// Where the store is now. Present gives the file's identity; a folder or
// file that may not be used is reported and refused.
Place InspectFile(const std::string& file, FileIdentity* identity) {
  struct stat st {};
  if (lstat(file.c_str(), &st) != 0) {
    if (errno == ENOENT) return Place::Missing;
    NoticeRefused(file, std::string("it cannot be looked up (") + std::strerror(errno) + ")");
    return Place::Refused;
  }
  const std::string why = Unsafe(st, false);
  if (!why.empty()) {
    NoticeRefused(file, why);
    return Place::Refused;
  }
  *identity = IdentityFrom(st);
  return Place::Present;
}

Place Inspect(const std::string& file, FileIdentity* identity) {
  const std::string folder = FolderOf(file);
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Place::Missing;
    NoticeRefused(folder, std::string("it cannot be looked up (") + std::strerror(errno) + ")");
    return Place::Refused;
  }
  const std::string why = Unsafe(st, true);
  if (!why.empty()) {
    NoticeRefused(folder, why);
    return Place::Refused;
  }
  return InspectFile(file, identity);
}

// The store's folder, held open and locked for one change (shared) or for
// setting a damaged store aside (exclusive). SQLite finds a file's journal
// by its name: a connection still on a file renamed away would take the
// journal of the new store at that name for its own and play it back. So
// no change has the store open while it is set aside. Reads need no lock:
// they open the store read-only, and a read-only connection never plays a
// journal back. Closing the folder drops the lock.
class FolderLock {
 public:
  FolderLock() = default;
  ~FolderLock() {
    if (fd_ >= 0) close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // ERROR_SUCCESS with the lock held; ERROR_FILE_NOT_FOUND when the folder
  // does not exist and create is false; ERROR_ACCESS_DENIED when it cannot
  // be made or is refused.
  DWORD Take(const std::string& folder, bool create, int operation) {
    if (create) {
      const int made = folders::MakePrivateFolders(folder);
      if (made == ENOTDIR || made == EEXIST) {
        NoticeRefused(folder, "it is not a folder");
        return ERROR_ACCESS_DENIED;
      }
      if (made != 0) return ERROR_ACCESS_DENIED;
    }
    fd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) {
      const int error = errno;
      struct stat st {};
      if (error == ENOENT || (error == ENOTDIR && lstat(folder.c_str(), &st) != 0))
        return create ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
      NoticeRefused(folder,
                    error == ELOOP || error == ENOTDIR
                        ? std::string(error == ELOOP ? "it is a link" : "it is not a folder")
                        : std::string("it cannot be opened (") + std::strerror(error) + ")");
      return ERROR_ACCESS_DENIED;
    }
    struct stat st {};
    if (fstat(fd_, &st) != 0) return ERROR_ACCESS_DENIED;
    const std::string why = Unsafe(st, true);
    if (!why.empty()) {
      NoticeRefused(folder, why);
      return ERROR_ACCESS_DENIED;
    }
    // A file system without flock still serves: the lock only closes a
    // narrow race with setting a store aside.
    while (flock(fd_, operation) != 0 && errno == EINTR) {
    }
    return ERROR_SUCCESS;
  }

 private:
  int fd_ = -1;
};

enum class Mode { Read, Write };

// A connection to the store, used by one thread at a time. Statements are
// prepared once and kept for the connection's life (a store is small and
// its queries few). Rolls back whatever it did not commit when closed.
class Connection {
 public:
  Connection() { statements_.reserve(kMaxCachedStatements); }
  ~Connection() {
    if (!db_) return;
    for (Cached& cached : statements_) sqlite3_finalize(cached.stmt);
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens an existing store file; never creates one.
  int Open(const std::string& file, Mode mode) {
    const int access = mode == Mode::Read ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    const int rc = sqlite3_open_v2(file.c_str(), &db_,
                                   access | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) return rc;
    sqlite3_extended_result_codes(db_, 1);
    file_ = file;
    pid_ = getpid();
    sqlite3_busy_handler(db_, WaitWhileBusy, &deadline_);
    // A store file is data, never trusted to alter the engine's behaviour.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    StartOperation();
    return SQLITE_OK;
  }

  // Records what file the open connection stands for, so that Serves can
  // tell when the path has come to name another one. False when the path
  // changed under the open (the connection then serves this call only).
  bool PinIdentity() {
    if (!IdentityOf(file_, &identity_)) return false;
    int moved = 1;
    // Compares the open descriptor's inode with the path's, now.
    if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_HAS_MOVED, &moved) != SQLITE_OK)
      return false;
    return moved == 0;
  }
  const FileIdentity& Identity() const { return identity_; }

  // True when this connection may serve a call on file, which now has the
  // given identity: opened by this process (a forked child must not use its
  // parent's), for this path, and the path still names the very file
  // opened, with the same owner and mode (a replaced, removed or
  // re-permissioned store is opened afresh).
  bool Serves(const std::string& file, const FileIdentity& now) const {
    return pid_ == getpid() && file == file_ && now == identity_;
  }

  // Each operation may wait for other connections' locks up to its own
  // deadline.
  void StartOperation() { deadline_ = std::chrono::steady_clock::now() + kBusyTimeout; }

  bool ReadOnly() const { return sqlite3_db_readonly(db_, "main") == 1; }

  // Any SQL, any number of statements, prepared anew.
  void Exec(const char* sql) {
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) throw StoreFailure{rc};
  }

  int Changes() const { return sqlite3_changes(db_); }

  // The schema version (SQLite's schema cookie) last found to be the
  // store's own schema; a read checks the schema again only when it changed.
  std::int64_t verifiedSchema = -1;

 private:
  friend class Statement;

  struct Cached {
    const char* sql;  // the text it was prepared from
    sqlite3_stmt* stmt;
    bool inUse;
  };

  // The prepared statement for sql, prepared at first use. *cached is its
  // cache entry, or null for a statement of this use only (the caller then
  // finalizes it): when the cached one is in use, or the cache is full.
  sqlite3_stmt* Acquire(const char* sql, Cached** cached) {
    for (Cached& c : statements_) {
      // Found by the literal's address; the text check keeps a buffer
      // reused for other SQL from getting the wrong statement.
      if (c.sql != sql || std::strcmp(sqlite3_sql(c.stmt), sql) != 0) continue;
      if (c.inUse) break;
      c.inUse = true;
      *cached = &c;
      return c.stmt;
    }
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK) throw StoreFailure{rc};
    *cached = nullptr;
    if (statements_.size() < kMaxCachedStatements && !InCache(sql)) {
      statements_.push_back(Cached{sql, stmt, true});
      *cached = &statements_.back();
    }
    return stmt;
  }

  bool InCache(const char* sql) const {
    for (const Cached& c : statements_)
      if (c.sql == sql) return true;
    return false;
  }

  // More than the store's distinct queries; a bound, not a tuning knob.
  static constexpr std::size_t kMaxCachedStatements = 32;

  sqlite3* db_ = nullptr;
  std::string file_;
  pid_t pid_ = 0;
  FileIdentity identity_;
  std::chrono::steady_clock::time_point deadline_;  // of the current operation's waits
  std::vector<Cached> statements_;  // reserved up front: Acquire hands out pointers into it
};

// One use of a statement of a connection: bind, step, read columns. A
// cached statement is reset and handed back when done.
class Statement {
 public:
  Statement(Connection& c, const char* sql) : stmt_(c.Acquire(sql, &cached_)) {}
  ~Statement() {
    if (!cached_) {
      sqlite3_finalize(stmt_);
      return;
    }
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    cached_->inUse = false;
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Int(int index, std::int64_t value) {
    Check(sqlite3_bind_int64(stmt_, index, value));
    return *this;
  }
  Statement& Text(int index, const std::string& value) {
    Check(sqlite3_bind_text64(stmt_, index, value.data(), value.size(), SQLITE_TRANSIENT,
                              SQLITE_UTF8));
    return *this;
  }
  Statement& Blob(int index, const std::string& value) {
    // A null pointer would bind SQL NULL; empty data is a zero-length blob.
    Check(sqlite3_bind_blob64(stmt_, index, value.empty() ? "" : value.data(), value.size(),
                              SQLITE_TRANSIENT));
    return *this;
  }

  // True for a row, false when done.
  bool Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw StoreFailure{rc};
  }

  std::int64_t ColumnInt(int column) { return sqlite3_column_int64(stmt_, column); }
  std::string ColumnText(int column) {
    const unsigned char* text = sqlite3_column_text(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size))
                : std::string();
  }
  std::string ColumnBlob(int column) {
    const void* data = sqlite3_column_blob(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    return data ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(size))
                : std::string();
  }

 private:
  static void Check(int rc) {
    if (rc != SQLITE_OK) throw StoreFailure{rc};
  }
  Connection::Cached* cached_ = nullptr;
  sqlite3_stmt* stmt_;
};

// Runs one statement that returns nothing of interest.
void Run(Connection& c, const char* sql) { Statement(c, sql).Step(); }

std::int64_t Number(Connection& c, const char* sql) {
  Statement s(c, sql);
  return s.Step() ? s.ColumnInt(0) : 0;
}

void CreateSchema(Connection& c) {
  c.Exec(kSchema);
  c.Exec(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
  c.Exec(("PRAGMA user_version = " + std::to_string(kFormatVersion)).c_str());
}

// The schema as SQLite records it, every object in name order.
std::string SchemaOf(Connection& c) {
  Statement s(c, "SELECT type, name, tbl_name, coalesce(sql, '') FROM sqlite_schema ORDER BY name");
  std::string schema;
  while (s.Step())
    for (int column = 0; column < 4; ++column) schema += s.ColumnText(column) + '\x1F';
  return schema;
}

// What SchemaOf gives for a store of ours, made once in a memory database.
const std::string& ExpectedSchema() {
  static const std::string* const schema = [] {
    Connection c;
    if (c.Open(":memory:", Mode::Write) != SQLITE_OK) return new std::string();
    CreateSchema(c);
    return new std::string(SchemaOf(c));
  }();
  return *schema;
}

// True for a store of ours, false for an empty database (no schema yet);
// anything else, a store of ours with its tables altered included, is not a
// registry store of this layout: its statements would fail at every call.
bool IsOurs(Connection& c) {
  const std::int64_t application = Number(c, "PRAGMA application_id");
  const std::int64_t version = Number(c, "PRAGMA user_version");
  const std::int64_t cookie = Number(c, "PRAGMA schema_version");
  if (application == kApplicationId && version == kFormatVersion) {
    if (cookie == c.verifiedSchema) return true;
    if (SchemaOf(c) != ExpectedSchema()) throw StoreFailure{kForeign};
    c.verifiedSchema = cookie;
    return true;
  }
  if (application == 0 && version == 0 && SchemaOf(c).empty()) return false;
  throw StoreFailure{kForeign};
}

// Throws the damage when any page of the store is damaged, including
// those no call of the moment would visit.
void CheckPages(Connection& c, const char* check) {
  Statement s(c, check);
  if (!s.Step() || s.ColumnText(0) != "ok") throw StoreFailure{SQLITE_CORRUPT};
}

std::int64_t Now() {
  using namespace std::chrono;
  constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000;
  const auto since = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
  return kUnixEpochAsFileTime + since / 100;
}

std::string Join(const std::string& parent, const std::string& element) {
  return parent.empty() ? element : parent + "\\" + element;
}

bool KeyExists(Connection& c, int hive, const std::string& path) {
  if (path.empty()) return true;  // the hive itself
  Statement s(c, "SELECT 1 FROM keys WHERE hive = ?1 AND path = ?2");
  s.Int(1, hive).Text(2, path);
  return s.Step();
}

void Touch(Connection& c, int hive, const std::string& path) {
  if (path.empty()) return;
  Statement s(c, "UPDATE keys SET written = ?3 WHERE hive = ?1 AND path = ?2");
  s.Int(1, hive).Text(2, path).Int(3, Now());
  s.Step();
}

DWORD AccessFailure(int code) {
  switch (Primary(code)) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN:
      return ERROR_ACCESS_DENIED;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_TOOBIG:
      return ERROR_INVALID_PARAMETER;
    default:
      return IsDamage(code) ? ERROR_REGISTRY_CORRUPT : ERROR_REGISTRY_IO_FAILED;
  }
}

// The calling thread's read connection, kept from one read to the next:
// opening one (and parsing the schema) costs far more than a read. Closed
// when the thread ends; t_readerGone then tells later reads (from other
// exit-time code) to open one for their call only.
thread_local bool t_readerGone = false;
struct ThreadReader {
  ~ThreadReader() { t_readerGone = true; }
  std::unique_ptr<Connection> connection;
};
thread_local ThreadReader t_reader;

// The thread's read connection when it still serves file; null otherwise
// (one that no longer does is closed). The thread holds none meanwhile.
// In a forked child the kept one is the parent's, idle (every call ends its
// transaction), so closing it only drops the child's copy of the
// descriptor; the parent's locks are the parent process's own.
std::unique_ptr<Connection> TakeReader(const std::string& file, const FileIdentity& now) {
  if (t_readerGone) return nullptr;
  std::unique_ptr<Connection> reader = std::move(t_reader.connection);
  if (reader && !reader->Serves(file, now)) reader.reset();
  return reader;
}

void KeepReader(std::unique_ptr<Connection> reader) {
  if (!t_readerGone) t_reader.connection = std::move(reader);
}

// One read transaction on an open connection: body on a store of ours,
// whenEmpty on an empty one.
template <typename Body>
DWORD ReadIn(Connection& c, DWORD whenEmpty, Body& body) {
  c.StartOperation();
  Run(c, "BEGIN");
  const DWORD result = IsOurs(c) ? body(c) : whenEmpty;
  Run(c, "COMMIT");
  return result;
}

// A read-only connection refuses to play back the journal a writer that
// died left behind; this read does it, as a change would, under the
// folder lock of changes.
template <typename Body>
DWORD RecoverAndRead(const std::string& file, DWORD whenEmpty, Body& body) {
  FolderLock folder;
  const DWORD locked = folder.Take(FolderOf(file), false, LOCK_SH);
  if (locked != ERROR_SUCCESS) return locked == ERROR_FILE_NOT_FOUND ? whenEmpty : locked;
  Connection c;
  const int opened = c.Open(file, Mode::Write);
  if (opened != SQLITE_OK) throw StoreFailure{opened};
  return ReadIn(c, whenEmpty, body);
}

// Which connection a read uses: the thread's kept one, or one of its own
// that remembers no page from earlier reads (a page damaged in place, the
// file's change counter unchanged, would still be served from memory).
enum class Reader { Kept, Fresh };

// Runs body inside one read transaction. A store that does not exist reads
// as an empty one (whenEmpty); one that is refused gives
// ERROR_ACCESS_DENIED, one that is damaged or not ours
// ERROR_REGISTRY_CORRUPT. A read that fails in any way closes its
// connection, so the next one starts from the file as it is then.
template <typename Body>
DWORD RunRead(DWORD whenEmpty, Body body, Reader reader = Reader::Kept) {
  std::string file;
  try {
    file = StorePath();
    if (file.empty()) return whenEmpty;
    FileIdentity now;
    const Place place = Inspect(file, &now);
    if (place == Place::Missing) return whenEmpty;
    if (place == Place::Refused) return ERROR_ACCESS_DENIED;
    std::unique_ptr<Connection> c = reader == Reader::Kept ? TakeReader(file, now) : nullptr;
    bool keep = reader == Reader::Kept;
    if (!c) {
      c = std::make_unique<Connection>();
      const int opened = c->Open(file, Mode::Read);
      struct stat st {};
      // Gone since it was looked at: set aside, or removed by a person.
      if (opened != SQLITE_OK && lstat(file.c_str(), &st) != 0 && errno == ENOENT) return whenEmpty;
      if (opened != SQLITE_OK) throw StoreFailure{opened};
      keep = c->PinIdentity() && keep;
    }
    DWORD result = ERROR_SUCCESS;
    try {
      result = ReadIn(*c, whenEmpty, body);
    } catch (const StoreFailure& failure) {
      if (failure.code != SQLITE_READONLY_ROLLBACK) throw;
      c.reset();
      return RecoverAndRead(file, whenEmpty, body);
    }
    if (keep) KeepReader(std::move(c));
    return result;
  } catch (const StoreFailure& failure) {
    if (IsDamage(failure.code)) NoticeDamaged(file, failure.code);
    return AccessFailure(failure.code);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

// Creates an empty store file (0600) when it is missing. Never touches an
// existing file, and follows no link.
DWORD EnsureStoreFile(const std::string& file) {
  const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) {
    close(fd);
    return ERROR_SUCCESS;
  }
  return errno == EEXIST ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// A free name beside the damaged store for keeping it, stamped with the
// time (UTC) it was set aside.
std::string AsideName(const std::string& file) {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  const std::string base = file + ".damaged-" + stamp;
  std::string name = base;
  struct stat st {};
  for (int n = 2; lstat(name.c_str(), &st) == 0 && n < 1000; ++n)
    name = base + "-" + std::to_string(n);
  return name;
}

// Renames the damaged store beside itself, kept for inspection, with any
// journal of it (a journal left at the store's name would be played into
// the new store). Nothing is done when the path no longer names the file
// found damaged: another call has set it aside already.
DWORD SetAside(const std::string& file, const FileIdentity& damaged, int code) {
  FolderLock folder;
  const DWORD locked = folder.Take(FolderOf(file), false, LOCK_EX);
  if (locked == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (locked != ERROR_SUCCESS) return locked;
  FileIdentity now;
  if (!IdentityOf(file, &now) || !now.SameFile(damaged)) return ERROR_SUCCESS;
  const std::string aside = AsideName(file);
  if (rename(file.c_str(), aside.c_str()) != 0) {
    Notice(file + " is damaged (" + DamageOf(code) + ") and cannot be set aside (" +
           std::strerror(errno) + ")");
    return ERROR_REGISTRY_CORRUPT;
  }
  for (const char* suffix : {"-journal", "-wal", "-shm"})
    rename((file + suffix).c_str(), (aside + suffix).c_str());  // when there is one
  Notice(file + " was damaged (" + DamageOf(code) + "); it is kept as " + aside +
             " and a new store is started",
         Told::Always);
  return ERROR_SUCCESS;
}

// What a change does when the store file does not exist yet.
enum class Missing { Create, Skip };

// The outcome of one try at a change; damaged tells that the store must be
// set aside first, identity which file that is.
struct Attempt {
  DWORD result;
  bool damaged = false;
  int code = 0;
  FileIdentity identity{};
};

// One try at a change, inside one write transaction committed only when
// body returns ERROR_SUCCESS. A change opens a connection of its own: it
// pays for the journal and its syncs anyway, and so its check reads every
// page from the file, none remembered by a kept connection.
template <typename Body>
Attempt WriteOnce(const std::string& file, Missing missing, DWORD whenMissing, Body& body) {
  FolderLock folder;
  const DWORD locked = folder.Take(FolderOf(file), missing == Missing::Create, LOCK_SH);
  if (locked == ERROR_FILE_NOT_FOUND) return Attempt{whenMissing};
  if (locked != ERROR_SUCCESS) return Attempt{locked};
  FileIdentity identity;
  const Place place = InspectFile(file, &identity);
  if (place == Place::Refused) return Attempt{ERROR_ACCESS_DENIED};
  if (place == Place::Missing) {
    if (missing == Missing::Skip) return Attempt{whenMissing};
    const DWORD made = EnsureStoreFile(file);
    if (made != ERROR_SUCCESS) return Attempt{made};
  }
  Connection c;
  try {
    const int opened = c.Open(file, Mode::Write);
    if (opened != SQLITE_OK) return Attempt{AccessFailure(opened)};
    // The store path changed under the open: not by a change (they hold
    // the folder shared), so by a person; let the caller try again.
    if (!c.PinIdentity()) return Attempt{ERROR_BUSY};
    if (c.ReadOnly()) return Attempt{ERROR_ACCESS_DENIED};
    c.Exec("BEGIN IMMEDIATE");
    if (IsOurs(c))
      CheckPages(c, "PRAGMA quick_check(1)");
    else
      CreateSchema(c);
    const DWORD result = body(c);
    if (result != ERROR_SUCCESS) return Attempt{result};  // the destructor rolls back
    c.Exec("COMMIT");
    return Attempt{ERROR_SUCCESS};
  } catch (const StoreFailure& failure) {
    if (IsDamage(failure.code))
      return Attempt{ERROR_REGISTRY_CORRUPT, true, failure.code, c.Identity()};
    return Attempt{AccessFailure(failure.code)};
  }
}

// Runs body as one change. With Missing::Skip and no store file, gives
// whenMissing without creating one. A damaged store, or one that is not
// ours, is set aside and the change made in a new store; a store found
// damaged again at once is left as it is (no loop of setting aside).
template <typename Body>
DWORD RunWrite(Missing missing, DWORD whenMissing, Body body) {
  // Readers that keep values learn of the change from the stamp.
  struct Bump {
    ~Bump() { BumpChangeStamp(); }
  } bump;
  try {
    const std::string file = StorePath();
    if (file.empty()) return ERROR_ACCESS_DENIED;
    for (int attempt = 0;; ++attempt) {
      const Attempt outcome = WriteOnce(file, missing, whenMissing, body);
      if (!outcome.damaged) return outcome.result;
      if (attempt > 0) {
        NoticeDamaged(file, outcome.code);
        return ERROR_REGISTRY_CORRUPT;
      }
      const DWORD aside = SetAside(file, outcome.identity, outcome.code);
      if (aside != ERROR_SUCCESS) return aside;
    }
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace

std::string FoldedPath(const std::string& base, const std::vector<std::string>& elements) {
  std::string path = base;
  for (const std::string& e : elements) path = Join(path, FoldName(e));
  return path;
}

std::string FoldName(const std::string& name) {
  std::string folded = name;
  for (char& ch : folded)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  return folded;
}

std::string StorePath() {
  const std::string config = folders::ConfigHome();
  return config.empty() ? std::string() : config + "/ostrel/registry.db";
}

DWORD OpenKey(int hive, const std::string& base, const std::vector<std::string>& elements,
              std::string* path) {
  const std::string wanted = FoldedPath(base, elements);
  if (wanted.empty()) {  // the hive itself always exists
    *path = wanted;
    return ERROR_SUCCESS;
  }
  const DWORD rc = RunRead(ERROR_FILE_NOT_FOUND, [&](Connection& c) -> DWORD {
    if (!KeyExists(c, hive, base)) return ERROR_KEY_DELETED;
    return KeyExists(c, hive, wanted) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
  if (rc == ERROR_SUCCESS) *path = wanted;
  return rc;
}

DWORD CreateKey(int hive, const std::string& base, const std::vector<std::string>& elements,
                bool mayCreate, std::string* path, bool* created) {
  // Most calls open a key that exists (settings reads go through here):
  // look first, so that they cost a read, not a write.
  DWORD rc = OpenKey(hive, base, elements, path);
  *created = false;
  if (rc == ERROR_FILE_NOT_FOUND && !mayCreate) return ERROR_ACCESS_DENIED;
  // A damaged store gets set aside by the change below: a store that only
  // ever fails would leave every setting at its default for good.
  if (rc != ERROR_FILE_NOT_FOUND && !(rc == ERROR_REGISTRY_CORRUPT && mayCreate)) return rc;
  bool madeLast = false;
  rc = RunWrite(Missing::Create, ERROR_SUCCESS, [&](Connection& c) -> DWORD {
    if (!KeyExists(c, hive, base)) return ERROR_KEY_DELETED;
    std::string current = base;
    const std::int64_t now = Now();
    for (const std::string& element : elements) {
      const std::string child = Join(current, FoldName(element));
      Statement s(c,
                  "INSERT INTO keys(hive, path, parent, name, written) VALUES(?1, ?2, ?3, ?4, ?5)"
                  " ON CONFLICT(hive, path) DO NOTHING");
      s.Int(1, hive).Text(2, child).Text(3, current).Text(4, element).Int(5, now);
      s.Step();
      madeLast = c.Changes() > 0;
      current = child;
    }
    return ERROR_SUCCESS;
  });
  if (rc != ERROR_SUCCESS) return rc;
  *path = FoldedPath(base, elements);
  *created = madeLast;
  return ERROR_SUCCESS;
}

DWORD SetValue(int hive, const std::string& key, const std::string& name, DWORD type,
               const std::string& data) {
  return RunWrite(Missing::Create, ERROR_SUCCESS, [&](Connection& c) -> DWORD {
    if (!KeyExists(c, hive, key)) return ERROR_KEY_DELETED;
    // The first spelling of a name stays; type and data are replaced whole.
    Statement s(c,
                "INSERT INTO vals(hive, key, fold, name, type, data) VALUES(?1, ?2, ?3, ?4, ?5, ?6)"
                " ON CONFLICT(hive, key, fold) DO UPDATE SET type = excluded.type,"
                " data = excluded.data");
    s.Int(1, hive).Text(2, key).Text(3, FoldName(name)).Text(4, name).Int(5, type).Blob(6, data);
    s.Step();
    Touch(c, hive, key);
    return ERROR_SUCCESS;
  });
}

DWORD QueryValue(int hive, const std::string& key, const std::string& name, DWORD* type,
                 std::string* data) {
  return RunRead(ERROR_FILE_NOT_FOUND, [&](Connection& c) -> DWORD {
    Statement s(c, "SELECT type, data FROM vals WHERE hive = ?1 AND key = ?2 AND fold = ?3");
    s.Int(1, hive).Text(2, key).Text(3, FoldName(name));
    if (!s.Step()) return KeyExists(c, hive, key) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    *type = static_cast<DWORD>(s.ColumnInt(0));
    *data = s.ColumnBlob(1);
    return ERROR_SUCCESS;
  });
}

DWORD DeleteValue(int hive, const std::string& key, const std::string& name) {
  return RunWrite(Missing::Skip, ERROR_FILE_NOT_FOUND, [&](Connection& c) -> DWORD {
    Statement s(c, "DELETE FROM vals WHERE hive = ?1 AND key = ?2 AND fold = ?3");
    s.Int(1, hive).Text(2, key).Text(3, FoldName(name));
    s.Step();
    if (c.Changes() == 0) return KeyExists(c, hive, key) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    Touch(c, hive, key);
    return ERROR_SUCCESS;
  });
}

DWORD DeleteTree(int hive, const std::string& key, bool includeSelf) {
  const DWORD whenMissing = includeSelf   ? ERROR_FILE_NOT_FOUND
                            : key.empty() ? ERROR_SUCCESS
                                          : ERROR_KEY_DELETED;
  // Nothing to delete in a store that does not exist; do not create one.
  return RunWrite(Missing::Skip, whenMissing, [&](Connection& c) -> DWORD {
    if (key.empty()) {
      Statement values(c, "DELETE FROM vals WHERE hive = ?1");
      values.Int(1, hive).Step();
      Statement keys(c, "DELETE FROM keys WHERE hive = ?1");
      keys.Int(1, hive).Step();
      return ERROR_SUCCESS;
    }
    if (!KeyExists(c, hive, key)) return whenMissing;
    // Descendants of K are exactly the paths from "K\" up to,
    // not including, "K]" (']' follows '\' in byte order).
    const std::string low = key + "\\";
    const std::string high = key + "]";
    Statement values(c,
                     "DELETE FROM vals WHERE hive = ?1 AND"
                     " ((key >= ?2 AND key < ?3) OR key = ?4)");
    values.Int(1, hive).Text(2, low).Text(3, high).Text(4, key).Step();
    Statement keys(c,
                   "DELETE FROM keys WHERE hive = ?1 AND"
                   " ((path >= ?2 AND path < ?3) OR (?5 AND path = ?4))");
    keys.Int(1, hive).Text(2, low).Text(3, high).Text(4, key).Int(5, includeSelf);
    keys.Step();
    if (!includeSelf) Touch(c, hive, key);
    return ERROR_SUCCESS;
  });
}

DWORD EnumKey(int hive, const std::string& key, DWORD index, std::string* name,
              std::uint64_t* written) {
  return RunRead(ERROR_NO_MORE_ITEMS, [&](Connection& c) -> DWORD {
    if (!KeyExists(c, hive, key)) return ERROR_KEY_DELETED;
    Statement s(c,
                "SELECT name, written FROM keys WHERE hive = ?1 AND parent = ?2"
                " ORDER BY path LIMIT 1 OFFSET ?3");
    s.Int(1, hive).Text(2, key).Int(3, index);
    if (!s.Step()) return ERROR_NO_MORE_ITEMS;
    *name = s.ColumnText(0);
    *written = static_cast<std::uint64_t>(s.ColumnInt(1));
    return ERROR_SUCCESS;
  });
}

DWORD EnumValue(int hive, const std::string& key, DWORD index, std::string* name, DWORD* type,
                std::string* data) {
  return RunRead(ERROR_NO_MORE_ITEMS, [&](Connection& c) -> DWORD {
    if (!KeyExists(c, hive, key)) return ERROR_KEY_DELETED;
    Statement s(c,
                "SELECT name, type, data FROM vals WHERE hive = ?1 AND key = ?2"
                " ORDER BY rowid LIMIT 1 OFFSET ?3");
    s.Int(1, hive).Text(2, key).Int(3, index);
    if (!s.Step()) return ERROR_NO_MORE_ITEMS;
    *name = s.ColumnText(0);
    *type = static_cast<DWORD>(s.ColumnInt(1));
    *data = s.ColumnBlob(2);
    return ERROR_SUCCESS;
  });
}

DWORD CheckStore() {
  return RunRead(
      ERROR_SUCCESS,
      [](Connection& c) -> DWORD {
        CheckPages(c, "PRAGMA integrity_check(1)");
        return ERROR_SUCCESS;
      },
      Reader::Fresh);
}

}  // namespace ostrel::platform::registry
