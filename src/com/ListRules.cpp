#include "com/ListRules.h"

#include "phishlist/HostRule.h"

namespace {

// A click-through key ends the address as "(" hex ")" (uri/SessionKey.h).
// Chromium compiles a counted repeat as that many copies, and a rule's
// regex must stay under 2 KB compiled: a lower bound says enough.
const wchar_t kMarkerRegex[] = L"\\([0-9a-f]{16,}\\)$";

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// A field holds no separator and nothing a browser would not take as text.
bool Printable(const std::string& field) {
  if (field.empty()) return false;
  for (const char c : field)
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7f) return false;
  return true;
}

}  // namespace

std::wstring ListRulesText(const std::vector<std::pair<ListKind, std::wstring>>& patterns,
                           bool paused) {
  if (paused) return std::wstring();
  std::wstring text = std::wstring(L"marker\t") + kMarkerRegex + L"\n";
  for (const auto& [kind, pattern] : patterns) {
    if (kind != LIST_KIND_BLACK && kind != LIST_KIND_GREY) continue;
    const std::optional<HostRule> rule = HostRuleOf(pattern);
    if (!rule || !Printable(rule->host)) continue;
    if (rule->pathPrefix.empty())
      text += L"host\t" + Widen(rule->host) + L"\n";
    else if (Printable(rule->pathPrefix))
      text += L"path\t" + Widen(rule->host) + L"\t" + Widen(rule->pathPrefix) + L"\n";
  }
  return text;
}
