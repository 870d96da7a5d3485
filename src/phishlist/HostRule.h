// HostRuleOf: the host (and path prefix) every match of a list entry's
// pattern lies on, read from the pattern's text, so that a browser can stop
// requests to that host before they leave and hand them to the engine, which
// still decides each one. A rule may catch more than its entry, never less.
// Only anchored host shapes are read (those ostrel-db import writes, and
// the usual hand-written ones); anything not recognised with certainty
// gives no rule. The subjects reasoned about are those of addresses a
// browser sends: "host[:port]/path..." with the host lower-case ASCII and no
// dot segments. Stateless; thread-safe.
#pragma once

#include <optional>
#include <string>

struct HostRule {
  // Lower-case ASCII, no trailing dot: the entry matches only addresses on
  // this host or, when subdomains is set, on it or a name under it.
  std::string host;
  bool subdomains = false;
  // Empty: any path. Otherwise every address the entry matches, written as
  // the browser writes it, holds this text (compared case-insensitively)
  // right after host[:port], unless that address holds a '%'.
  std::string pathPrefix;

  bool operator==(const HostRule& other) const {
    return host == other.host && subdomains == other.subdomains && pathPrefix == other.pathPrefix;
  }
};

// The rule that covers every address the pattern (Perl syntax, searched
// case-insensitively in the address without its scheme) can match, or
// nullopt when no host rule is known to be sound for it.
std::optional<HostRule> HostRuleOf(const std::wstring& pattern);
