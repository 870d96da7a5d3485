// The warning page's address as the filter composes it, read back the way
// a browser reads it: the query runs from "?" to the first "#", its fields
// are separated by "&", and var3 (the blocked address) and var4 (the
// click-through key, "(" key ")") are percent-decoded (UTF-8). The "continue"
// link of the page is the blocked address with the key appended. Pure
// functions; any thread.
#pragma once

#include <optional>
#include <string>

namespace ostrel::host {

struct WarningPage {
  std::wstring list;                // "grey" or "black"
  std::wstring blocked;             // var3, decoded
  std::optional<std::wstring> key;  // var4, decoded, when the page offers to continue
};

// The page an address shows, or nothing when it is no warning-page address
// (var1 is not "ZORTBHO", var2 not grey or black, or var3 is missing).
std::optional<WarningPage> ParseWarningPage(const std::wstring& address);

// Standard percent-decoding of a query value: %XX sequences and the other
// characters are UTF-8 bytes; a "%" not followed by two hexadecimal digits
// stays as it is; "+" stays "+".
std::wstring PercentDecode(const std::wstring& value);

// Where the page's "continue" link goes: nothing when the page has no key,
// or the blocked address is not http or https, or the key is not "("
// hexadecimal digits ")" (the page offers no link then either).
std::optional<std::wstring> ContinueAddress(const WarningPage& page);

}  // namespace ostrel::host
