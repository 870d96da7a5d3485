// A forked child process for cross-process tests, with a pipe each way for
// 32-bit messages. The child runs the body and _exits with its result (99
// when it throws), so it never returns into the test framework. Every wait
// is bounded, so a fault shows as a failed expectation, not a hung suite.
// The destructor kills (SIGKILL) and reaps a child that is still running.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "common/Eventually.h"

namespace ostrel::test {

class ChildProcess {
 public:
  using Body = std::function<int(ChildProcess& self)>;

  explicit ChildProcess(const Body& body) {
    int down[2], up[2];
    if (pipe2(down, O_CLOEXEC) != 0) return;
    if (pipe2(up, O_CLOEXEC) != 0) {
      close(down[0]);
      close(down[1]);
      return;
    }
    std::fflush(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
      close(down[1]);
      close(up[0]);
      m_in = down[0];
      m_out = up[1];
      int rc = 1;
      try {
        rc = body(*this);
      } catch (...) {
        rc = 99;
      }
      _exit(rc);
    }
    close(down[0]);
    close(up[1]);
    m_out = down[1];
    m_in = up[0];
    if (m_pid > 0) m_pidfd = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
  }

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  ~ChildProcess() {
    if (m_pid > 0 && !m_reaped) {
      kill(m_pid, SIGKILL);
      Reap();
    }
    for (int fd : {m_in, m_out, m_pidfd})
      if (fd >= 0) close(fd);
  }

  bool Started() const { return m_pid > 0; }
  pid_t Pid() const { return m_pid; }

  // Either side: sends a value to the other side.
  bool Send(std::uint32_t value) { return write(m_out, &value, sizeof value) == sizeof value; }

  // Either side: the next value from the other side; false at its end or
  // when timeoutMs (-1: no limit) passes first.
  bool Receive(std::uint32_t* value, int timeoutMs = 10000) {
    pollfd p{m_in, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    return read(m_in, value, sizeof *value) == sizeof *value;
  }

  // Parent: the index of the first of these children to send a value
  // (stored in *value), or -1 when none does within timeoutMs.
  static int ReceiveAny(const std::vector<ChildProcess*>& children, std::uint32_t* value,
                        int timeoutMs = 10000) {
    std::vector<pollfd> fds;
    for (ChildProcess* c : children) fds.push_back(pollfd{c->m_in, POLLIN, 0});
    if (poll(fds.data(), fds.size(), timeoutMs) <= 0) return -1;
    for (std::size_t i = 0; i < fds.size(); ++i)
      if (fds[i].revents & POLLIN) return children[i]->Receive(value, 0) ? static_cast<int>(i) : -1;
    return -1;
  }

  // Parent: kills the child with SIGKILL and returns once it has ended,
  // without reaping it (it stays a zombie until Wait or destruction).
  void Kill() {
    if (m_pid <= 0 || m_reaped) return;
    kill(m_pid, SIGKILL);
    if (m_pidfd >= 0) {
      pollfd p{m_pidfd, POLLIN, 0};
      poll(&p, 1, 10000);
    } else {
      Reap();
    }
  }

  // Parent: waits up to timeoutMs for the child to end. Its exit status
  // (0 to 255), -1 when a signal ended it, -2 when it still runs.
  int Wait(int timeoutMs = 10000) {
    if (m_pid <= 0) return -2;
    if (m_reaped) return m_status;
    if (m_pidfd >= 0) {
      pollfd p{m_pidfd, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0) return -2;
    }
    return Reap();
  }

 private:
  int Reap() {
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_reaped = true;
    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m_status;
  }

  pid_t m_pid = -1;
  int m_in = -1;
  int m_out = -1;
  int m_pidfd = -1;
  bool m_reaped = false;
  int m_status = -2;
};

}  // namespace ostrel::test
