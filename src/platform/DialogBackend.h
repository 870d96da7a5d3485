// Platform layer, internal: the seam between the dialog manager's window
// table (DialogManager.cpp) and a backend that shows dialogs on a screen
// (gtk/DialogGtk.cpp, loaded on demand as its own shared library so that
// programs that never show a window never load a toolkit).
// - The window table stays the one truth about controls; the backend reads
//   it through Controls() after every message it delivers and mirrors it in
//   its widgets, and reports what the user does through the User* calls,
//   which update the table and send the notification as the user's action
//   would.
// - Everything here is called on the dialog's thread. The backend binds to
//   the first thread that shows something and refuses other threads.
// Serves only the dialog manager, MessageBoxW, the folder chooser and the
// backend; nothing else includes it.
#pragma once

#include <string>
#include <vector>

#include "platform/DialogManager.h"

namespace ostrel::platform::dialogs {

struct ControlView {
  HWND handle;
  int id;
  DialogItemKind kind;
  DWORD style;
  std::wstring text;
  UINT check;
  std::vector<std::wstring> items;
  int selection;
  bool enabled;
};

struct TimerView {
  UINT_PTR id;
  UINT elapseMs;
  unsigned generation;  // changes each time SetTimer (re)starts it
};

// The window table, as the backend sees it.
std::vector<ControlView> Controls(HWND dialog);
std::vector<TimerView> Timers(HWND dialog);
bool Ended(HWND dialog);
INT_PTR Deliver(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void DeliverTimer(HWND dialog, UINT_PTR id);  // WM_TIMER, or the timer's callback
HWND FirstFocusable(HWND dialog);
// Whether a backend shows this dialog (message boxes and folder choosers
// it owns are then shown by the backend too).
bool ShownOnScreen(HWND dialog);

// The user's actions; false where a user could not act (see Testing.h).
bool UserTypes(HWND dialog, int id, const std::wstring& text);
bool UserPresses(HWND dialog, int id);
bool UserChooses(HWND dialog, int id, int index);
void UserFocuses(HWND control);

// What a backend library exports, under the C name kBackendEntry.
struct Backend {
  // Whether it can show windows here (a display, a toolkit that starts).
  bool (*open)();
  // Shows the dialog the table holds (WM_INITDIALOG not yet sent) and runs
  // it until it ends; false when it cannot be shown. What the procedure
  // raises comes out of run once the windows are gone.
  bool (*run)(HWND dialog, const DialogTemplate* t, HINSTANCE instance, HWND owner,
              LPARAM initParam);
  int (*messageBox)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
  // The folder chosen, or false when the user cancels.
  bool (*chooseFolder)(HWND owner, const wchar_t* title, std::wstring* path);
};
constexpr const char kBackendEntry[] = "OstrelDialogBackend";
constexpr const char kBackendLibrary[] = "libostrel_dialog_gtk.so";

// The backend for this thread, loaded and opened on first use: null when
// there is no display, the library or toolkit cannot be loaded, or another
// thread already owns it.
const Backend* ScreenBackend();

}  // namespace ostrel::platform::dialogs
