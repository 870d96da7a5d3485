// Platform layer: seams through which tests (and only tests) script the
// stand-ins: message-box answers, the program that opens addresses, and a
// GUID source that fails. Nothing in the system or the hosts calls these.
#pragma once

#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace ostrel::platform::testing {

struct MessageBoxCall {
  std::wstring text;
  std::wstring caption;
  UINT type;
};

// Queues answers for the next message boxes, first answer first.
void ScriptMessageBoxAnswers(const std::vector<int>& answers);

// Returns the message boxes shown since the last call, and drops any
// answers still queued.
std::vector<MessageBoxCall> TakeMessageBoxCalls();

// The program ShellExecuteW runs to open an address ("xdg-open" when empty).
void SetShellOpenCommand(const std::string& program);

// The path GetModuleFileNameW reports for the program from now on (empty:
// its real path again), so a test process can pass for a browser.
void SetProgramPath(const std::string& path);

// Makes CoCreateGuid fail (true) or work again (false).
void SetGuidCreationFails(bool fails);

// Kernel objects. The version GetVersionExW reports from now on (6.1 until
// set); making it fail (true) or work again (false); and how often it has
// been called in this process.
void SetReportedWindowsVersion(DWORD major, DWORD minor);
void SetVersionQueryFails(bool fails);
unsigned long VersionQueryCount();

// The waits in progress, in every process, on the object of this handle
// (0 for a handle that is not valid), so a test can act once waiters block.
unsigned long KernelObjectWaits(HANDLE object);

// In a forked child: leaves the kernel-object table this process inherited
// (its handles are gone), so that the next kernel-object call opens the
// table anew from the current environment, as a new process would.
void ForgetKernelObjectTable();

// Caps the process entries and the waits of the kernel-object table that
// this process, and children it forks from now on, may take (0: no cap), so
// a test reaches the limits without thousands of processes.
void CapKernelObjectTable(unsigned processes, unsigned waits);

// Runs hook once, in this process's next CloseHandle, just before that call
// takes the process's handle lock: a second close racing with it, made
// deterministic.
void BeforeNextHandleClose(void (*hook)());

// Makes this process kill itself (SIGKILL) in its next grant of a waiter,
// after granting and before waking it, while it holds the table's lock.
void DieInNextGrant();

}  // namespace ostrel::platform::testing

// HTTP client (platform/WinInet.h). The limits every fetch from now on
// runs under, so that tests of stalls and caps finish in moments. A stall
// is noticed within about a second after its limit.
namespace ostrel::platform::testing {

struct HttpLimits {
  DWORD connectTimeoutMs = 30000;
  DWORD stallTimeoutMs = 60000;
  DWORD responseTimeoutMs = 15 * 60 * 1000;
  std::size_t maxBodyBytes = 16u << 20;
  long maxRedirects = 10;
};

void SetHttpLimits(const HttpLimits& limits);
HttpLimits GetHttpLimits();

// While on, every fetch of this process connects to 127.0.0.1 at the port
// its address names, whatever the host, and ignores proxies: no name is
// looked up and nothing leaves the machine. The test programs turn it on
// for every test, so a list built with the default addresses stays local.
void ConfineHttpToLoopback(bool on);

}  // namespace ostrel::platform::testing

// Dialogs (platform/DialogManager.h) and the folder chooser
// (platform/ShlObj.h), headless. While a script is set, DialogBoxParamW
// runs each dialog on the calling thread: it builds the windows from the
// template, sends WM_INITDIALOG and WM_SHOWWINDOW, then calls the script
// with the dialog window; the script acts as the user. A dialog the script
// leaves open is then closed as with its close box (IDCANCEL). An empty
// script turns this off (DialogBoxParamW then fails with -1).
#include <functional>

namespace ostrel::platform::testing {

using DialogScript = std::function<void(HWND dialog)>;
void ScriptDialogs(DialogScript script);

// What the user does in a running dialog. Each sends the notification the
// control would (EN_CHANGE, BN_CLICKED, CBN_SELCHANGE) and returns true; it
// does nothing and returns false where a user could not act: the dialog
// has ended, or the control is missing, of another kind, disabled, hidden
// or (for typing) read-only. Pressing an automatic check box toggles it.
bool TypeInto(HWND dialog, int id, const std::wstring& text);
bool Press(HWND dialog, int id);
bool ChooseItem(HWND dialog, int id, int index);

// The dialog's running timers, and one elapse of each (WM_TIMER to the
// procedure, or the timer's callback); how many were delivered.
std::vector<UINT_PTR> RunningTimers(HWND dialog);
int ElapseTimers(HWND dialog);

// Answers for the next folder choosers, first first: a path is chosen, an
// empty string cancels. An unscripted chooser is cancelled.
void ScriptFolderChoices(const std::vector<std::wstring>& paths);

struct FolderChooserCall {
  HWND owner;
  std::wstring title;
  UINT flags;
  bool rootIsDrives;
};
// The choosers shown since the last call; drops choices still queued.
std::vector<FolderChooserCall> TakeFolderChooserCalls();

}  // namespace ostrel::platform::testing
