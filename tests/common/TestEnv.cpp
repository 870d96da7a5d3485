#include "common/TestEnv.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace ostrel::test {
namespace {

pid_t g_owner = 0;

void RemoveRoot() {
  if (getpid() != g_owner) return;  // forked children leave it alone
  std::error_code ec;
  std::filesystem::remove_all(TestRoot(), ec);
}

std::string MakeRoot() {
  const char* base = std::getenv("OSTREL_TEST_TMP");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/ostrel-test-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create the test folder");
  g_owner = getpid();
  std::atexit(RemoveRoot);
  return pattern;
}

}  // namespace

const std::string& TestRoot() {
  // Never destroyed: the exit handler that removes the folder still needs it.
  static const std::string* root = new std::string(MakeRoot());
  return *root;
}

int StartChild(const std::function<int()>& fn) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    int rc = 1;
    try {
      rc = fn();
    } catch (...) {
      rc = 99;
    }
    _exit(rc);
  }
  return pid;
}

int WaitChild(int pid) {
  if (pid <= 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Opens as a file; reading at offset 0, which no mapping covers, fails (EIO).
std::string UnreadableFilePath() { return "/proc/self/mem"; }

int RunInChild(const std::function<int()>& fn) { return WaitChild(StartChild(fn)); }

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args) {
  static int runs = 0;
  const std::string stem = TestRoot() + "/run" + std::to_string(++runs);
  const std::string out = stem + ".out", err = stem + ".err";
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || o < 0 || e < 0) _exit(126);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  while (pid > 0 && waitpid(pid, &status, 0) < 0) {
  }
  return {pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileBytes(out),
          ReadFileBytes(err)};
}

}  // namespace ostrel::test
