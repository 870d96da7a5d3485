// Per-process test isolation and helpers shared by every test program.
// Each test process gets a private root folder; HOME, XDG_CONFIG_HOME,
// XDG_RUNTIME_DIR and TMPDIR point inside it before any test runs, so the
// registry store, the kernel-object table and the temporary folder of one
// test never meet another's. The folder is removed when the process exits.
// The Windows test programs (tests/windows) give TestRoot and the file
// helpers only (TestRoot: a private folder holding tmp\, the process's TMP
// and TEMP).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace ostrel::test {

// The private root folder of this test process.
const std::string& TestRoot();

// Runs fn in a forked child process and returns the child's exit status
// (0 to 255), or -1 when the child died from a signal. The child calls
// _exit with fn's result, so it never runs the parent's atexit handlers.
int RunInChild(const std::function<int()>& fn);

// The two halves of RunInChild, for several children at once. Fork only
// from the test's main thread while no other thread runs: a child forked
// while another thread holds an allocator lock can hang.
int StartChild(const std::function<int()>& fn);  // the child's pid, -1 on failure
int WaitChild(int pid);                           // as RunInChild's result

// What a program run by RunProgram did.
struct ProgramRun {
  int status;       // exit status, -1 when it died from a signal
  std::string out;  // its standard output
  std::string err;  // its standard error
};

// Runs a program with standard input at /dev/null (a question it asked
// would find no answer) and collects what it wrote.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args);

// Reads a whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// Writes bytes to a file, replacing it; false on failure.
bool WriteFileBytes(const std::string& path, const std::string& bytes);

// A path that opens for reading as a disk file but whose first read fails.
std::string UnreadableFilePath();

}  // namespace ostrel::test
