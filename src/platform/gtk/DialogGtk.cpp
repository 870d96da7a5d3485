// The on-screen dialog backend over GTK 3, built as its own library and
// loaded by the dialog manager only where a display is named
// (platform/DialogBackend.h). It mirrors the window table in widgets placed
// from the template's dialog units, measured with the template's font as
// the dialog manager would (a horizontal unit is a quarter of the font's
// average character width, a vertical one an eighth of its height), runs a
// nested main loop per modal dialog with the window's timers as GLib
// timeouts, and shows message boxes and folder choosers over the dialog.
// Every call comes on the one thread that opened the backend; nothing here
// is locked.
#include <gtk/gtk.h>

#include <cstdlib>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "platform/DialogBackend.h"
#include "platform/Utf8.h"

namespace {

namespace d = ostrel::platform::dialogs;
using ostrel::platform::FromUtf8;
using ostrel::platform::ToUtf8;

// Drop-down lists: the template gives the height with the list dropped; the
// closed box is as tall as an edit.
constexpr int kClosedListHeightDlu = 14;
// A text no taller than this holds one line.
constexpr int kOneLineDlu = 10;

const char kCss[] =
    ".ostrel-dialog entry { min-height: 0; padding: 0 3px; }"
    ".ostrel-dialog button { min-height: 0; min-width: 0; padding: 0 4px; }"
    ".ostrel-dialog combobox button { padding: 0 4px; }"
    ".ostrel-dialog checkbutton { padding: 0; }"
    ".ostrel-dialog check { min-width: 11px; min-height: 11px; margin: 0 4px 0 0; }"
    ".ostrel-dialog frame > border { border-radius: 0; }";

struct Shown {
  HWND dialog = nullptr;
  GtkWidget* window = nullptr;
  GMainLoop* loop = nullptr;
  std::map<HWND, GtkWidget*> widgets;
  std::map<HWND, std::vector<std::wstring>> listItems;  // as last put in the widget
  struct Source {
    guint id;
    unsigned generation;
  };
  std::map<UINT_PTR, Source> timers;
  HWND focus = nullptr;  // the table's focus as last mirrored
  bool syncing = false;
  std::exception_ptr raised;  // what the procedure raised, rethrown by Run
};

std::map<HWND, Shown*> g_shown;

struct BaseUnits {
  int x, y;
};

std::string Mnemonic(const wchar_t* text) {
  std::wstring out;
  for (const wchar_t* c = text; c && *c; ++c) {
    if (*c == L'&' && c[1] == L'&') {
      out += L'&';
      ++c;
    } else if (*c == L'&') {
      out += L'_';
    } else if (*c == L'_') {
      out += L"__";
    } else {
      out += *c;
    }
  }
  return ToUtf8(out);
}

std::string FontOf(const DialogTemplate& t) {
  const std::string family = t.fontName ? ToUtf8(t.fontName) : std::string();
  // The named face where the machine has it, the desktop's sans otherwise.
  return (family.empty() ? std::string() : family + ", ") + "Sans " + std::to_string(t.pointSize);
}

BaseUnits Measure(const std::string& font) {
  PangoFontDescription* description = pango_font_description_from_string(font.c_str());
  PangoContext* context = gdk_pango_context_get();
  PangoLayout* layout = pango_layout_new(context);
  pango_layout_set_font_description(layout, description);
  pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
  int width = 0, height = 0;
  pango_layout_get_pixel_size(layout, &width, &height);
  g_object_unref(layout);
  g_object_unref(context);
  pango_font_description_free(description);
  // The average of the alphabet, rounded, as the dialog manager computes it.
  BaseUnits units{(width / 26 + 1) / 2, height};
  if (units.x <= 0 || units.y <= 0) units = {6, 13};
  return units;
}

void CatchInto(Shown* shown) {
  if (!shown->raised) shown->raised = std::current_exception();
  if (g_main_loop_is_running(shown->loop)) g_main_loop_quit(shown->loop);
}

void Sync(Shown* shown);

// After each message: end the loop once the dialog has ended, otherwise
// show what the procedure changed.
void AfterMessage(Shown* shown) {
  if (d::Ended(shown->dialog) || shown->raised) {
    if (g_main_loop_is_running(shown->loop)) g_main_loop_quit(shown->loop);
    return;
  }
  Sync(shown);
}

struct TimerTick {
  Shown* shown;
  UINT_PTR id;
};

gboolean OnTimer(gpointer data) {
  // Copied first: the procedure may restart the timer, which frees data.
  const TimerTick tick = *static_cast<TimerTick*>(data);
  try {
    d::DeliverTimer(tick.shown->dialog, tick.id);
    AfterMessage(tick.shown);
  } catch (...) {
    CatchInto(tick.shown);
  }
  return G_SOURCE_CONTINUE;
}

void SyncTimers(Shown* shown) {
  const std::vector<d::TimerView> running = d::Timers(shown->dialog);
  for (auto it = shown->timers.begin(); it != shown->timers.end();) {
    bool kept = false;
    for (const d::TimerView& timer : running)
      kept = kept || (timer.id == it->first && timer.generation == it->second.generation);
    if (kept) {
      ++it;
    } else {
      g_source_remove(it->second.id);
      it = shown->timers.erase(it);
    }
  }
  for (const d::TimerView& timer : running) {
    if (shown->timers.count(timer.id)) continue;
    auto* tick = new TimerTick{shown, timer.id};
    const guint source = g_timeout_add_full(
        G_PRIORITY_DEFAULT, timer.elapseMs, OnTimer, tick,
        [](gpointer data) { delete static_cast<TimerTick*>(data); });
    shown->timers[timer.id] = {source, timer.generation};
  }
}

void Sync(Shown* shown) {
  shown->syncing = true;
  for (const d::ControlView& c : d::Controls(shown->dialog)) {
    const auto found = shown->widgets.find(c.handle);
    if (found == shown->widgets.end()) continue;
    GtkWidget* widget = found->second;
    gtk_widget_set_sensitive(widget, c.enabled);
    const std::string text = ToUtf8(c.text);
    switch (c.kind) {
      case DialogItemKind::Text:
      case DialogItemKind::CentredText:
        if (text != gtk_label_get_text(GTK_LABEL(widget)))
          gtk_label_set_text(GTK_LABEL(widget), text.c_str());
        break;
      case DialogItemKind::Edit:
        if (text != gtk_entry_get_text(GTK_ENTRY(widget)))
          gtk_entry_set_text(GTK_ENTRY(widget), text.c_str());
        break;
      case DialogItemKind::AutoCheckBox:
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget), c.check != 0);
        break;
      case DialogItemKind::DropDownList: {
        std::vector<std::wstring>& shownItems = shown->listItems[c.handle];
        if (shownItems != c.items) {
          gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(widget));
          for (const std::wstring& item : c.items)
            gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(widget), ToUtf8(item).c_str());
          shownItems = c.items;
        }
        gtk_combo_box_set_active(GTK_COMBO_BOX(widget), c.selection);
        break;
      }
      default:
        break;
    }
  }
  // The procedure moved the focus: the window follows.
  const HWND focus = GetFocus();
  if (focus != shown->focus) {
    shown->focus = focus;
    const auto found = shown->widgets.find(focus);
    if (found != shown->widgets.end()) gtk_widget_grab_focus(found->second);
  }
  SyncTimers(shown);
  shown->syncing = false;
}

