#include "chromium/StdioChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace ostrel::chromium {

StdioChannel OpenStdioChannel() {
  StdioChannel channel;
  std::fflush(stdout);
  const int protocol = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (protocol < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) return channel;
  signal(SIGPIPE, SIG_IGN);
  channel.in = [](char* into, std::size_t size) -> long {
    for (;;) {
      const ssize_t n = read(STDIN_FILENO, into, size);
      if (n >= 0 || errno != EINTR) return static_cast<long>(n);
    }
  };
  channel.wait = [](int ms) -> int {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    for (;;) {
      const int n = poll(&input, 1, ms);
      if (n >= 0 || errno != EINTR) return n;
    }
  };
  channel.out = [protocol](const char* bytes, std::size_t size) {
    while (size > 0) {
      const ssize_t n = write(protocol, bytes, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      bytes += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  };
  channel.ok = true;
  return channel;
}

bool InputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

long ProcessId() { return static_cast<long>(getpid()); }

}  // namespace ostrel::chromium
