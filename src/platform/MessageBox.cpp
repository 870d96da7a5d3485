#include <cstdio>
#include <deque>
#include <mutex>

#include "platform/DialogBackend.h"
#include "platform/Testing.h"
#include "platform/Utf8.h"
#include "platform/WinUser.h"

namespace {

struct HeadlessState {
  std::mutex mutex;
  std::deque<int> answers;
  std::vector<ostrel::platform::testing::MessageBoxCall> calls;
};

HeadlessState& State() {
  static HeadlessState* state = new HeadlessState;  // lives until exit
  return *state;
}

int DismissedAnswer(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_YESNO:
      return IDNO;
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
    case MB_RETRYCANCEL:
      return IDCANCEL;
    case MB_ABORTRETRYIGNORE:
      return IDABORT;
    default:
      return IDOK;
  }
}

}  // namespace

namespace ostrel::platform::testing {

void ScriptMessageBoxAnswers(const std::vector<int>& answers) {
  HeadlessState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.answers.insert(s.answers.end(), answers.begin(), answers.end());
}

std::vector<MessageBoxCall> TakeMessageBoxCalls() {
  HeadlessState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::vector<MessageBoxCall> calls;
  calls.swap(s.calls);
  s.answers.clear();
  return calls;
}

}  // namespace ostrel::platform::testing

int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
  const std::wstring text = lpText ? lpText : L"";
  const std::wstring caption = lpCaption ? lpCaption : L"Error";
  // A box owned by a dialog on the screen is shown over it.
  if (hWnd && ostrel::platform::dialogs::ShownOnScreen(hWnd)) {
    if (const auto* screen = ostrel::platform::dialogs::ScreenBackend())
      return screen->messageBox(hWnd, text.c_str(), caption.c_str(), uType);
  }
  HeadlessState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.calls.push_back({text, caption, uType});
  if (!s.answers.empty()) {
    const int answer = s.answers.front();
    s.answers.pop_front();
    return answer;
  }
  const int answer = DismissedAnswer(uType);
  std::fprintf(stderr, "[message box] %s: %s\n", ostrel::platform::ToUtf8(caption).c_str(),
               ostrel::platform::ToUtf8(text).c_str());
  return answer;
}
