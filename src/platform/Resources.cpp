#include "platform/Resources.h"

#include <cwchar>
#include <map>
#include <mutex>

namespace {

std::mutex g_mutex;

std::map<HINSTANCE, const ModuleResources*>& Table() {
  static auto* table = new std::map<HINSTANCE, const ModuleResources*>;  // lives until exit
  return *table;
}

const ModuleResources* Find(HINSTANCE instance) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const auto it = Table().find(instance);
  return it == Table().end() ? nullptr : it->second;
}

}  // namespace

void RegisterModuleResources(HINSTANCE instance, const ModuleResources* resources) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (resources)
    Table()[instance] = resources;
  else
    Table().erase(instance);
}

const DialogTemplate* FindDialogTemplate(HINSTANCE instance, LPCWSTR name) {
  const UINT_PTR id = reinterpret_cast<UINT_PTR>(name);
  if (id > 0xFFFF) return nullptr;  // only numbered templates exist here
  const ModuleResources* r = Find(instance);
  if (!r) return nullptr;
  for (std::size_t i = 0; i < r->dialogCount; ++i)
    if (r->dialogs[i].id == id) return &r->dialogs[i];
  return nullptr;
}

const BitmapResource* FindBitmapResource(HINSTANCE instance, WORD id) {
  const ModuleResources* r = Find(instance);
  if (!r) return nullptr;
  for (std::size_t i = 0; i < r->bitmapCount; ++i)
    if (r->bitmaps[i].id == id) return &r->bitmaps[i];
  return nullptr;
}

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax) {
  if (!buffer || bufferMax <= 0) return 0;
  buffer[0] = 0;
  const ModuleResources* r = Find(instance);
  if (!r) return 0;
  for (std::size_t i = 0; i < r->stringCount; ++i) {
    if (r->strings[i].id != id) continue;
    const std::size_t length = std::wcslen(r->strings[i].text);
    const std::size_t copied = length < static_cast<std::size_t>(bufferMax - 1)
                                   ? length
                                   : static_cast<std::size_t>(bufferMax - 1);
    std::wmemcpy(buffer, r->strings[i].text, copied);
    buffer[copied] = 0;
    return static_cast<int>(copied);
  }
  return 0;
}
