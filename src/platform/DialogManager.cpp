// The dialog manager's window table, the headless backend that a test's
// script drives, and the hand-over to a backend that shows windows. Procedures and timer callbacks are always called without
// the table's lock held, since they call back into the dialog manager.
#include "platform/DialogManager.h"

#include <algorithm>
#include <climits>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/DialogBackend.h"
#include "platform/Testing.h"

namespace {

struct Timer {
  TIMERPROC callback = nullptr;
  UINT elapseMs = 0;
  unsigned generation = 0;
};

struct Window {
  bool isDialog = false;
  HWND parent = nullptr;  // controls: their dialog
  // Controls.
  int id = -1;
  DialogItemKind kind = DialogItemKind::Text;
  DWORD style = 0;
  std::wstring text;
  UINT check = 0;
  std::vector<std::wstring> items;
  int selection = -1;
  // Both.
  bool enabled = true;
  LONG_PTR userData = 0;
  // Dialogs.
  DLGPROC proc = nullptr;
  std::thread::id thread;
  bool ended = false;
  bool onScreen = false;
  INT_PTR result = 0;
  std::map<UINT_PTR, Timer> timers;
  std::vector<HWND> controls;  // template order
};

std::mutex g_mutex;
UINT_PTR g_nextHandle = 0x1000;
ostrel::platform::testing::DialogScript g_script;
unsigned g_timerGeneration = 0;

std::map<HWND, std::unique_ptr<Window>>& Windows() {
  static auto* windows = new std::map<HWND, std::unique_ptr<Window>>;  // lives until exit
  return *windows;
}

thread_local HWND t_focus = nullptr;
thread_local std::vector<HWND> t_dialogs;  // running on this thread, innermost last

// Callers hold g_mutex.
Window* Find(HWND window) {
  const auto it = Windows().find(window);
  return it == Windows().end() ? nullptr : it->second.get();
}

Window* FindItem(HWND dialog, int id, HWND* handle = nullptr) {
  Window* d = Find(dialog);
  if (!d || !d->isDialog) return nullptr;
  for (HWND control : d->controls) {
    Window* c = Find(control);
    if (c && c->id == id) {
      if (handle) *handle = control;
      return c;
    }
  }
  return nullptr;
}

HWND NewHandle() {
  g_nextHandle += 0x10;
  return reinterpret_cast<HWND>(g_nextHandle);
}

bool CanFocus(const Window& w) {
  return !w.isDialog && w.enabled && (w.style & DIS_TABSTOP) && !(w.style & DIS_HIDDEN);
}

bool IsButton(DialogItemKind kind) {
  return kind == DialogItemKind::PushButton || kind == DialogItemKind::DefPushButton ||
         kind == DialogItemKind::AutoCheckBox;
}

INT_PTR CallProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  DLGPROC proc = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    Window* d = Find(dialog);
    if (!d || !d->isDialog) return 0;
    proc = d->proc;
  }
  return proc ? proc(dialog, message, wParam, lParam) : 0;
}

bool Ended(HWND dialog) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Window* d = Find(dialog);
  return !d || d->ended;
}

HWND CreateDialogWindows(const DialogTemplate& t, DLGPROC proc, HWND* firstTabStop,
                         bool onScreen) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const HWND dialog = NewHandle();
  auto d = std::make_unique<Window>();
  d->isDialog = true;
  d->onScreen = onScreen;
  d->proc = proc;
  d->thread = std::this_thread::get_id();
  d->text = t.caption ? t.caption : L"";
  *firstTabStop = nullptr;
  for (std::size_t i = 0; i < t.itemCount; ++i) {
    const DialogItemTemplate& item = t.items[i];
    auto c = std::make_unique<Window>();
    c->parent = dialog;
    c->id = item.id;
    c->kind = item.kind;
    c->style = item.style;
    c->text = item.text ? item.text : L"";
    const HWND handle = NewHandle();
    if (!*firstTabStop && CanFocus(*c)) *firstTabStop = handle;
    d->controls.push_back(handle);
    Windows()[handle] = std::move(c);
  }
  Windows()[dialog] = std::move(d);
  return dialog;
}

void DestroyDialogWindows(HWND dialog) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Window* d = Find(dialog);
  if (!d) return;
  for (HWND control : d->controls) {
    if (t_focus == control) t_focus = nullptr;
    Windows().erase(control);
  }
  if (t_focus == dialog) t_focus = nullptr;
  Windows().erase(dialog);
}

