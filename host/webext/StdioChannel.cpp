#include "webext/StdioChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace ostrel::webext {

StdioChannel OpenStdioChannel() {
  StdioChannel channel;
  std::fflush(stdout);
  const int protocol = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (protocol < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) return channel;
  signal(SIGPIPE, SIG_IGN);
  // Read in large pieces: a queue of small messages costs one system call
  // per piece, not two per message.
  struct Input {
    std::vector<char> bytes = std::vector<char>(64 * 1024);
    std::size_t start = 0, end = 0;
  };
  const auto input = std::make_shared<Input>();
  channel.in = [input](char* into, std::size_t size) -> long {
    if (input->start == input->end) {
      ssize_t n;
      do n = read(STDIN_FILENO, input->bytes.data(), input->bytes.size());
      while (n < 0 && errno == EINTR);
      if (n <= 0) return static_cast<long>(n);
      input->start = 0;
      input->end = static_cast<std::size_t>(n);
    }
    const std::size_t n = std::min(size, input->end - input->start);
    std::memcpy(into, input->bytes.data() + input->start, n);
    input->start += n;
    return static_cast<long>(n);
  };
  channel.wait = [input](int ms) -> int {
    if (input->start < input->end) return 1;
    pollfd ready{STDIN_FILENO, POLLIN, 0};
    for (;;) {
      const int n = poll(&ready, 1, ms);
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

}  // namespace ostrel::webext
