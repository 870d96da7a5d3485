#include "db/DbImport.h"

#include <libpsl.h>

#include <set>
#include <sstream>

#include "db/DbText.h"
#include "db/DbTool.h"
#include "phishlist/PhishListEntries.h"
#include "phishlist/TextReader.h"
#include "platform/Utf8.h"
#include "platform/WinInet.h"
#include "support/StringCase.h"

namespace ostrel::tools::db {
namespace {

using ostrel::platform::FromUtf8;
using ostrel::platform::ToUtf8;

const char* const kProgram = "ostrel-db: ";

// "#" never appears in an entry: anywhere on a list line it makes the line
// a comment. Inside the patterns it is written \x23.
const char* const kUserInfo = "^([^/?\\x23@]*@)?";
const char* const kSubdomains = "([^/?\\x23@]*\\.)?";
const char* const kHostEnd = "([/?\\x23\\\\]|$)";  // the authority ends, or the address does

// Addresses a hosts file sends a name to so that it cannot be reached; any
// other maps the name somewhere, which blocks nothing.
const std::set<std::string> kSinkHoles = {"0.0.0.0", "127.0.0.1", "::", "::1"};

const std::set<std::string> kHostsBoilerplate = {
    "localhost",      "localhost.localdomain", "local",         "broadcasthost", "ip6-localhost",
    "ip6-loopback",   "ip6-localnet",          "ip6-mcastprefix", "ip6-allnodes", "ip6-allrouters",
    "ip6-allhosts",   "0.0.0.0"};

std::string EscapeRegex(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (std::string(".^$|?*+()[]{}\\").find(c) != std::string::npos) escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// What a browser sends for a path or query: controls, spaces, quotes,
// angle brackets, "`" and everything beyond ASCII as %XX of UTF-8.
std::string PercentEncode(const std::string& utf8) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : utf8) {
    if (c <= ' ' || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '`') {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 0x0F];
    } else {
      encoded += static_cast<char>(c);
    }
  }
  return encoded;
}

std::string Trim(const std::string& text) {
  const std::size_t start = text.find_first_not_of(" \t\r\f\v");
  if (start == std::string::npos) return std::string();
  return text.substr(start, text.find_last_not_of(" \t\r\f\v") - start + 1);
}

struct Cracked {
  std::string host, path, extra;
  INTERNET_PORT port = 0;
  INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
};

// The URL as the filter's platform reads it; false when it refuses it.
bool Crack(const std::string& url, Cracked* cracked) {
  const std::wstring wide = FromUtf8(url);
  const DWORD size = static_cast<DWORD>(wide.size() * 4 + 64);  // IDNA may lengthen the host
  std::wstring host(size, L'\0'), path(size, L'\0'), extra(size, L'\0');
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host.data();
  parts.dwHostNameLength = size;
  parts.lpszUrlPath = path.data();
  parts.dwUrlPathLength = size;
  parts.lpszExtraInfo = extra.data();
  parts.dwExtraInfoLength = size;
  if (!InternetCrackUrlW(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts)) return false;
  cracked->host = ToUtf8(ToLowerAscii(host.substr(0, parts.dwHostNameLength)));
  cracked->path = ToUtf8(path.substr(0, parts.dwUrlPathLength));
  cracked->extra = ToUtf8(extra.substr(0, parts.dwExtraInfoLength));
  cracked->port = parts.nPort;
  cracked->scheme = parts.nScheme;
  return !cracked->host.empty();
}

