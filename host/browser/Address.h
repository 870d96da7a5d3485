// Addresses as a host hands them to the network: the canonical form that
// the filter reads (InternetCanonicalizeUrlW: an http or https host as
// browsers parse it, so a "\" ends the authority like "/"), never the raw
// text a user, a page or a server gave, which another parser could read
// with a different host. Pure functions; any thread.
#pragma once

#include <optional>
#include <string>

namespace ostrel::host {

// True when the address's scheme is http or https (in any case).
bool IsHttpAddress(const std::wstring& address);

// The canonical form of an address; nothing when a browser would refuse it
// (or it holds a NUL, which the canonicaliser cannot be given).
std::optional<std::wstring> CanonicalAddress(const std::wstring& address);

}  // namespace ostrel::host
