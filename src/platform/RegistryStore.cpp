#include "platform/RegistryStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <new>
#include <thread>

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

// A SQLite failure inside one operation, with its primary result code.
struct StoreFailure {
  int code;
};

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    const int rc = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    if (rc != SQLITE_OK) throw StoreFailure{rc & 0xFF};
  }
  ~Statement() { sqlite3_finalize(stmt_); }
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
    throw StoreFailure{rc & 0xFF};
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
    if (rc != SQLITE_OK) throw StoreFailure{rc & 0xFF};
  }
  sqlite3_stmt* stmt_ = nullptr;
};

// Waits for another connection's lock in short steps: transactions here take
// a millisecond or so, and SQLite's own handler sleeps up to 100 ms a try.
int WaitWhileBusy(void* context, int attempts) {
  const auto deadline = *static_cast<std::chrono::steady_clock::time_point*>(context);
  if (std::chrono::steady_clock::now() >= deadline) return 0;
  std::this_thread::sleep_for(std::chrono::microseconds(attempts < 20 ? 100 : 1000));
  return 1;
}

// One connection for one operation; rolls back whatever it did not commit.
class Connection {
 public:
  Connection() = default;
  ~Connection() {
    if (!db_) return;
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens an existing store file; never creates one.
  int Open(const std::string& file) {
    const int rc =
        sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
    if (rc != SQLITE_OK) return rc & 0xFF;
    deadline_ = std::chrono::steady_clock::now() + kBusyTimeout;
    sqlite3_busy_handler(db_, WaitWhileBusy, &deadline_);
    // A store file is data, never trusted to alter the engine's behaviour.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    return SQLITE_OK;
  }

  bool ReadOnly() const { return sqlite3_db_readonly(db_, "main") == 1; }

  void Exec(const char* sql) {
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) throw StoreFailure{rc & 0xFF};
  }

  std::int64_t Number(const char* sql) {
    Statement s(db_, sql);
    return s.Step() ? s.ColumnInt(0) : 0;
  }

  int Changes() const { return sqlite3_changes(db_); }

  sqlite3* db() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
  std::chrono::steady_clock::time_point deadline_;  // of this operation's waits
};

enum class Format { Empty, Ours, Foreign };

Format CheckFormat(Connection& c) {
  const std::int64_t application = c.Number("PRAGMA application_id");
  const std::int64_t version = c.Number("PRAGMA user_version");
  if (application == kApplicationId)
    return version == kFormatVersion ? Format::Ours : Format::Foreign;
  if (application != 0 || version != 0) return Format::Foreign;
  return c.Number("SELECT count(*) FROM sqlite_schema") == 0 ? Format::Empty : Format::Foreign;
}

void CreateSchema(Connection& c) {
  c.Exec(kSchema);
  c.Exec(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
  c.Exec(("PRAGMA user_version = " + std::to_string(kFormatVersion)).c_str());
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
  Statement s(c.db(), "SELECT 1 FROM keys WHERE hive = ?1 AND path = ?2");
  s.Int(1, hive).Text(2, path);
  return s.Step();
}

void Touch(Connection& c, int hive, const std::string& path) {
  if (path.empty()) return;
  Statement s(c.db(), "UPDATE keys SET written = ?3 WHERE hive = ?1 AND path = ?2");
  s.Int(1, hive).Text(2, path).Int(3, Now());
  s.Step();
}

DWORD ReadFailure(int code, DWORD whenEmpty) {
  switch (code) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:  // damaged, unreadable or not ours: nothing can be read from it
      return whenEmpty;
  }
}

DWORD WriteFailure(int code) {
  switch (code) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
      return ERROR_REGISTRY_CORRUPT;
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
      return ERROR_REGISTRY_IO_FAILED;
  }
}