struct ControlRef {
  Shown* shown;
  HWND handle;
  int id;
};

ControlRef* RefFor(GtkWidget* widget) {
  return static_cast<ControlRef*>(g_object_get_data(G_OBJECT(widget), "ostrel-control"));
}

void OnClicked(GtkWidget* widget, gpointer) {
  ControlRef* ref = RefFor(widget);
  if (!ref || ref->shown->syncing) return;
  try {
    d::UserPresses(ref->shown->dialog, ref->id);
    AfterMessage(ref->shown);
  } catch (...) {
    CatchInto(ref->shown);
  }
}

void OnEdited(GtkWidget* widget, gpointer) {
  ControlRef* ref = RefFor(widget);
  if (!ref || ref->shown->syncing) return;
  try {
    d::UserTypes(ref->shown->dialog, ref->id, FromUtf8(gtk_entry_get_text(GTK_ENTRY(widget))));
    AfterMessage(ref->shown);
  } catch (...) {
    CatchInto(ref->shown);
  }
}

void OnChosen(GtkWidget* widget, gpointer) {
  ControlRef* ref = RefFor(widget);
  if (!ref || ref->shown->syncing) return;
  const int index = gtk_combo_box_get_active(GTK_COMBO_BOX(widget));
  if (index < 0) return;
  try {
    d::UserChooses(ref->shown->dialog, ref->id, index);
    AfterMessage(ref->shown);
  } catch (...) {
    CatchInto(ref->shown);
  }
}

