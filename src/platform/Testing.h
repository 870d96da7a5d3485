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

// Makes CoCreateGuid fail (true) or work again (false).
void SetGuidCreationFails(bool fails);

// Kernel objects. The version GetVersionExW reports from now on (6.1 until
// set); making it fail (true) or work again (false); and how often it has
// been called in this process.
void SetReportedWindowsVersion(DWORD major, DWORD minor);
void SetVersionQueryFails(bool fails);
unsigned long VersionQueryCount();

// The private folder of this user's kernel-object table, resolved from the
// current environment and checked as at the table's first use (created when
// missing); empty when it is not the user's own or is open to others.
std::string KernelObjectFolder();

// The waits in progress, in every process, on the object of this handle
// (0 for a handle that is not valid), so a test can act once waiters block.
unsigned long KernelObjectWaits(HANDLE object);

}  // namespace ostrel::platform::testing

// HTTP client (platform/WinInet.h). The limits every fetch from now on
// runs under, so that tests of stalls and caps finish in moments. A stall
// counts in whole seconds (rounded up, at least 1).
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

}  // namespace ostrel::platform::testing
