// The host programs as the end-to-end tests run them: a program started
// with pipes to its standard input and output, its standard error in a file
// if one is named (and killed, if still running, when the test ends); ostrel-serve on a free port of 127.0.0.1; and the
// flat JSON objects ostrel-browser writes, one a line.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/regex.hpp>

extern char** environ;

namespace ostrel::test {

class Program {
 public:
  explicit Program(const std::vector<std::string>& argv, const std::string& errorsFile = "") {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (!errorsFile.empty())
      posix_spawn_file_actions_addopen(&actions, 2, errorsFile.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    m_in = in[1];
    m_out = out[0];
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program() {
    CloseInput();
    if (m_pid > 0 && m_status == kRunning) {
      kill(m_pid, SIGTERM);
      Wait();
    }
    if (m_out >= 0) close(m_out);
  }

  void Write(const std::string& bytes) {
    if (m_in >= 0 && write(m_in, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      CloseInput();
  }
  void CloseInput() {
    if (m_in >= 0) close(m_in);
    m_in = -1;
  }

  // The next line of its output, or nothing at its end or after timeoutMs.
  std::optional<std::string> ReadLine(int timeoutMs = 30000) {
    const auto deadline = Deadline(timeoutMs);
    for (;;) {
      const std::size_t end = m_buffer.find('\n');
      if (end != std::string::npos) {
        std::string line = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 1);
        return line;
      }
      if (Fill(deadline) <= 0) return std::nullopt;
    }
  }

  // Up to size bytes of its output: how many, 0 at its end, -1 once the
  // deadline has passed.
  long ReadSome(char* into, std::size_t size, std::chrono::steady_clock::time_point deadline) {
    if (m_buffer.empty()) {
      const long n = Fill(deadline);
      if (n <= 0) return n;
    }
    const std::size_t n = std::min(size, m_buffer.size());
    m_buffer.copy(into, n);
    m_buffer.erase(0, n);
    return static_cast<long>(n);
  }
  // The rest of its output, up to its end.
  std::string ReadAll(int timeoutMs = 30000) {
    const auto deadline = Deadline(timeoutMs);
    while (Fill(deadline) > 0) {
    }
    return std::exchange(m_buffer, std::string());
  }

  static std::chrono::steady_clock::time_point Deadline(int timeoutMs) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  }

  // Its exit status (-1 when a signal ended it), waiting for it to end.
  int Wait() {
    if (m_pid <= 0) return -1;
    if (m_status != kRunning) return m_status;
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0) {
    }
    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m_status;
  }

 private:
  // Appends what the output has to the buffer: how many bytes, 0 at its
  // end, -1 once the deadline has passed.
  long Fill(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{m_out, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return -1;
    char chunk[4096];
    const ssize_t n = read(m_out, chunk, sizeof chunk);
    if (n <= 0) return n < 0 ? -1 : 0;
    m_buffer.append(chunk, static_cast<std::size_t>(n));
    return static_cast<long>(n);
  }

  static constexpr int kRunning = -2;
  pid_t m_pid = -1;
  int m_in = -1;
  int m_out = -1;
  int m_status = kRunning;
  std::string m_buffer;
};

// ostrel-serve over a folder, on a free port; stopped with the test.
class StaticServer {
 public:
  explicit StaticServer(const std::string& folder)
      : m_program({OSTREL_SERVE, folder, "--port", "0"}) {
    const std::optional<std::string> first = m_program.ReadLine(10000);
    const std::string marker = "http://127.0.0.1:";
    const std::size_t at = first ? first->find(marker) : std::string::npos;
    if (at != std::string::npos) m_base = first->substr(at, first->size() - at);
  }
  // "http://127.0.0.1:PORT/", empty when the server did not start.
  const std::string& Base() const { return m_base; }
  // The next request it logged ("GET /path?query 200 123").
  std::optional<std::string> NextRequest() { return m_program.ReadLine(10000); }

 private:
  Program m_program;
  std::string m_base;
};

// One line of ostrel-browser --json (a flat object): field name to its
// value as text (strings unescaped, null, numbers and booleans as written).
using JsonLine = std::map<std::string, std::string>;

inline std::optional<JsonLine> ParseJsonLine(const std::string& line) {
  static const boost::regex field(R"re("(\w+)":(?:"((?:[^"\\]|\\.)*)"|([^,"}]*))(,|\}$))re");
  JsonLine fields;
  std::size_t matched = 1;
  for (auto it = boost::sregex_iterator(line.begin(), line.end(), field);
       it != boost::sregex_iterator(); ++it) {
    std::string value = (*it)[3].matched ? (*it)[3].str() : std::string();
    const std::string quoted = (*it)[2].str();
    for (std::size_t i = 0; i < quoted.size(); ++i) {
      if (quoted[i] != '\\') {
        value += quoted[i];
      } else if (quoted[++i] == 'u') {
        value += static_cast<char>(std::stoi(quoted.substr(i + 1, 4), nullptr, 16));
        i += 4;
      } else {
        value += quoted[i] == 'n'   ? '\n'
                 : quoted[i] == 'r' ? '\r'
                 : quoted[i] == 't' ? '\t'
                                    : quoted[i];
      }
    }
    fields[(*it)[1].str()] = value;
    matched += static_cast<std::size_t>(it->length());
  }
  if (line.empty() || line[0] != '{' || matched != line.size()) return std::nullopt;
  return fields;
}

}  // namespace ostrel::test