HWND FirstFocusableLocked(HWND dialog) {
  Window* d = Find(dialog);
  if (!d) return nullptr;
  for (HWND control : d->controls) {
    Window* c = Find(control);
    if (c && CanFocus(*c)) return control;
  }
  return nullptr;
}

// The windows of one running dialog, from creation to destruction, with the
// thread's dialog stack and focus; they go whatever the procedure raises.
class RunningDialog {
 public:
  RunningDialog(const DialogTemplate& t, DLGPROC proc, bool onScreen)
      : m_previousFocus(t_focus) {
    m_dialog = CreateDialogWindows(t, proc, &m_firstTabStop, onScreen);
    t_dialogs.push_back(m_dialog);
  }
  RunningDialog(const RunningDialog&) = delete;
  RunningDialog& operator=(const RunningDialog&) = delete;
  ~RunningDialog() {
    t_dialogs.pop_back();
    DestroyDialogWindows(m_dialog);
    t_focus = m_previousFocus;
  }
  HWND Dialog() const { return m_dialog; }
  HWND FirstTabStop() const { return m_firstTabStop; }
  INT_PTR Result() const {
    std::lock_guard<std::mutex> lock(g_mutex);
    Window* d = Find(m_dialog);
    return d && d->ended ? d->result : 0;
  }

 private:
  HWND m_previousFocus;
  HWND m_dialog = nullptr;
  HWND m_firstTabStop = nullptr;
};

// Runs one dialog the script drives; the script is the user.
INT_PTR RunHeadless(const DialogTemplate& t, DLGPROC proc, LPARAM initParam,
                    const ostrel::platform::testing::DialogScript& script) {
  RunningDialog running(t, proc, false);
  const HWND dialog = running.Dialog();
  const HWND firstTabStop = running.FirstTabStop();

  // A non-zero answer: the focus goes to the first control that can take it now.
  if (CallProc(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop), initParam))
    SetFocus(ostrel::platform::dialogs::FirstFocusable(dialog));
  if (!Ended(dialog)) CallProc(dialog, WM_SHOWWINDOW, TRUE, 0);
  if (!Ended(dialog)) script(dialog);
  // The user closes a dialog the script left open, as with its close box.
  if (!Ended(dialog)) CallProc(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  return running.Result();
}

}  // namespace

INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND owner, DLGPROC proc,
                        LPARAM initParam) {
  const DialogTemplate* t = FindDialogTemplate(instance, templateName);
  if (!t || !proc) return -1;
  ostrel::platform::testing::DialogScript script;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    script = g_script;
  }
  if (script) return RunHeadless(*t, proc, initParam, script);
  const ostrel::platform::dialogs::Backend* screen = ostrel::platform::dialogs::ScreenBackend();
  if (!screen) return -1;  // no display: nothing can show it
  RunningDialog running(*t, proc, true);
  if (!screen->run(running.Dialog(), t, instance, owner, initParam)) return -1;
  return running.Result();
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Window* d = Find(dialog);
  if (!d || !d->isDialog) return FALSE;
  if (!d->ended) {
    d->ended = true;
    d->result = result;
    d->timers.clear();
  }
  return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
  std::lock_guard<std::mutex> lock(g_mutex);
  HWND handle = nullptr;
  FindItem(dialog, id, &handle);
  return handle;
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Window* c = FindItem(dialog, id);
  if (!c) return FALSE;
  c->text = text ? text : L"";
  return TRUE;
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int bufferMax) {
  if (!buffer || bufferMax <= 0) return 0;
  buffer[0] = 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  Window* c = FindItem(dialog, id);
  if (!c) return 0;
  const std::size_t room = static_cast<std::size_t>(bufferMax - 1);
  const std::size_t copied = c->text.size() < room ? c->text.size() : room;
  std::wmemcpy(buffer, c->text.data(), copied);
  buffer[copied] = 0;
  return static_cast<UINT>(copied);
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
  const std::wstring text =
      isSigned ? std::to_wstring(static_cast<int>(value)) : std::to_wstring(value);
  return SetDlgItemTextW(dialog, id, text.c_str());
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
  if (translated) *translated = FALSE;
  std::wstring text;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    Window* c = FindItem(dialog, id);
    if (!c) return 0;
    text = c->text;
  }
  std::size_t i = 0;
  while (i < text.size() && text[i] == L' ') ++i;
  bool negative = false;
  if (isSigned && i < text.size() && text[i] == L'-') {
    negative = true;
    ++i;
  }
  const std::size_t firstDigit = i;
  unsigned long long value = 0;
  const unsigned long long limit =
      isSigned ? (negative ? 2147483648ull : 2147483647ull) : 4294967295ull;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + static_cast<unsigned>(text[i] - L'0');
    if (value > limit) return 0;
  }
  if (i == firstDigit) return 0;
  while (i < text.size() && text[i] == L' ') ++i;
  if (i != text.size()) return 0;
  if (translated) *translated = TRUE;
  return negative ? static_cast<UINT>(0u - static_cast<UINT>(value)) : static_cast<UINT>(value);
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Window* c = FindItem(dialog, id);
  if (!c || !IsButton(c->kind)) return FALSE;
  c->check = check ? BST_CHECKED : BST_UNCHECKED;
  return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Window* c = FindItem(dialog, id);
  return c && c->check ? BST_CHECKED : BST_UNCHECKED;
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    Window* w = Find(window);
    if (!w) return 0;
    if (!w->isDialog) {
      if (w->kind != DialogItemKind::DropDownList) return 0;
      const auto count = static_cast<LRESULT>(w->items.size());
      const auto index = static_cast<LRESULT>(static_cast<INT_PTR>(wParam));
      switch (message) {
        case CB_ADDSTRING:
          w->items.emplace_back(lParam ? reinterpret_cast<LPCWSTR>(lParam) : L"");
          return count;
        case CB_RESETCONTENT:
          w->items.clear();
          w->selection = -1;
          return CB_OKAY;
        case CB_GETCOUNT:
          return count;
        case CB_GETCURSEL:
          return w->selection;
        case CB_SETCURSEL:
          if (index < 0 || index >= count) {
            w->selection = -1;
            return CB_ERR;
          }
          w->selection = static_cast<int>(index);
          return index;
        case CB_GETLBTEXTLEN:
          return index < 0 || index >= count ? CB_ERR
                                             : static_cast<LRESULT>(w->items[index].size());
        case CB_GETLBTEXT:  // the caller's buffer holds CB_GETLBTEXTLEN + 1
          if (index < 0 || index >= count || !lParam) return CB_ERR;
          std::wmemcpy(reinterpret_cast<LPWSTR>(lParam), w->items[index].c_str(),
                       w->items[index].size() + 1);
          return static_cast<LRESULT>(w->items[index].size());
        default:
          return 0;
      }
    }
  }
  return CallProc(window, message, wParam, lParam);
}

BOOL EnableWindow(HWND window, BOOL enable) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Window* w = Find(window);
  if (!w) return FALSE;
  const BOOL wasDisabled = w->enabled ? FALSE : TRUE;
  w->enabled = enable != FALSE;
  if (!w->enabled && t_focus == window) t_focus = nullptr;
  return wasDisabled;
}

BOOL IsWindowEnabled(HWND window) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Window* w = Find(window);
  return w && w->enabled ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND window) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Window* w = Find(window);
  return w && !(w->style & DIS_HIDDEN) ? TRUE : FALSE;
}

BOOL IsWindow(HWND window) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return Find(window) ? TRUE : FALSE;
}

HWND SetFocus(HWND window) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Window* w = Find(window);
  if (!w || !w->enabled || (w->style & DIS_HIDDEN)) return nullptr;
  const HWND previous = t_focus;
  t_focus = window;
  return previous;
}

HWND GetFocus() { return t_focus; }

HWND GetActiveWindow() { return t_dialogs.empty() ? nullptr : t_dialogs.back(); }

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC callback) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Window* w = Find(window);
  if (!w || !w->isDialog || w->ended || id == 0) return 0;
  w->timers[id] = Timer{callback, elapseMs, ++g_timerGeneration};
  return id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Window* w = Find(window);
  return w && w->timers.erase(id) ? TRUE : FALSE;
}

LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Window* w = Find(window);
  if (!w || index != GWLP_USERDATA) return 0;
  const LONG_PTR previous = w->userData;
  w->userData = value;
  return previous;
}

LONG_PTR GetWindowLongPtrW(HWND window, int index) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Window* w = Find(window);
  return w && index == GWLP_USERDATA ? w->userData : 0;
}

