// Platform layer: the dialog manager. Modal dialogs built from a module's
// dialog template (platform/ResourceTables.h), their controls, timers, focus and
// the window user-data slot, with the meanings the dialog classes rely on:
// - DialogBoxParamW runs a modal dialog on the calling thread: the
//   procedure gets WM_INITDIALOG (the last parameter as given; a non-zero
//   answer puts the focus on the first tabbing control), WM_SHOWWINDOW,
//   then WM_COMMAND and WM_TIMER while it runs; it returns the value given
//   to EndDialog, or -1 when the dialog cannot be created (unknown
//   template, no way to show it).
// - Which backend shows the dialog: a test's script (platform/Testing.h)
//   when one is set; otherwise windows on the screen (GTK 3) where DISPLAY
//   or WAYLAND_DISPLAY names a display that opens, the first thread to show
//   one owning the screen; with no display, or on another thread, the
//   dialog fails (-1). On the screen, controls sit where the template's
//   dialog units put them in the template's font, timers run as the dialog
//   runs, and the close box and Escape send IDCANCEL.
// - Control calls on a handle that is not a live window, or an id the
//   dialog does not have, fail (FALSE, 0, null) and change nothing.
// Calls are safe from any thread; a dialog's procedure runs on the thread
// that called DialogBoxParamW.
#pragma once

#include "platform/Resources.h"
#include "platform/WinUser.h"

using DLGPROC = INT_PTR(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

constexpr UINT WM_CLOSE = 0x0010;

constexpr int GWLP_USERDATA = -21;
constexpr int GWL_USERDATA = -21;

constexpr UINT BST_UNCHECKED = 0;
constexpr UINT BST_CHECKED = 1;

// Notification codes in the high word of WM_COMMAND's first parameter.
constexpr WORD BN_CLICKED = 0;
constexpr WORD CBN_SELCHANGE = 1;
constexpr WORD EN_CHANGE = 0x0300;

// Combo-box messages.
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_GETLBTEXTLEN = 0x0149;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr LRESULT CB_OKAY = 0;
constexpr LRESULT CB_ERR = -1;

inline WORD LOWORD(UINT_PTR value) { return static_cast<WORD>(value & 0xFFFF); }
inline WORD HIWORD(UINT_PTR value) { return static_cast<WORD>((value >> 16) & 0xFFFF); }
inline WPARAM MAKEWPARAM(WORD low, WORD high) {
  return static_cast<WPARAM>(low) | (static_cast<WPARAM>(high) << 16);
}

INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND owner, DLGPROC proc,
                        LPARAM initParam);
// Ends the dialog once its procedure returns; DialogBoxParamW gives result.
BOOL EndDialog(HWND dialog, INT_PTR result);

HWND GetDlgItem(HWND dialog, int id);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
// Copies the text, cut to bufferMax - 1 characters; the characters copied.
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int bufferMax);
BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
// The decimal number in the text (spaces around it allowed; a minus sign
// only when signed); *translated tells whether the text was one that fits.
UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);  // any non-zero ticks
UINT IsDlgButtonChecked(HWND dialog, int id);          // BST_CHECKED or 0

// To a dialog: its procedure's answer. To a list: the combo-box messages
// above (CB_ERR for an index out of range). Anything else: 0.
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Non-zero when the window was disabled before.
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
BOOL IsWindowVisible(HWND window);
BOOL IsWindow(HWND window);
// The thread's focus window before the call (null when none, or when the
// window cannot take the focus: the focus then stays).
HWND SetFocus(HWND window);
HWND GetFocus();
// The thread's topmost running dialog, null when it runs none.
HWND GetActiveWindow();

// A timer of the window: WM_TIMER with the id (or the callback) while the
// dialog runs; an id already running is restarted. The id, 0 on failure.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC callback);
BOOL KillTimer(HWND window, UINT_PTR id);

// The user-data slot (GWLP_USERDATA); the previous value.
LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrW(HWND window, int index);
