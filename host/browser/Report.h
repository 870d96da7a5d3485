// What the browser stand-in tells about one navigation it was asked for:
// where the window ended and why, as a line for people or as one JSON
// object a line for scripts. Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ostrel::host {

enum class Outcome { Allowed, Grey, Black, Reloaded, Error };

struct NavigationReport {
  int window = 1;
  std::wstring action;    // "navigate" or "continue"
  std::wstring address;   // what was asked for (for continue: where its link goes)
  std::wstring location;  // where the window ended
  Outcome outcome = Outcome::Allowed;
  std::optional<std::wstring> key;        // var4 of a warning page the window ended on
  std::vector<std::wstring> navigations;  // every navigation started, the first asked for,
                                          // a server's redirect included
  bool scanned = true;                    // false when the filter was paused or inactive
  std::wstring notScannedWhy;
  std::optional<unsigned long> status;  // HTTP status, with --fetch
  std::wstring fetched;  // with --fetch, the address last handed to the network (canonical)
  std::wstring error;                   // for Outcome::Error
};

const wchar_t* OutcomeName(Outcome outcome);

// One line each, without the line end; UTF-8.
std::string FormatText(const NavigationReport& report);
std::string FormatJson(const NavigationReport& report);

}  // namespace ostrel::host