gboolean OnFocusIn(GtkWidget* widget, GdkEvent*, gpointer) {
  ControlRef* ref = RefFor(widget);
  if (ref && !ref->shown->syncing) {
    d::UserFocuses(ref->handle);
    ref->shown->focus = ref->handle;
  }
  return FALSE;
}

// The close box and Escape: IDCANCEL, as the dialog manager sends it.
void Cancel(Shown* shown) {
  try {
    d::Deliver(shown->dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    AfterMessage(shown);
  } catch (...) {
    CatchInto(shown);
  }
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
  Cancel(static_cast<Shown*>(data));
  return TRUE;  // the window goes when the dialog ends
}

gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
  if (event->keyval != GDK_KEY_Escape) return FALSE;
  Cancel(static_cast<Shown*>(data));
  return TRUE;
}

// Null when the bitmap cannot be decoded.
GdkPixbuf* PixbufOf(const BitmapResource& bitmap) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("bmp", nullptr);
  if (!loader) return nullptr;
  const bool written = gdk_pixbuf_loader_write(loader, bitmap.bmp, bitmap.size, nullptr);
  const bool closed = gdk_pixbuf_loader_close(loader, nullptr);
  GdkPixbuf* pixbuf = written && closed ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  if (pixbuf) g_object_ref(pixbuf);
  g_object_unref(loader);
  return pixbuf;
}

GtkWidget* NewWidget(const d::ControlView& c, const DialogItemTemplate& item, HINSTANCE instance) {
  const std::string text = ToUtf8(c.text);
  switch (c.kind) {
    case DialogItemKind::Text:
    case DialogItemKind::CentredText: {
      GtkWidget* label = gtk_label_new(text.c_str());
      const bool centred = c.kind == DialogItemKind::CentredText;
      // A one-line text runs on past its rectangle rather than wrap into
      // the control below it where this font is wider than the template's.
      gtk_label_set_line_wrap(GTK_LABEL(label), item.cy > kOneLineDlu);
      gtk_label_set_justify(GTK_LABEL(label), centred ? GTK_JUSTIFY_CENTER : GTK_JUSTIFY_LEFT);
      gtk_label_set_xalign(GTK_LABEL(label), centred ? 0.5f : 0.0f);
      gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
      return label;
    }
    case DialogItemKind::Bitmap: {
      GtkWidget* frame = gtk_frame_new(nullptr);
      gtk_frame_set_shadow_type(GTK_FRAME(frame),
                                (c.style & DIS_SUNKEN) ? GTK_SHADOW_IN : GTK_SHADOW_NONE);
      const BitmapResource* bitmap = FindBitmapResource(instance, item.resource);
      GdkPixbuf* pixbuf = bitmap ? PixbufOf(*bitmap) : nullptr;
      if (pixbuf) {
        gtk_container_add(GTK_CONTAINER(frame), gtk_image_new_from_pixbuf(pixbuf));
        g_object_unref(pixbuf);
      }
      return frame;
    }
    case DialogItemKind::GroupBox:
      return gtk_frame_new(text.c_str());
    case DialogItemKind::PushButton:
    case DialogItemKind::DefPushButton:
      return gtk_button_new_with_mnemonic(Mnemonic(c.text.c_str()).c_str());
    case DialogItemKind::AutoCheckBox:
      return gtk_check_button_new_with_mnemonic(Mnemonic(c.text.c_str()).c_str());
    case DialogItemKind::Edit: {
      GtkWidget* entry = gtk_entry_new();
      gtk_entry_set_text(GTK_ENTRY(entry), text.c_str());
      gtk_editable_set_editable(GTK_EDITABLE(entry), !(c.style & DIS_READONLY));
      gtk_entry_set_has_frame(GTK_ENTRY(entry), TRUE);
      gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
      gtk_entry_set_width_chars(GTK_ENTRY(entry), 1);
      return entry;
    }
    case DialogItemKind::DropDownList:
      return gtk_combo_box_text_new();
  }
  return gtk_label_new("");
}

