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

}  // namespace ostrel::platform::testing
