// Isolation and helpers shared by the Windows test programs (WinTestMain.cpp).
#pragma once

#include <string>
#include <vector>

namespace ostrel::test {

// A fresh folder for the process's lifetime, then removed with everything
// in it; its tmp\ is the process's temporary folder (TMP and TEMP). While
// it lives it is the TestRoot of common/TestEnv.h. One at a time.
class PrivateTempFolder {
 public:
  PrivateTempFolder();
  ~PrivateTempFolder();
  PrivateTempFolder(const PrivateTempFolder&) = delete;
  PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;
  const std::wstring& Path() const { return m_path; }

 private:
  std::wstring m_path;
};

// Removes HKEY_CURRENT_USER\SOFTWARE\Ostrel with everything under it.
void DeleteFilterSettings();

// Whether this program runs under Wine (its ntdll says so).
bool RunningUnderWine();

// The path of this test program.
std::wstring ThisProgram();

// Runs this program again with the arguments given (as one command line
// tail) and returns its exit code, or -1 when it could not be started or
// did not end within timeoutMs.
int RunThisProgram(const std::wstring& arguments, unsigned long timeoutMs = 60000);

// The flag that makes this program a child role (see ChildRole).
inline const char kChildRoleFlag[] = "--ostrel-child-role";

// A copy of this program running one test as a child role: tests whose
// suite name begins with "ChildRole" run only there (the parent's run
// leaves them out), and a child role keeps the filter settings its parent
// wrote. Started at construction; the destructor ends the copy if it still
// runs. Used by the thread that made it.
class ChildRole {
 public:
  explicit ChildRole(const std::wstring& test);
  ~ChildRole();
  ChildRole(const ChildRole&) = delete;
  ChildRole& operator=(const ChildRole&) = delete;

  // The copy's exit code (0: its test passed), or -1 when it could not be
  // started or did not end within timeoutMs.
  int Wait(unsigned long timeoutMs = 60000);

 private:
  void* m_process;
};

}  // namespace ostrel::test
