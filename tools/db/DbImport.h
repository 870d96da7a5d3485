// ostrel-db import: turns the phishing feeds publishers have (one domain a
// line, one URL a line, a hosts file) into phish-list lines. A domain
// becomes an entry anchored at the start of the address that matches the
// domain and its subdomains and nothing else; a hosts line that maps names
// to a sink-hole address (0.0.0.0, 127.0.0.1, ::, ::1) an entry for each
// name exactly, as the hosts file blocks it; a URL an entry for its host and
// path prefix. Hosts are read by the platform's URL cracker, so an entry
// names the host a browser contacts (international names in their ASCII
// "xn--" form); every regular-expression character is escaped, and every
// entry is checked by the filter's own line parser. What would over-block is
// refused: a public suffix (com, co.uk, github.io: libpsl's list), a bare
// top-level name, a name that is not a host name (an IPv4 address in any
// form), a hosts line mapping to an ordinary address. Not thread-safe (a
// program's main work).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace ostrel::tools::db {

enum class FeedFormat { Domains, Urls, Hosts };

// The patterns of one feed line (none for a blank or comment line); false
// with the reason when the line is rejected.
bool ImportLine(FeedFormat format, const std::string& line, std::vector<std::string>* patterns,
                std::string* reason);

// Patterns for a host (ASCII, as the cracker gives it) and its subdomains,
// and for a host, an explicit port (0: any) and a path prefix (empty or "/":
// the host alone).
std::string DomainPattern(const std::string& host);
std::string UrlPattern(const std::string& host, unsigned port, const std::string& pathPrefix);

// "import --from domains|urls|hosts [--kind b|g|w] FEED... OUT" (the
// arguments after "import"); the exit status.
int RunImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace ostrel::tools::db