// A domain of a domains feed or a name of a hosts file as the host a
// browser contacts; refused when it names no single site's host.
bool DomainHost(std::string domain, std::string* host, std::string* reason) {
  if (domain.rfind("*.", 0) == 0) domain.erase(0, 2);  // "*.evil.test": its subdomains are included
  if (!domain.empty() && domain[0] == '.') domain.erase(0, 1);
  if (domain.find_first_of("/\\:@?#%[] \t") != std::string::npos) {
    *reason = "not a domain name";
    return false;
  }
  Cracked cracked;
  if (domain.empty() || !Crack("http://" + domain + "/", &cracked)) {
    *reason = "not a host name a browser accepts";
    return false;
  }
  std::string name = cracked.host;
  if (!name.empty() && name.back() == '.') name.pop_back();
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
    if (!ok) {
      *reason = "the host name does not map to ASCII";
      return false;
    }
  }
  if (name.empty() || name.find("..") != std::string::npos || name[0] == '.') {
    *reason = "the host name has an empty label";
    return false;
  }
  // A browser reads a name whose last label is a number as an IPv4 address
  // ("1" is 0.0.0.1): whatever it is, it is not a host name.
  if (name.find_first_not_of("0123456789.") == std::string::npos) {
    *reason = "not a host name: a browser reads it as the IPv4 address " + name;
    return false;
  }
  if (name.find('.') == std::string::npos) {
    *reason = "a bare top-level name: an entry would block every site under it";
    return false;
  }
  if (psl_is_public_suffix(psl_builtin(), name.c_str())) {
    *reason = "a public suffix: an entry would block every site registered under it";
    return false;
  }
  *host = name;
  return true;
}

bool ImportUrl(const std::string& url, std::vector<std::string>* patterns, std::string* reason) {
  const std::string lower = ToUtf8(ToLowerAscii(FromUtf8(url)));
  if (lower.rfind("http://", 0) != 0 && lower.rfind("https://", 0) != 0) {
    *reason = "not an http or https URL";
    return false;
  }
  Cracked cracked;
  if (!Crack(url, &cracked)) {
    *reason = "not a URL a browser accepts";
    return false;
  }
  std::string host = cracked.host;
  if (host.size() > 1 && host.back() == '.') host.pop_back();
  const INTERNET_PORT standard = cracked.scheme == INTERNET_SCHEME_HTTPS ? 443 : 80;
  std::string prefix = cracked.path.empty() ? "/" : cracked.path;
  prefix += cracked.extra.substr(0, cracked.extra.find('#'));  // browsers never send the fragment
  patterns->push_back(UrlPattern(host, cracked.port == standard ? 0 : cracked.port, PercentEncode(prefix)));
  return true;
}

bool ImportHostsLine(const std::string& line, std::vector<std::string>* patterns, std::string* reason) {
  std::istringstream fields(line);
  std::string address, name;
  fields >> address;
  if (address.find_first_not_of("0123456789abcdefABCDEF.:") != std::string::npos ||
      address.find_first_of(".:") == std::string::npos) {
    *reason = "not a hosts line: the first field is not an address";
    return false;
  }
  const bool sinkHole = kSinkHoles.count(address) != 0;
  std::vector<std::string> found;
  while (fields >> name) {
    if (kHostsBoilerplate.count(ToUtf8(ToLowerAscii(FromUtf8(name))))) continue;
    if (!sinkHole) {
      *reason = "maps '" + name + "' to " + address +
                ", which sends it elsewhere rather than blocking it (a blocking line maps to "
                "0.0.0.0, 127.0.0.1, :: or ::1)";
      return false;
    }
    std::string host, why;
    if (name.rfind("*.", 0) == 0 || name[0] == '.') {
      why = "not a host name (a hosts file has no wildcards)";
    } else if (DomainHost(name, &host, &why)) {
      found.push_back(UrlPattern(host, 0, ""));  // the hosts file blocks that name only
      continue;
    }
    *reason = "'" + name + "': " + why;
    return false;
  }
  patterns->insert(patterns->end(), found.begin(), found.end());
  return true;
}

// Whether the filter reads this list line back as one entry with exactly
// this pattern.
bool FilterAccepts(const std::string& line, std::string* reason) {
  std::wistringstream stream(Widen(line + "\n"));
  CTextReader reader(stream);
  std::wstring read, rejection;
  if (!reader.ReadLine(read, false, false) || read != Widen(line)) {
    *reason = "the entry would not read back as written";
    return false;
  }
  if (!CPhishListEntries::ParseFields(read, &rejection)) {
    *reason = "the filter rejects the entry: " + ToUtf8(rejection);
    return false;
  }
  return true;
}

int Usage(std::ostream& err, const std::string& message) {
  err << kProgram << message << "\n"
      << "usage: ostrel-db import --from domains|urls|hosts [--kind b|g|w] FEED... OUT\n"
      << "(ostrel-db --help tells more)\n";
  return kExitUsage;
}

}  // namespace

