#include "ui/Resources.h"

#include <mutex>

#include "ui/ResourceScript.h"
#include "ui/ShieldBitmap.h"

namespace {

// The tables of ui/ResourceScript.h.
#define OSTREL_ITEM(id, kind, text, x, y, cx, cy, style, bitmap) \
  {id, DialogItemKind::kind, text, x, y, cx, cy, style, bitmap},
const DialogItemTemplate kConfigItems[] = {OSTREL_CONFIG_DIALOG_ITEMS(OSTREL_ITEM)};
#undef OSTREL_ITEM

#define OSTREL_DIALOG(id, caption, font, pointSize, cx, cy) \
  {id, caption, font, pointSize, cx, cy, kConfigItems, sizeof kConfigItems / sizeof kConfigItems[0]},
const DialogTemplate kDialogs[] = {OSTREL_CONFIG_DIALOG(OSTREL_DIALOG)};
#undef OSTREL_DIALOG

#define OSTREL_STRING(id, text) {id, text},
const StringResource kStrings[] = {OSTREL_STRING_TABLE(OSTREL_STRING)};
#undef OSTREL_STRING

// Built at first use: the bitmap's size is another file's constant.
const ModuleResources* Resources() {
  static const BitmapResource bitmaps[] = {
      {OSTREL_SHIELD_BITMAP, kShieldBitmap, kShieldBitmapSize}};
  static const ModuleResources resources{kDialogs, sizeof kDialogs / sizeof kDialogs[0],
                                         kStrings, sizeof kStrings / sizeof kStrings[0],
                                         bitmaps,  sizeof bitmaps / sizeof bitmaps[0]};
  return &resources;
}

std::mutex g_mutex;
HINSTANCE g_instance = nullptr;
bool g_registered = false;

}  // namespace

void SetResourceInstance(HINSTANCE instance) {
  std::lock_guard<std::mutex> lock(g_mutex);
  RegisterModuleResources(instance, Resources());
  g_instance = instance;
  g_registered = true;
}

HINSTANCE GetResourceInstance() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_registered) {
    RegisterModuleResources(g_instance, Resources());
    g_registered = true;
  }
  return g_instance;
}
