// Internal to the platform layer: the host of an http or https address as
// browsers parse it (the URL Standard's host parser), so that the host the
// filter scans is the host the browser contacts. Stateless; thread-safe.
// Serves the URL cracker and canonicaliser.
#pragma once

#include <string>
#include <string_view>

namespace ostrel::platform {

// Parses the host text of an http or https authority: an IPv6 address in
// brackets (written compressed, in brackets), or a name that is
// percent-decoded as UTF-8, mapped to ASCII with IDNA (UTS #46,
// non-transitional, as browsers do) and lower-cased, then refused when it
// holds a code point no host may hold; a name that ends in a number is an
// IPv4 address in any of its forms (one number, hex, octal, fewer parts)
// and is written dotted-decimal. False when a browser would refuse it.
bool ParseBrowserHost(std::wstring_view text, std::wstring* host);

// IDNA (UTS #46, non-transitional) of a percent-decoded name, label by
// label, as browsers apply it: no hyphen or length rules. False when a label
// cannot be mapped.
bool DomainToAscii(const std::wstring& domain, std::wstring* ascii);
// The same for one label (IDNA over libidn2 here, the system's on Windows).
bool LabelToAscii(const std::wstring& label, std::wstring* ascii);

// The two address parsers behind it; each writes the address's serial form.
bool ParseIpv4(std::wstring_view text, std::wstring* address);
bool ParseIpv6(std::wstring_view text, std::wstring* address);  // text without brackets
// True when the last label (a single trailing dot ignored) is a number, so
// that the name must be an IPv4 address.
bool EndsInNumber(std::wstring_view name);

}  // namespace ostrel::platform