// Runs body inside one read transaction. A store that is missing, damaged,
// unreadable or not ours gives whenEmpty, as an empty store would.
template <typename Body>
DWORD RunRead(DWORD whenEmpty, Body body) {
  try {
    const std::string file = StorePath();
    if (file.empty()) return whenEmpty;
    Connection c;
    if (c.Open(file) != SQLITE_OK) return whenEmpty;
    c.Exec("BEGIN");
    if (CheckFormat(c) != Format::Ours) return whenEmpty;
    const DWORD result = body(c);
    c.Exec("COMMIT");
    return result;
  } catch (const StoreFailure& failure) {
    return ReadFailure(failure.code, whenEmpty);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

// Creates the store folder (0700) and an empty store file (0600) when they
// are missing. Never touches an existing file, and follows no link.
DWORD EnsureStoreFile(const std::string& file) {
  const std::string folder = file.substr(0, file.rfind('/'));
  if (folders::MakePrivateFolders(folder) != 0) return ERROR_ACCESS_DENIED;
  const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) {
    close(fd);
    return ERROR_SUCCESS;
  }
  return errno == EEXIST ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// What a change does when the store file does not exist yet.
enum class Missing { Create, Skip };

// Runs body inside one write transaction, committed only when body returns
// ERROR_SUCCESS. With Missing::Skip and no store file, gives whenMissing
// without creating one. A store whose format is not ours or that fails the
// integrity check is left exactly as it is.
template <typename Body>
DWORD RunWrite(Missing missing, DWORD whenMissing, Body body) {
  try {
    const std::string file = StorePath();
    if (file.empty()) return ERROR_ACCESS_DENIED;
    if (missing == Missing::Create) {
      const DWORD made = EnsureStoreFile(file);
      if (made != ERROR_SUCCESS) return made;
    } else if (access(file.c_str(), F_OK) != 0 && errno == ENOENT) {
      return whenMissing;
    }
    Connection c;
    const int opened = c.Open(file);
    if (opened != SQLITE_OK) return WriteFailure(opened);
    if (c.ReadOnly()) return ERROR_ACCESS_DENIED;
    c.Exec("BEGIN IMMEDIATE");
    switch (CheckFormat(c)) {
      case Format::Empty:
        CreateSchema(c);
        break;
      case Format::Foreign:
        return ERROR_REGISTRY_CORRUPT;
      case Format::Ours: {
        Statement check(c.db(), "PRAGMA quick_check(1)");
        if (!check.Step() || check.ColumnText(0) != "ok") return ERROR_REGISTRY_CORRUPT;
        break;
      }
    }
    const DWORD result = body(c);
    if (result != ERROR_SUCCESS) return result;  // the destructor rolls back
    c.Exec("COMMIT");
    return ERROR_SUCCESS;
  } catch (const StoreFailure& failure) {
    return WriteFailure(failure.code);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

std::string FoldedPath(const std::string& base, const std::vector<std::string>& elements) {
  std::string path = base;
  for (const std::string& e : elements) path = Join(path, FoldName(e));
  return path;
}

}  // namespace

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
  if (rc != ERROR_FILE_NOT_FOUND) return rc;
  if (!mayCreate) return ERROR_ACCESS_DENIED;
  bool madeLast = false;
  rc = RunWrite(Missing::Create, ERROR_SUCCESS, [&](Connection& c) -> DWORD {
    if (!KeyExists(c, hive, base)) return ERROR_KEY_DELETED;
    std::string current = base;
    const std::int64_t now = Now();
    for (const std::string& element : elements) {
      const std::string child = Join(current, FoldName(element));
      Statement s(c.db(),
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
    Statement s(c.db(),
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
    Statement s(c.db(), "SELECT type, data FROM vals WHERE hive = ?1 AND key = ?2 AND fold = ?3");
    s.Int(1, hive).Text(2, key).Text(3, FoldName(name));
    if (!s.Step()) return KeyExists(c, hive, key) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    *type = static_cast<DWORD>(s.ColumnInt(0));
    *data = s.ColumnBlob(1);
    return ERROR_SUCCESS;
  });
}

DWORD DeleteValue(int hive, const std::string& key, const std::string& name) {
  return RunWrite(Missing::Skip, ERROR_FILE_NOT_FOUND, [&](Connection& c) -> DWORD {
    Statement s(c.db(), "DELETE FROM vals WHERE hive = ?1 AND key = ?2 AND fold = ?3");
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
      Statement values(c.db(), "DELETE FROM vals WHERE hive = ?1");
      values.Int(1, hive).Step();
      Statement keys(c.db(), "DELETE FROM keys WHERE hive = ?1");
      keys.Int(1, hive).Step();
      return ERROR_SUCCESS;
    }
    if (!KeyExists(c, hive, key)) return whenMissing;
    // Descendants of K are exactly the paths from "K\" up to,
    // not including, "K]" (']' follows '\' in byte order).
    const std::string low = key + "\\";
    const std::string high = key + "]";
    Statement values(c.db(),
                     "DELETE FROM vals WHERE hive = ?1 AND"
                     " ((key >= ?2 AND key < ?3) OR key = ?4)");
    values.Int(1, hive).Text(2, low).Text(3, high).Text(4, key).Step();
    Statement keys(c.db(),
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
    Statement s(c.db(),
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
    Statement s(c.db(),
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

}  // namespace ostrel::platform::registry