std::string DomainPattern(const std::string& host) {
  return std::string(kUserInfo) + kSubdomains + EscapeRegex(host) + "\\.?(:[0-9]+)?" + kHostEnd;
}

std::string UrlPattern(const std::string& host, unsigned port, const std::string& pathPrefix) {
  const std::string portPart = port == 0 ? "(:[0-9]+)?" : ":" + std::to_string(port);
  const std::string rest = pathPrefix.empty() || pathPrefix == "/" ? kHostEnd : EscapeRegex(pathPrefix);
  return std::string(kUserInfo) + EscapeRegex(host) + "\\.?" + portPart + rest;
}

bool ImportLine(FeedFormat format, const std::string& rawLine, std::vector<std::string>* patterns,
                std::string* reason) {
  std::string line = Trim(rawLine);
  // In URLs "#" starts a fragment: only a line that begins with it is a comment.
  if (format != FeedFormat::Urls) line = Trim(line.substr(0, line.find('#')));
  if (line.empty() || line[0] == '#') return true;
  if (format == FeedFormat::Hosts) return ImportHostsLine(line, patterns, reason);
  if (line.find_first_of(" \t") != std::string::npos) {
    *reason = format == FeedFormat::Urls ? "one URL a line (percent-encode spaces)"
                                         : "one domain a line";
    return false;
  }
  if (format == FeedFormat::Urls) return ImportUrl(line, patterns, reason);
  std::string host;
  if (!DomainHost(line, &host, reason)) return false;
  patterns->push_back(DomainPattern(host));
  return true;
}

int RunImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string from, kind = "b";
  std::vector<std::string> operands;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](const std::string& option, std::string* into) {
      if (arg == option && i + 1 < args.size()) return *into = args[++i], true;
      if (arg.rfind(option + "=", 0) == 0) return *into = arg.substr(option.size() + 1), true;
      return false;
    };
    if (value("--from", &from) || value("--kind", &kind)) continue;
    if (arg.size() > 1 && arg[0] == '-') return Usage(err, "unknown option '" + arg + "'");
    operands.push_back(arg);
  }
  FeedFormat format;
  if (from == "domains") format = FeedFormat::Domains;
  else if (from == "urls") format = FeedFormat::Urls;
  else if (from == "hosts") format = FeedFormat::Hosts;
  else return Usage(err, from.empty() ? "--from is needed" : "unknown feed format '" + from + "'");
  if (kind != "b" && kind != "g" && kind != "w") return Usage(err, "--kind is b, g or w");
  if (operands.size() < 2) return Usage(err, "import takes at least one FEED and OUT");

  std::string list, error;
  std::set<std::string> seen;
  std::size_t entries = 0, duplicates = 0, rejected = 0;
  for (std::size_t f = 0; f + 1 < operands.size(); ++f) {
    std::string bytes;
    if (!ReadBytes(FromUtf8(operands[f]), &bytes, &error)) {
      err << kProgram << error << " (nothing written)\n";
      return kExitFailure;
    }
    std::size_t number = 0;
    for (std::size_t start = 0; start < bytes.size();) {
      std::size_t end = bytes.find('\n', start);
      if (end == std::string::npos) end = bytes.size();
      const std::string line = bytes.substr(start, end - start);
      start = end + 1;
      ++number;
      std::vector<std::string> patterns;
      std::string reason;
      bool ok = ImportLine(format, line, &patterns, &reason);
      for (std::size_t p = 0; ok && p < patterns.size(); ++p) ok = FilterAccepts(kind + " " + patterns[p], &reason);
      if (!ok) {
        ++rejected;
        err << operands[f] << ":" << number << ": rejected: " << reason << ": " << Trim(line) << "\n";
        continue;
      }
      for (const std::string& pattern : patterns) {
        if (!seen.insert(pattern).second) {
          ++duplicates;
          continue;
        }
        list += kind + " " + pattern + "\n";
        ++entries;
      }
    }
  }
  if (!WriteBytesAtomically(FromUtf8(operands.back()), list, &error)) {
    err << kProgram << error << " (nothing written)\n";
    return kExitFailure;
  }
  out << "imported entries: " << entries << "; duplicates dropped: " << duplicates
      << "; lines rejected: " << rejected << "\n";
  return rejected == 0 ? kExitOk : kExitFailure;
}

}  // namespace ostrel::tools::db
