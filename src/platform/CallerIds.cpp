// The caller's thread and process ids (ObjectTable.h), asked of the kernel
// once per thread.
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <mutex>

#include "platform/ObjectTable.h"

namespace ostrel::platform::kernel {
namespace {

thread_local std::int32_t t_tid = 0;
thread_local std::int32_t t_pid = 0;

// In a child the thread that forked is the only one, and runs this.
void ForgetIds() { t_tid = t_pid = 0; }

void ForgetIdsAtFork() {
  static std::once_flag once;
  std::call_once(once, [] { pthread_atfork(nullptr, nullptr, ForgetIds); });
}

}  // namespace

std::int32_t CurrentTid() {
  if (!t_tid) {
    ForgetIdsAtFork();
    t_tid = static_cast<std::int32_t>(syscall(SYS_gettid));
  }
  return t_tid;
}

std::int32_t CurrentPid() {
  if (!t_pid) {
    ForgetIdsAtFork();
    t_pid = getpid();
  }
  return t_pid;
}

}  // namespace ostrel::platform::kernel
