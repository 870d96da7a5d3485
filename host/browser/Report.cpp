#include "browser/Report.h"

#include <cstdio>

#include "platform/Utf8.h"

namespace ostrel::host {

namespace {

std::string Json(const std::wstring& text) {
  std::string out = "\"";
  for (unsigned char c : platform::ToUtf8(text)) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string JsonOrNull(const std::optional<std::wstring>& text) {
  return text ? Json(*text) : "null";
}

std::wstring Why(const NavigationReport& r) {
  switch (r.outcome) {
    case Outcome::Allowed:
      return r.scanned ? L"allowed" : L"allowed, not scanned: " + r.notScannedWhy;
    case Outcome::Grey:
    case Outcome::Black:
      return std::wstring(L"sent to the ") + OutcomeName(r.outcome) + L" warning page, " +
             (r.key ? L"which offers to continue" : L"which offers no way on");
    case Outcome::Reloaded:
      return L"click-through verified, the address reloaded without its key";
    case Outcome::Error:
      return L"error: " + r.error;
  }
  return L"";
}

}  // namespace

const wchar_t* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Allowed:
      return L"allowed";
    case Outcome::Grey:
      return L"grey";
    case Outcome::Black:
      return L"black";
    case Outcome::Reloaded:
      return L"reloaded";
    case Outcome::Error:
      return L"error";
  }
  return L"error";
}

std::string FormatText(const NavigationReport& r) {
  std::wstring line = L"[window " + std::to_wstring(r.window) + L"] ";
  if (r.action == L"continue")
    line += r.address.empty() ? L"continue" : L"continue -> " + r.address;
  else
    line += r.address;
  line += L"\n    " + Why(r);
  if (r.outcome != Outcome::Error || !r.location.empty()) line += L"\n    now at " + r.location;
  if (r.status) line += L" (HTTP " + std::to_wstring(*r.status) + L")";
  if (!r.fetched.empty() && r.fetched != r.location) line += L"\n    fetched as " + r.fetched;
  return platform::ToUtf8(line);
}

std::string FormatJson(const NavigationReport& r) {
  std::string out = "{\"window\":" + std::to_string(r.window);
  out += ",\"action\":" + Json(r.action);
  out += ",\"address\":" + Json(r.address);
  out += ",\"location\":" + Json(r.location);
  out += ",\"outcome\":" + Json(OutcomeName(r.outcome));
  out += ",\"key\":" + JsonOrNull(r.key);
  out += ",\"redirects\":" + std::to_string(r.navigations.empty() ? 0 : r.navigations.size() - 1);
  out += ",\"scanned\":" + std::string(r.scanned ? "true" : "false");
  out += ",\"status\":" + (r.status ? std::to_string(*r.status) : std::string("null"));
  out += ",\"fetched\":" + (r.fetched.empty() ? std::string("null") : Json(r.fetched));
  out += ",\"error\":" + (r.outcome == Outcome::Error ? Json(r.error) : std::string("null"));
  return out + "}";
}

}  // namespace ostrel::host
