#include "settings/RegistryCache.h"

#include <mutex>
#include <unordered_map>

namespace {

std::mutex g_mutex;
// Outcomes read while the store's stamp was g_stamp.
ostrel::platform::registry::ChangeStamp g_stamp;
std::unordered_map<std::wstring, CRegistryCache::Outcome> g_kept;

wchar_t HiveLetter(HKEY root) {
  if (root == HKEY_CURRENT_USER) return L'U';
  if (root == HKEY_LOCAL_MACHINE) return L'M';
  if (root == HKEY_CLASSES_ROOT) return L'C';
  return 0;
}

}  // namespace

bool CRegistryCache::Find(HKEY root, const std::wstring& key, const std::wstring& name,
                          wchar_t kind, Ticket* ticket) {
  const wchar_t hive = HiveLetter(root);
  if (!hive || !ostrel::platform::registry::ReadChangeStamp(&ticket->stamp)) return false;
  ticket->keepable = true;
  ticket->id.reserve(key.size() + name.size() + 3);
  ticket->id += kind;
  ticket->id += hive;
  ticket->id += key;
  ticket->id += L'\0';  // no key or value name holds one
  ticket->id += name;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (ticket->stamp != g_stamp) return false;
  const auto found = g_kept.find(ticket->id);
  if (found == g_kept.end()) return false;
  ticket->kept = found->second;
  return true;
}

void CRegistryCache::Keep(const Ticket& ticket, const Outcome& outcome) {
  if (!ticket.keepable) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (ticket.stamp != g_stamp) {
    // Another thread may have kept outcomes of a later stamp; the older
    // ones go either way, and so would this one if it is the older.
    if (ticket.stamp.mapping == g_stamp.mapping && ticket.stamp.count < g_stamp.count) return;
    g_kept.clear();
    g_stamp = ticket.stamp;
  }
  g_kept[ticket.id] = outcome;
}