void Connect(GtkWidget* widget, const d::ControlView& c, Shown* shown) {
  auto* ref = new ControlRef{shown, c.handle, c.id};
  g_object_set_data_full(G_OBJECT(widget), "ostrel-control", ref,
                         [](gpointer data) { delete static_cast<ControlRef*>(data); });
  switch (c.kind) {
    case DialogItemKind::PushButton:
    case DialogItemKind::DefPushButton:
    case DialogItemKind::AutoCheckBox:
      g_signal_connect(widget, "clicked", G_CALLBACK(OnClicked), nullptr);
      break;
    case DialogItemKind::Edit:
      g_signal_connect(widget, "changed", G_CALLBACK(OnEdited), nullptr);
      break;
    case DialogItemKind::DropDownList:
      g_signal_connect(widget, "changed", G_CALLBACK(OnChosen), nullptr);
      break;
    default:
      return;
  }
  gtk_widget_set_can_focus(widget, (c.style & DIS_TABSTOP) != 0);
  g_signal_connect(widget, "focus-in-event", G_CALLBACK(OnFocusIn), nullptr);
}

// For documentation: OSTREL_DIALOG_SNAPSHOT names a PNG file that receives
// the dialog as drawn, after which the dialog is closed as with its close
// box.
gboolean TakeSnapshot(gpointer data) {
  auto* shown = static_cast<Shown*>(data);
  const char* path = std::getenv("OSTREL_DIALOG_SNAPSHOT");
  GdkWindow* window = gtk_widget_get_window(shown->window);
  if (path && window) {
    GdkPixbuf* image = gdk_pixbuf_get_from_window(window, 0, 0, gdk_window_get_width(window),
                                                  gdk_window_get_height(window));
    GError* error = nullptr;
    if (!image || !gdk_pixbuf_save(image, path, "png", &error, nullptr))
      g_printerr("[dialogs] snapshot %s not written: %s\n", path,
                 error ? error->message : "no image");
    if (error) g_error_free(error);
    if (image) g_object_unref(image);
  }
  Cancel(shown);
  return G_SOURCE_REMOVE;
}

GtkWindow* WindowOf(HWND owner) {
  const auto found = g_shown.find(owner);
  return found == g_shown.end() ? nullptr : GTK_WINDOW(found->second->window);
}

bool Open() {
  // The host's locale stays as the host set it (unless the host runs GTK
  // itself, and so has started it already).
  if (!gdk_display_get_default()) gtk_disable_setlocale();
  if (!gtk_init_check(nullptr, nullptr)) return false;
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, kCss, -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
  return true;
}

