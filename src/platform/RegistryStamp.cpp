#include "platform/RegistryStamp.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "platform/RegistryStore.h"

namespace ostrel::platform::registry {
namespace {

using Counter = std::atomic<std::uint64_t>;
static_assert(Counter::is_always_lock_free, "the counter is shared between processes");

constexpr auto kRecheck = std::chrono::seconds(1);

bool Private(const struct stat& st) {
  return st.st_uid == getuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The process's mapping of one stamp file.
struct Mapping {
  std::string store;  // the store path it was mapped for
  std::string path;
  Counter* counter = nullptr;
  dev_t device = 0;
  ino_t inode = 0;
  std::uint64_t number = 0;
  std::chrono::steady_clock::time_point checked;

  void Drop() {
    if (counter) munmap(counter, sizeof(Counter));
    counter = nullptr;
    store.clear();
    path.clear();
  }

  // Maps the stamp file of storePath, made when missing (in an existing
  // folder).
  bool Map(const std::string& storePath, std::uint64_t nextNumber) {
    Drop();
    const std::string file = storePath + "-stamp";
    const std::string folder = file.substr(0, file.rfind('/'));
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !Private(st)) return false;
    const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool mapped = false;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && Private(st) &&
        (st.st_size >= static_cast<off_t>(sizeof(Counter)) ||
         ftruncate(fd, sizeof(Counter)) == 0)) {
      void* p = mmap(nullptr, sizeof(Counter), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (p != MAP_FAILED) {
        counter = static_cast<Counter*>(p);
        store = storePath;
        path = file;
        device = st.st_dev;
        inode = st.st_ino;
        number = nextNumber;
        checked = std::chrono::steady_clock::now();
        mapped = true;
      }
    }
    close(fd);
    return mapped;
  }

  // Still the stamp file of storePath: the store path is the same and,
  // when last checked over a second ago (or when asked to), the stamp
  // file's path still names the mapped file.
  bool Current(const std::string& storePath, bool recheck) {
    if (!counter || storePath != store) return false;
    const auto now = std::chrono::steady_clock::now();
    if (!recheck && now - checked < kRecheck) return true;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || st.st_dev != device || st.st_ino != inode) return false;
    checked = now;
    return true;
  }
};

std::mutex g_mutex;
Mapping g_mapping;
std::uint64_t g_mappings = 0;

Counter* CurrentCounter(const std::string& store, std::uint64_t* number, bool recheck) {
  if (store.empty()) return nullptr;
  if (!g_mapping.Current(store, recheck) && !g_mapping.Map(store, ++g_mappings)) return nullptr;
  *number = g_mapping.number;
  return g_mapping.counter;
}

}  // namespace

bool ReadChangeStamp(const std::string& store, ChangeStamp* stamp, bool recheck) noexcept {
  try {
    std::lock_guard<std::mutex> lock(g_mutex);
    Counter* counter = CurrentCounter(store, &stamp->mapping, recheck);
    if (!counter) return false;
    stamp->count = counter->load(std::memory_order_acquire);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void BumpChangeStamp() noexcept {
  try {
    const std::string store = StorePath();
    std::lock_guard<std::mutex> lock(g_mutex);
    std::uint64_t number = 0;
    // Checked now: the folder may have been made anew since the last look.
    if (Counter* counter = CurrentCounter(store, &number, true))
      counter->fetch_add(1, std::memory_order_acq_rel);
  } catch (const std::exception&) {
    // Only a path that cannot be built: then no reader has a stamp either.
  }
}

}  // namespace ostrel::platform::registry
