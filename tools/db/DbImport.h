// ostrel-db import: turns the phishing feeds publishers have (one domain a
// line, one URL a line, a hosts file) into phish-list lines. A domain
// becomes an entry anchored at the start of the address that matches the
// domain and its subdomains and nothing else; a URL becomes an entry for its
// host and path prefix. Hosts are read by the platform's URL cracker, so an
// entry names the host a browser contacts (international names in their
// ASCII "xn--" form); every regular-expression character is escaped, and
// every entry is checked by the filter's own line parser. Not thread-safe
// (a program's main work).
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
// and for a host, an explicit port (0: any) and a path prefix.
std::string DomainPattern(const std::string& host);
std::string UrlPattern(const std::string& host, unsigned port, const std::string& pathPrefix);

// "import --from domains|urls|hosts [--kind b|g|w] FEED... OUT" (the
// arguments after "import"); the exit status.
int RunImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace ostrel::tools::db