bool Run(HWND dialog, const DialogTemplate* t, HINSTANCE instance, HWND owner, LPARAM initParam) {
  Shown shown;
  shown.dialog = dialog;
  const std::string font = FontOf(*t);
  const BaseUnits units = Measure(font);
  auto px = [&](int dlu) { return dlu * units.x / 4; };
  auto py = [&](int dlu) { return dlu * units.y / 8; };

  shown.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* window = GTK_WINDOW(shown.window);
  gtk_window_set_title(window, t->caption ? ToUtf8(t->caption).c_str() : "");
  gtk_window_set_resizable(window, FALSE);
  gtk_window_set_modal(window, TRUE);
  gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
  GtkWindow* parent = WindowOf(owner);
  if (parent) gtk_window_set_transient_for(window, parent);
  gtk_window_set_position(window, parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  gtk_style_context_add_class(gtk_widget_get_style_context(shown.window), "ostrel-dialog");
  // Every widget of the dialog in the template's font, as measured.
  GtkCssProvider* fontCss = gtk_css_provider_new();
  const std::string family = t->fontName ? "\"" + ToUtf8(t->fontName) + "\", " : "";
  const std::string fontRule = ".ostrel-dialog, .ostrel-dialog * { font-family: " + family +
                               "Sans; font-size: " + std::to_string(t->pointSize) + "pt; }";
  gtk_css_provider_load_from_data(fontCss, fontRule.c_str(), -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(fontCss),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, px(t->cx), py(t->cy));
  gtk_container_add(GTK_CONTAINER(window), fixed);
  const std::vector<d::ControlView> controls = d::Controls(dialog);
  for (std::size_t i = 0; i < controls.size() && i < t->itemCount; ++i) {
    const d::ControlView& c = controls[i];
    const DialogItemTemplate& item = t->items[i];
    GtkWidget* widget = NewWidget(c, item, instance);
    const int height = c.kind == DialogItemKind::DropDownList && item.cy > kClosedListHeightDlu
                           ? kClosedListHeightDlu
                           : item.cy;
    gtk_widget_set_size_request(widget, px(item.cx), py(height));
    gtk_fixed_put(GTK_FIXED(fixed), widget, px(item.x), py(item.y));
    if (c.style & DIS_HIDDEN) gtk_widget_set_no_show_all(widget, TRUE);
    if (c.kind == DialogItemKind::DefPushButton) {
      gtk_widget_set_can_default(widget, TRUE);
      gtk_window_set_default(window, widget);
    }
    Connect(widget, c, &shown);
    shown.widgets[c.handle] = widget;
  }
  g_signal_connect(shown.window, "delete-event", G_CALLBACK(OnDelete), &shown);
  g_signal_connect(shown.window, "key-press-event", G_CALLBACK(OnKey), &shown);
  shown.loop = g_main_loop_new(nullptr, FALSE);
  g_shown[dialog] = &shown;

  try {
    const HWND firstTabStop = d::FirstFocusable(dialog);
    if (d::Deliver(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop), initParam))
      SetFocus(d::FirstFocusable(dialog));
    AfterMessage(&shown);
    if (!d::Ended(dialog)) {
      gtk_widget_show_all(shown.window);
      d::Deliver(dialog, WM_SHOWWINDOW, TRUE, 0);
      AfterMessage(&shown);
    }
  } catch (...) {
    CatchInto(&shown);
  }
  if (!d::Ended(dialog) && !shown.raised) {
    if (std::getenv("OSTREL_DIALOG_SNAPSHOT")) g_timeout_add(1000, TakeSnapshot, &shown);
    g_main_loop_run(shown.loop);
  }

  g_source_remove_by_user_data(&shown);  // a snapshot not yet taken
  for (const auto& timer : shown.timers) g_source_remove(timer.second.id);
  g_shown.erase(dialog);
  gtk_widget_destroy(shown.window);
  g_main_loop_unref(shown.loop);
  gtk_style_context_remove_provider_for_screen(gdk_screen_get_default(),
                                               GTK_STYLE_PROVIDER(fontCss));
  g_object_unref(fontCss);
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);  // the window leaves the screen
  if (shown.raised) std::rethrow_exception(shown.raised);
  return true;
}

