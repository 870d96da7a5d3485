// The object table's file: its private folder, and opening, checking,
// setting aside, starting afresh and mapping the file (see ObjectTable.h).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/ObjectTable.h"
#include "platform/UserFolders.h"
#include "platform/WinError.h"

namespace ostrel::platform::kernel {
namespace {

constexpr std::uint32_t kMagic = 0x4B4F424Au;  // "KOBJ"
constexpr std::uint32_t kLayout = static_cast<std::uint32_t>(sizeof(SharedTable));

// Byte-range locks on the file, held per open file (so a forked child shares
// its parent's): byte 0 exclusively while a process checks or prepares the
// file, byte 1 shared by every process that has it mapped, for its lifetime.
constexpr off_t kPrepareByte = 0;
constexpr off_t kInUseByte = 1;

std::string FileName() { return "objects-v" + std::to_string(kLayoutVersion); }

bool LockByte(int fd, short type, off_t byte, bool wait) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = byte;
  range.l_len = 1;
  int rc;
  do {
    rc = fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &range);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

// Opens path as a directory owned by this user and closed to everyone else.
int OpenPrivateDir(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & 077) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// $XDG_RUNTIME_DIR/ostrel; without that variable, ostrel in the user's own
// cache folder, never a name in a shared folder that someone else could
// take first.
std::string FolderPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') return std::string(runtime) + "/ostrel";
  const std::string cache = folders::CacheHome();
  return cache.empty() ? std::string() : cache + "/ostrel";
}

// The kernel's id of this boot, or all zeros when it cannot be read.
void ReadBootId(char (&id)[40]) {
  std::memset(id, 0, sizeof id);
  const int fd = open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  const ssize_t n = read(fd, id, sizeof id - 1);
  close(fd);
  if (n <= 0) std::memset(id, 0, sizeof id);
}

// Whether the name in the folder still leads to the open file (another
// process may have set it aside while this one waited for the lock).
bool StillNamed(int dirfd, int fd) {
  struct stat named, opened;
  return fstatat(dirfd, FileName().c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         fstat(fd, &opened) == 0 && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

// Keeps a file that cannot be used under a new name beside it.
bool SetAside(int dirfd) {
  const std::string aside = FileName() + ".set-aside-" + std::to_string(std::time(nullptr)) + "-" +
                            std::to_string(getpid());
  return renameat(dirfd, FileName().c_str(), dirfd, aside.c_str()) == 0;
}

// Empties the file and reserves its full size, so that touching the mapping
// can never fail for want of room.
DWORD StartAfresh(int fd) {
  if (ftruncate(fd, 0) != 0) return ERROR_ACCESS_DENIED;
  if (posix_fallocate(fd, 0, sizeof(SharedTable)) != 0) {
    (void)ftruncate(fd, 0);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return ERROR_SUCCESS;
}

enum class Verdict { Use, Fresh, SetAside, Refuse };

// What to do with the open file (prepare lock held).
Verdict Judge(int fd, const struct stat& st, const char (&bootId)[40]) {
  // Nobody else has the file mapped when the in-use byte can be taken alone.
  const bool alone = LockByte(fd, F_WRLCK, kInUseByte, false);
  TableHeader header{};
  const bool fullSize = st.st_size == static_cast<off_t>(sizeof(SharedTable));
  if (fullSize && pread(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header))
    return Verdict::Refuse;
  Verdict verdict;
  if (st.st_size == 0 || (fullSize && header.magic == 0)) {
    verdict = Verdict::Fresh;  // new, or its creator died before it was ready
  } else if (fullSize && header.magic == kMagic && header.layout == kLayout) {
    if (std::memcmp(header.bootId, bootId, sizeof header.bootId) == 0) return Verdict::Use;
    verdict = Verdict::Fresh;  // from an earlier boot
  } else {
    verdict = Verdict::SetAside;  // another layout, or damaged: never reinterpreted
  }
  // Starting afresh or moving the file under a live process would pull the
  // table from under it.
  return alone ? verdict : Verdict::Refuse;
}

void Initialise(SharedTable* t, const char (&bootId)[40]) {
  std::memcpy(t->header.bootId, bootId, sizeof t->header.bootId);
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutex_init(&t->lock, &attr);
  pthread_mutexattr_destroy(&attr);
  t->header.layout = kLayout;
  __atomic_store_n(&t->header.magic, kMagic, __ATOMIC_RELEASE);
}

// Checks the open file and maps it (prepare lock held). *again: the file was
// set aside, open the name anew.
DWORD Prepare(int dirfd, int fd, SharedTable** table, bool* again) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & 077) != 0)
    return ERROR_ACCESS_DENIED;
  char bootId[40];
  ReadBootId(bootId);
  const Verdict verdict = Judge(fd, st, bootId);
  if (verdict == Verdict::Refuse) return ERROR_INVALID_DATA;
  if (verdict == Verdict::SetAside) {
    if (!SetAside(dirfd)) return ERROR_ACCESS_DENIED;
    *again = true;
    return ERROR_SUCCESS;
  }
  if (verdict == Verdict::Fresh) {
    const DWORD error = StartAfresh(fd);
    if (error != ERROR_SUCCESS) return error;
  }
  // From now on this process counts as a user of the file.
  if (!LockByte(fd, F_RDLCK, kInUseByte, true)) return ERROR_ACCESS_DENIED;
  void* map = mmap(nullptr, sizeof(SharedTable), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) return ERROR_NOT_ENOUGH_MEMORY;
  *table = static_cast<SharedTable*>(map);
  if (verdict == Verdict::Fresh) Initialise(*table, bootId);
  return ERROR_SUCCESS;
}

}  // namespace

std::string ResolveFolder() {
  const std::string path = FolderPath();
  if (path.empty() || folders::MakePrivateFolders(path) != 0) return std::string();
  const int fd = OpenPrivateDir(path);
  if (fd < 0) return std::string();
  close(fd);
  return path;
}

DWORD MapTable(const std::string& folder, MappedTable* out) {
  const int dirfd = OpenPrivateDir(folder);
  if (dirfd < 0) return ERROR_ACCESS_DENIED;
  DWORD error = ERROR_ACCESS_DENIED;
  // A few rounds: each one that finds the file set aside opens the new one.
  for (int round = 0; round < 4; ++round) {
    const int fd =
        openat(dirfd, FileName().c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      error = ERROR_ACCESS_DENIED;
      break;
    }
    SharedTable* table = nullptr;
    bool again = false;
    if (!LockByte(fd, F_WRLCK, kPrepareByte, true)) {
      error = ERROR_ACCESS_DENIED;
    } else if (!StillNamed(dirfd, fd)) {
      again = true;
    } else {
      error = Prepare(dirfd, fd, &table, &again);
    }
    LockByte(fd, F_UNLCK, kPrepareByte, false);
    if (table) {
      out->table = table;
      out->fd = fd;
      close(dirfd);
      return ERROR_SUCCESS;
    }
    close(fd);
    if (!again) break;
  }
  close(dirfd);
  return error == ERROR_SUCCESS ? ERROR_ACCESS_DENIED : error;
}

void UnmapTable(MappedTable& mapped) {
  if (mapped.table) munmap(mapped.table, sizeof(SharedTable));
  if (mapped.fd >= 0) close(mapped.fd);
  mapped = MappedTable{};
}

}  // namespace ostrel::platform::kernel
