#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ShellApi.h"
#include "platform/Testing.h"
#include "platform/Utf8.h"

extern char** environ;

namespace {

std::mutex g_openerMutex;
std::string g_opener = "xdg-open";

std::string Opener() {
  std::lock_guard<std::mutex> lock(g_openerMutex);
  return g_opener;
}

bool IsBrowserFile(LPCWSTR file) {
  if (!file) return false;
  const wchar_t* expected = L"iexplore.exe";
  for (; *file && *expected; ++file, ++expected) {
    wchar_t c = *file;
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != *expected) return false;
  }
  return *file == 0 && *expected == 0;
}

HINSTANCE Result(INT_PTR value) { return reinterpret_cast<HINSTANCE>(value); }

// Exit status of the opener, or -1 while it still runs after the grace time.
int WaitBriefly(pid_t pid) {
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + seconds(5);
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    if (r < 0 && errno != EINTR) return 128;
    if (steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(milliseconds(10));
  }
}

}  // namespace

namespace ostrel::platform::testing {
void SetShellOpenCommand(const std::string& program) {
  std::lock_guard<std::mutex> lock(g_openerMutex);
  g_opener = program.empty() ? "xdg-open" : program;
}
}  // namespace ostrel::platform::testing

HINSTANCE ShellExecuteW(HWND, LPCWSTR, LPCWSTR lpFile, LPCWSTR lpParameters, LPCWSTR, INT) {
  if (!IsBrowserFile(lpFile)) return Result(SE_ERR_FNF);

  const std::string program = Opener();
  const std::string address = ostrel::platform::ToUtf8(lpParameters ? lpParameters : L"");
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(address.c_str()), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return Result(SE_ERR_FNF);

  const int status = WaitBriefly(pid);
  if (status < 0) {
    // Still running (a browser kept in the foreground): it started; reap it later.
    std::thread([pid] {
      int ignored = 0;
      while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
      }
    }).detach();
    return Result(42);
  }
  if (status == 127) return Result(SE_ERR_FNF);  // the opener could not be run
  return Result(status == 0 ? 42 : SE_ERR_NOASSOC);
}