int DismissedAnswer(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_YESNO:
      return IDNO;
    case MB_ABORTRETRYIGNORE:
      return IDABORT;
    case MB_OK:
      return IDOK;
    default:
      return IDCANCEL;
  }
}

int MessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  GtkMessageType kind = GTK_MESSAGE_OTHER;
  switch (type & 0xF0) {
    case MB_ICONERROR:
      kind = GTK_MESSAGE_ERROR;
      break;
    case MB_ICONQUESTION:
      kind = GTK_MESSAGE_QUESTION;
      break;
    case MB_ICONWARNING:
      kind = GTK_MESSAGE_WARNING;
      break;
    case MB_ICONINFORMATION:
      kind = GTK_MESSAGE_INFO;
      break;
  }
  std::wstring body = text ? text : L"";
  std::wstring::size_type cr;
  while ((cr = body.find(L'\r')) != std::wstring::npos) body.erase(cr, 1);
  GtkWidget* box = gtk_message_dialog_new(WindowOf(owner), GTK_DIALOG_MODAL, kind, GTK_BUTTONS_NONE,
                                          "%s", ToUtf8(body).c_str());
  gtk_window_set_title(GTK_WINDOW(box), ToUtf8(caption ? caption : L"").c_str());
  struct Choice {
    const char* label;
    int answer;
  };
  static const Choice kOk[] = {{"_OK", IDOK}};
  static const Choice kOkCancel[] = {{"_OK", IDOK}, {"_Cancel", IDCANCEL}};
  static const Choice kAbortRetryIgnore[] = {
      {"_Abort", IDABORT}, {"_Retry", IDRETRY}, {"_Ignore", IDIGNORE}};
  static const Choice kYesNoCancel[] = {{"_Yes", IDYES}, {"_No", IDNO}, {"_Cancel", IDCANCEL}};
  static const Choice kYesNo[] = {{"_Yes", IDYES}, {"_No", IDNO}};
  static const Choice kRetryCancel[] = {{"_Retry", IDRETRY}, {"_Cancel", IDCANCEL}};
  const Choice* first = kOk;
  std::size_t count = 1;
  auto use = [&](const auto& table) {
    first = table;
    count = sizeof table / sizeof table[0];
  };
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
      use(kOkCancel);
      break;
    case MB_ABORTRETRYIGNORE:
      use(kAbortRetryIgnore);
      break;
    case MB_YESNOCANCEL:
      use(kYesNoCancel);
      break;
    case MB_YESNO:
      use(kYesNo);
      break;
    case MB_RETRYCANCEL:
      use(kRetryCancel);
      break;
    default:
      break;
  }
  for (std::size_t i = 0; i < count; ++i)
    gtk_dialog_add_button(GTK_DIALOG(box), first[i].label, first[i].answer);
  gtk_dialog_set_default_response(GTK_DIALOG(box), first[0].answer);
  const int response = gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
  return response > 0 ? response : DismissedAnswer(type);
}

bool ChooseFolder(HWND owner, const wchar_t* title, std::wstring* path) {
  GtkWidget* chooser = gtk_file_chooser_dialog_new(
      ToUtf8(title ? title : L"").c_str(), WindowOf(owner), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER,
      "_Cancel", GTK_RESPONSE_CANCEL, "_Select", GTK_RESPONSE_ACCEPT, nullptr);
  gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
  bool chosen = false;
  if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
    if (gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser))) {
      *path = FromUtf8(name);
      g_free(name);
      chosen = !path->empty();
    }
  }
  gtk_widget_destroy(chooser);
  return chosen;
}

const d::Backend kBackend = {Open, Run, MessageBox, ChooseFolder};

}  // namespace

extern "C" __attribute__((visibility("default"))) const d::Backend* OstrelDialogBackend() {
  return &kBackend;
}
