#include "platform/RegistryReadCache.h"

#include <sys/stat.h>

#include <cerrno>
#include <mutex>
#include <unordered_map>

#include "platform/RegistryStamp.h"
#include "platform/RegistryStore.h"
#include "platform/WinError.h"
#include "platform/WinReg.h"

namespace ostrel::platform::registry {
namespace {

// What lstat tells of one path, compared whole. Times are to the
// nanosecond; a change made within the same clock tick as the last one
// still moves them on file systems with fine-grained stamps once a stamp
// has been looked at, as here.
struct PathState {
  bool present = false;
  dev_t device = 0;
  ino_t inode = 0;
  mode_t mode = 0;
  uid_t owner = 0;
  off_t size = 0;
  timespec modified{}, changed{};

  bool operator==(const PathState& o) const {
    return present == o.present && device == o.device && inode == o.inode && mode == o.mode &&
           owner == o.owner && size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
           changed.tv_nsec == o.changed.tv_nsec;
  }
};

// False when the path cannot be looked up (other than by being missing).
bool Look(const std::string& path, PathState* state) {
  struct stat st {};
  *state = PathState{};
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  *state = PathState{true, st.st_dev, st.st_ino, st.st_mode, st.st_uid, st.st_size, st.st_mtim,
                     st.st_ctim};
  return true;
}

// One answer of the store.
struct Answer {
  DWORD rc = ERROR_SUCCESS;
  DWORD type = REG_NONE;
  std::string data;
};

// What a read is kept under, taken before it: the stamp and, for values,
// the store file.
struct Ticket {
  bool keepable = false;
  ChangeStamp stamp;
  bool withFile = false;
  PathState file;
  std::string id;
};

struct Kept {
  std::mutex mutex;
  bool valid = false;
  ChangeStamp stamp;
  bool hasFile = false;
  PathState file;
  std::unordered_map<std::string, Answer> answers;
};

// Never destroyed: reads may come from exit-time code.
Kept& Cache() {
  static Kept* kept = new Kept;
  return *kept;
}

bool Decided(DWORD rc) {
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND || rc == ERROR_KEY_DELETED;
}

// The kept answer for ticket->id, or false with the ticket filled in for
// keeping the store's answer.
bool Find(Ticket* ticket, Answer* answer) {
  const std::string file = StorePath();
  if (!ReadChangeStamp(file, &ticket->stamp)) return false;
  Kept& kept = Cache();
  if (ticket->withFile) {
    if (!Look(file, &ticket->file)) return false;
    bool replaced = false;
    {
      std::lock_guard<std::mutex> lock(kept.mutex);
      replaced = kept.hasFile && (kept.file.device != ticket->file.device ||
                                  kept.file.inode != ticket->file.inode);
    }
    // A store made anew may be in a folder made anew, beside another stamp
    // file: map that one now.
    if (replaced && !ReadChangeStamp(file, &ticket->stamp, true)) return false;
  }
  ticket->keepable = true;
  std::lock_guard<std::mutex> lock(kept.mutex);
  if (!kept.valid || kept.stamp != ticket->stamp) return false;
  if (ticket->withFile && (!kept.hasFile || !(kept.file == ticket->file))) return false;
  const auto found = kept.answers.find(ticket->id);
  if (found == kept.answers.end()) return false;
  *answer = found->second;
  return true;
}

void Keep(const Ticket& ticket, const Answer& answer) {
  if (!ticket.keepable || !Decided(answer.rc)) return;
  Kept& kept = Cache();
  std::lock_guard<std::mutex> lock(kept.mutex);
  if (!kept.valid || kept.stamp != ticket.stamp) {
    // What another thread kept under a later stamp stays; this is stale.
    if (kept.valid && kept.stamp.mapping == ticket.stamp.mapping &&
        kept.stamp.count > ticket.stamp.count)
      return;
    kept.answers.clear();
    kept.valid = true;
    kept.stamp = ticket.stamp;
    kept.hasFile = false;
  }
  if (ticket.withFile && (!kept.hasFile || !(kept.file == ticket.file))) {
    // Changed by something other than this layer: nothing kept is sure.
    if (kept.hasFile) kept.answers.clear();
    kept.hasFile = true;
    kept.file = ticket.file;
  }
  if (kept.answers.size() >= kMaxKept) kept.answers.clear();
  kept.answers[ticket.id] = answer;
}

// Ids: what was asked, the hive, the key, then the name or path asked for
// (no name or path holds a null character).
std::string IdOf(char kind, int hive, const std::string& key, const std::string& name) {
  std::string id;
  id.reserve(key.size() + name.size() + 3);
  id += kind;
  id += static_cast<char>('0' + hive);
  id += key;
  id += '\0';
  id += name;
  return id;
}

}  // namespace

DWORD CachedOpenKey(int hive, const std::string& base, const std::vector<std::string>& elements,
                    std::string* path) {
  std::string wanted = FoldedPath(base, elements);
  if (wanted.empty()) return OpenKey(hive, base, elements, path);  // the hive: no read
  Ticket ticket;
  ticket.id = IdOf('k', hive, base, wanted);
  Answer answer;
  if (!Find(&ticket, &answer)) {
    answer.rc = OpenKey(hive, base, elements, path);
    Keep(ticket, answer);
    return answer.rc;
  }
  if (answer.rc == ERROR_SUCCESS) *path = std::move(wanted);
  return answer.rc;
}

DWORD CachedQueryValue(int hive, const std::string& key, const std::string& name, DWORD* type,
                       std::string* data) {
  Ticket ticket;
  ticket.withFile = true;
  ticket.id = IdOf('v', hive, key, FoldName(name));
  Answer answer;
  if (!Find(&ticket, &answer)) {
    answer.rc = QueryValue(hive, key, name, &answer.type, &answer.data);
    Keep(ticket, answer);
  }
  if (answer.rc == ERROR_SUCCESS) {
    *type = answer.type;
    *data = std::move(answer.data);
  }
  return answer.rc;
}

}  // namespace ostrel::platform::registry
