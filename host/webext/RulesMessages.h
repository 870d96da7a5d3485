// The "rules" messages: the list's pre-request rules (the text a helper's
// IPhishListRules gives, com/Interfaces.h) sent to the extension as JSON in
// parts, each well under Chromium's 1 MB limit for a host's message:
//   {"type":"rules","digest":D,"part":i,"parts":n,"hosts":[...],
//    "paths":[[host,text],...],"marker":regex}   (marker in part 0 only)
// The extension puts the rules in place once every part of a digest came,
// and skips a digest it already has. Pure functions; thread-safe.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ostrel::webext {

// A short fingerprint of a rules text (64-bit FNV-1a, hexadecimal).
std::string RulesDigest(const std::wstring& text);

// The parts carrying text; lines of an unknown kind are left out. An empty
// text is one part with no rules (the extension removes its rules).
std::vector<std::string> EncodeRules(const std::wstring& text, std::size_t partBytes = 256 * 1024);

}  // namespace ostrel::webext