namespace ostrel::platform::dialogs {

std::vector<ControlView> Controls(HWND dialog) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::vector<ControlView> views;
  Window* d = Find(dialog);
  if (!d || !d->isDialog) return views;
  for (HWND control : d->controls) {
    const Window* c = Find(control);
    if (c)
      views.push_back(
          {control, c->id, c->kind, c->style, c->text, c->check, c->items, c->selection, c->enabled});
  }
  return views;
}

std::vector<TimerView> Timers(HWND dialog) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::vector<TimerView> views;
  Window* d = Find(dialog);
  if (d && !d->ended)
    for (const auto& timer : d->timers)
      views.push_back({timer.first, timer.second.elapseMs, timer.second.generation});
  return views;
}

bool Ended(HWND dialog) { return ::Ended(dialog); }

INT_PTR Deliver(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return CallProc(dialog, message, wParam, lParam);
}

void DeliverTimer(HWND dialog, UINT_PTR id) {
  TIMERPROC callback = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    Window* d = Find(dialog);
    if (!d || d->ended) return;
    const auto it = d->timers.find(id);
    if (it == d->timers.end()) return;  // killed meanwhile
    callback = it->second.callback;
  }
  if (callback)
    callback(dialog, WM_TIMER, id, 0);
  else
    CallProc(dialog, WM_TIMER, id, 0);
}

HWND FirstFocusable(HWND dialog) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return FirstFocusableLocked(dialog);
}

bool ShownOnScreen(HWND dialog) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Window* d = Find(dialog);
  return d && d->isDialog && d->onScreen && !d->ended;
}

bool UserTypes(HWND dialog, int id, const std::wstring& text) {
  HWND handle = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    Window* d = Find(dialog);
    Window* c = FindItem(dialog, id, &handle);
    if (!d || d->ended || !c || !c->enabled || (c->style & (DIS_HIDDEN | DIS_READONLY)) ||
        c->kind != DialogItemKind::Edit)
      return false;
    c->text = text;
  }
  CallProc(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), EN_CHANGE),
           reinterpret_cast<LPARAM>(handle));
  return true;
}

bool UserPresses(HWND dialog, int id) {
  HWND handle = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    Window* d = Find(dialog);
    Window* c = FindItem(dialog, id, &handle);
    if (!d || d->ended || !c || !c->enabled || (c->style & DIS_HIDDEN) || !IsButton(c->kind))
      return false;
    if (c->kind == DialogItemKind::AutoCheckBox) c->check = c->check ? BST_UNCHECKED : BST_CHECKED;
  }
  CallProc(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
           reinterpret_cast<LPARAM>(handle));
  return true;
}

bool UserChooses(HWND dialog, int id, int index) {
  HWND handle = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    Window* d = Find(dialog);
    Window* c = FindItem(dialog, id, &handle);
    if (!d || d->ended || !c || !c->enabled || c->kind != DialogItemKind::DropDownList ||
        index < 0 || static_cast<std::size_t>(index) >= c->items.size())
      return false;
    c->selection = index;
  }
  CallProc(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), CBN_SELCHANGE),
           reinterpret_cast<LPARAM>(handle));
  return true;
}

void UserFocuses(HWND control) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (Find(control)) t_focus = control;
}

}  // namespace ostrel::platform::dialogs

namespace ostrel::platform::testing {

void ScriptDialogs(DialogScript script) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_script = std::move(script);
}

bool TypeInto(HWND dialog, int id, const std::wstring& text) {
  return dialogs::UserTypes(dialog, id, text);
}

bool Press(HWND dialog, int id) { return dialogs::UserPresses(dialog, id); }

bool ChooseItem(HWND dialog, int id, int index) {
  return dialogs::UserChooses(dialog, id, index);
}

std::vector<UINT_PTR> RunningTimers(HWND dialog) {
  std::vector<UINT_PTR> ids;
  for (const dialogs::TimerView& timer : dialogs::Timers(dialog)) ids.push_back(timer.id);
  return ids;
}

int ElapseTimers(HWND dialog) {
  int delivered = 0;
  for (UINT_PTR id : RunningTimers(dialog)) {
    if (::Ended(dialog)) break;
    const std::vector<UINT_PTR> running = RunningTimers(dialog);
    if (std::find(running.begin(), running.end(), id) == running.end()) continue;  // killed by an earlier one
    dialogs::DeliverTimer(dialog, id);
    ++delivered;
  }
  return delivered;
}

}  // namespace ostrel::platform::testing
