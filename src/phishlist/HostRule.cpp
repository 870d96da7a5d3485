#include "phishlist/HostRule.h"

#include <string_view>

// The pattern is read as a sequence: "^", an optional user-information
// group, an optional subdomain group, the host name, an optional "\.?", an
// optional port, then something that ends the host (":", "/", "?", "#",
// "\", the end of the subject) or a literal path. Each part is accepted only
// in forms whose matches are known: a subdomain group that could hold "/"
// could put the named host in the path, a quantifier on the part that ends
// the host would let "evil.com" match "evil.community", and an alternation
// anywhere outside a group would make the anchor apply to one branch only.
namespace {

bool IsLabelChar(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
         c == L'-' || c == L'_';
}

bool IsQuantifier(wchar_t c) { return c == L'?' || c == L'*' || c == L'+' || c == L'{'; }

char Lower(wchar_t c) {
  return static_cast<char>(c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c);
}

class PatternReader {
 public:
  explicit PatternReader(std::wstring_view pattern) : m_text(pattern) {}

  wchar_t Peek(std::size_t ahead = 0) const {
    return m_at + ahead < m_text.size() ? m_text[m_at + ahead] : L'\0';
  }
  bool AtEnd() const { return m_at >= m_text.size(); }
  bool Eat(std::wstring_view token) {
    if (m_text.substr(m_at, token.size()) != token) return false;
    m_at += token.size();
    return true;
  }
  void Skip(std::size_t n = 1) { m_at += n; }
  std::size_t Position() const { return m_at; }
  void Rewind(std::size_t position) { m_at = position; }
  std::wstring_view Rest() const { return m_text.substr(m_at < m_text.size() ? m_at : m_text.size()); }
  // The next part is not repeated or made optional.
  bool Unquantified() const { return !IsQuantifier(Peek()); }

  // "(" or "(?:".
  bool EatGroupOpen() { return Eat(L"(?:") || Eat(L"("); }

 private:
  std::wstring_view m_text;
  std::size_t m_at = 0;
};

// One character a bracket class names, as the class reads it: a plain
// character or an escaped punctuation mark, "\x23" or "\\"; "\d" and "\w"
// come back as 'd' and 'w' with *shorthand set. False for anything else.
bool ReadClassItem(PatternReader& r, wchar_t* c, bool* shorthand) {
  *shorthand = false;
  const wchar_t first = r.Peek();
  if (first == L'\0' || first == L']' || first == L'[') return false;
  if (first != L'\\') {
    r.Skip();
    *c = first;
    return true;
  }
  const wchar_t escaped = r.Peek(1);
  if (r.Eat(L"\\x23")) {
    *c = L'#';
    return true;
  }
  if (escaped == L'd' || escaped == L'w') {
    r.Skip(2);
    *c = escaped;
    *shorthand = true;
    return true;
  }
  if (escaped > L' ' && escaped < 0x7F && !IsLabelChar(escaped)) {
    r.Skip(2);
    *c = escaped;
    return true;
  }
  return false;
}

struct BracketClass {
  bool negated = false;
  bool hostCharsOnly = true;  // every member is a letter, digit, "-", "_" or "."
  bool listed = true;         // members holds every member: no range, no \d or \w
  std::wstring members;       // plain members (negated: the excluded ones)
};

// A bracket class without nesting; false for one it does not read with
// certainty.
bool ReadBracketClass(PatternReader& r, BracketClass* out) {
  if (!r.Eat(L"[")) return false;
  out->negated = r.Eat(L"^");
  bool any = false;
  while (!r.Eat(L"]")) {
    wchar_t c;
    bool shorthand;
    if (!ReadClassItem(r, &c, &shorthand)) return false;
    any = true;
    if (shorthand) {  // \d and \w hold host characters only
      out->listed = false;
      continue;
    }
    if (r.Peek() == L'-' && r.Peek(1) != L']') {
      r.Skip();
      wchar_t to;
      if (out->negated || !ReadClassItem(r, &to, &shorthand) || shorthand) return false;
      const bool digits = c >= L'0' && to <= L'9';
      const bool lower = c >= L'a' && to <= L'z';
      const bool upper = c >= L'A' && to <= L'Z';
      if (c > to || !(digits || lower || upper)) return false;
      out->listed = false;
      continue;
    }
    out->members += c;
    if (!IsLabelChar(c) && c != L'.') out->hostCharsOnly = false;
  }
  return any;
}

// A run of characters that cannot leave the host: a class of host
// characters, \w, \d, or a class excluding "/" (the host always ends at
// the first "/" of the subject), then "+" or "*".
bool ReadHostCharRun(PatternReader& r) {
  if (!(r.Eat(L"\\w") || r.Eat(L"\\d"))) {
    BracketClass cls;
    if (!ReadBracketClass(r, &cls)) return false;
    const bool safe = cls.negated ? cls.members.find(L'/') != std::wstring::npos : cls.hostCharsOnly;
    if (!safe) return false;
  }
  return r.Eat(L"+") || r.Eat(L"*");
}

// "([^/?\x23@]*@)?" and the like: a run that holds no "/" then "@". In a
// subject a browser builds the host comes first, so the group matches
// nothing there; in an address read as written it takes the user
// information.
bool EatUserInfoGroup(PatternReader& r) {
  const std::size_t start = r.Position();
  if (r.EatGroupOpen() && ReadHostCharRun(r) && r.Eat(L"@)?")) return true;
  r.Rewind(start);
  return false;
}

// "([a-z0-9-]+\.)*", "([^/?\x23@]*\.)?", "(www\.)?" and the like: labels
// that stay inside the host, each ending in a dot, so that the name after
// them is the host or a parent of it.
bool EatSubdomainGroup(PatternReader& r) {
  const std::size_t start = r.Position();
  if (r.EatGroupOpen()) {
    const std::size_t inside = r.Position();
    bool ok = ReadHostCharRun(r);
    if (!ok) {
      r.Rewind(inside);
      ok = IsLabelChar(r.Peek());
      while (IsLabelChar(r.Peek())) r.Skip();
    }
    if (ok && r.Eat(L"\\.)") && (r.Eat(L"?") || r.Eat(L"*") || r.Eat(L"+") || r.Unquantified()))
      return true;
  }
  r.Rewind(start);
  return false;
}

// Labels of letters, digits, "-" and "_" joined by "\.", lower-cased. A
// trailing "\.?" is taken (a subject's host has no trailing dot). False
// for a name with any other character, a quantified character, or a last
// label that is a number (an IPv4 address, which a browser rewrites).
bool ReadHostName(PatternReader& r, std::string* host) {
  std::size_t labelStart = 0;
  for (;;) {
    if (!IsLabelChar(r.Peek())) return false;
    labelStart = host->size();
    while (IsLabelChar(r.Peek())) *host += Lower(r.Peek()), r.Skip();
    if (!r.Unquantified()) return false;
    const std::size_t beforeDot = r.Position();
    if (!r.Eat(L"\\.")) break;
    if (r.Eat(L"?")) break;
    if (!IsLabelChar(r.Peek())) {
      r.Rewind(beforeDot);  // a dot that must be there: no host a browser sends ends so
      return false;
    }
    *host += '.';
  }
  return host->find_first_not_of("0123456789", labelStart) != std::string::npos;
}

// "(:[0-9]+)?", "(:\d*)?", "(:[0-9]{1,5})?": digits only, so that what
// follows the group follows the port.
bool EatOptionalPortGroup(PatternReader& r) {
  const std::size_t start = r.Position();
  if (r.EatGroupOpen() && r.Eat(L":") && (r.Eat(L"[0-9]") || r.Eat(L"\\d"))) {
    bool ok = r.Eat(L"+") || r.Eat(L"*");
    if (!ok && r.Eat(L"{")) {
      ok = true;
      while (ok && !r.Eat(L"}")) {
        ok = (r.Peek() >= L'0' && r.Peek() <= L'9') || r.Peek() == L',';
        r.Skip();
      }
    }
    if (ok && r.Eat(L")?")) return true;
  }
  r.Rewind(start);
  return false;
}

// One character that cannot be in a host: ":", "/", "?", "#" or "\".
bool IsHostEnd(wchar_t c) {
  return c == L':' || c == L'/' || c == L'?' || c == L'#' || c == L'\\';
}

// One alternative of a host-ending group: "$", a host-ending character
// (escaped or not) or a class of them.
bool EatHostEndAtom(PatternReader& r) {
  if (r.Eat(L"$") || r.Eat(L"/") || r.Eat(L":") || r.Eat(L"\\/") || r.Eat(L"\\?") ||
      r.Eat(L"\\x23") || r.Eat(L"\\\\") || r.Eat(L"\\:"))
    return true;
  BracketClass cls;
  if (r.Peek() != L'[' || !ReadBracketClass(r, &cls) || cls.negated || !cls.listed) return false;
  for (wchar_t c : cls.members)
    if (!IsHostEnd(c)) return false;
  return true;
}

// "(:|/|$)", "([/?\x23\\]|$)", "(/|$)", a bare "$" or class; not made
// optional. A lone "/" is read as the start of a path instead.
bool EatHostEnd(PatternReader& r) {
  const std::size_t start = r.Position();
  if (r.Peek() == L'(') {
    r.EatGroupOpen();
    do {
      if (!EatHostEndAtom(r)) break;
    } while (r.Eat(L"|"));
    if (r.Eat(L")") && r.Unquantified()) return true;
  } else if ((r.Peek() == L'$' || r.Peek() == L'[' || r.Peek() == L'\\' || r.Peek() == L':') &&
             EatHostEndAtom(r) && r.Unquantified()) {
    return true;
  }
  r.Rewind(start);
  return false;
}

// A literal path from "/" on, as the pattern spells it, up to the first
// part that is not a plain or escaped character. A character followed by a
// quantifier may be absent, so the prefix stops before it; "#" never
// reaches a server, so it stops there too.
std::string ReadPathPrefix(PatternReader& r) {
  std::string prefix = "/";
  for (;;) {
    const wchar_t c = r.Peek();
    wchar_t literal;
    std::size_t length;
    if (c == L'\\' && r.Rest().substr(0, 4) == L"\\x23") {
      break;
    } else if (c == L'\\') {
      literal = r.Peek(1);
      // Letters are classes and anchors (\d, \b...); \< \> \` \' are word
      // and subject bounds.
      if (literal <= L' ' || literal >= 0x7F || IsLabelChar(literal) ||
          std::wstring_view(L"<>`'").find(literal) != std::wstring_view::npos)
        break;
      length = 2;
    } else {
      if (c <= L' ' || c >= 0x7F || std::wstring_view(L".^$|?*+()[]{}#").find(c) != std::wstring_view::npos)
        break;
      literal = c;
      length = 1;
    }
    if (IsQuantifier(r.Peek(length)) || literal == L'#') break;
    r.Skip(length);
    prefix += static_cast<char>(literal);
  }
  return prefix == "/" ? std::string() : prefix;
}

// Whether the rest of a pattern leaves the anchored part in force: no "|"
// outside every group (the anchor would bind one branch only), groups
// balanced, and nothing the scan cannot follow with certainty (nested
// brackets such as "[[:alpha:]]", quoting with \Q).
bool RestKeepsAnchor(std::wstring_view rest) {
  int depth = 0;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    const wchar_t c = rest[i];
    if (c == L'\\') {
      if (i + 1 < rest.size() && (rest[i + 1] == L'Q' || rest[i + 1] == L'E')) return false;
      ++i;
    } else if (c == L'[') {
      std::size_t j = i + 1;
      if (j < rest.size() && rest[j] == L'^') ++j;
      if (j < rest.size() && rest[j] == L']') ++j;  // a leading "]" is a member
      for (; j < rest.size() && rest[j] != L']'; ++j) {
        if (rest[j] == L'[') return false;
        if (rest[j] == L'\\') ++j;
      }
      if (j >= rest.size()) return false;
      i = j;
    } else if (c == L'(') {
      ++depth;
    } else if (c == L')') {
      if (--depth < 0) return false;
    } else if (c == L'|' && depth == 0) {
      return false;
    }
  }
  return depth == 0;
}

}  // namespace

std::optional<HostRule> HostRuleOf(const std::wstring& pattern) {
  PatternReader r(pattern);
  if (!r.Eat(L"^") || !r.Unquantified()) return std::nullopt;
  HostRule rule;
  EatUserInfoGroup(r);
  rule.subdomains = EatSubdomainGroup(r);
  if (!ReadHostName(r, &rule.host)) return std::nullopt;

  bool ended = false;  // the host cannot go on past what was read
  if (EatOptionalPortGroup(r)) {
    // The port may be absent, so what follows must end the host itself.
  } else if (r.Peek() == L':' || r.Rest().substr(0, 2) == L"\\:") {
    r.Skip(r.Peek() == L':' ? 1 : 2);
    if (!r.Unquantified()) return std::nullopt;
    ended = true;
    std::size_t digits = 0;
    while (r.Peek() >= L'0' && r.Peek() <= L'9') r.Skip(), ++digits;
    // A literal port followed by a path keeps the prefix; anything looser
    // gives the host alone.
    if (digits == 0 || !r.Unquantified() || !(r.Peek() == L'/' || r.Rest().substr(0, 2) == L"\\/"))
      return RestKeepsAnchor(r.Rest()) ? std::optional<HostRule>(rule) : std::nullopt;
  }
  if (r.Peek() == L'/' || r.Rest().substr(0, 2) == L"\\/") {
    r.Skip(r.Peek() == L'/' ? 1 : 2);
    if (!r.Unquantified()) return std::nullopt;
    rule.pathPrefix = ReadPathPrefix(r);
    ended = true;
  } else if (!ended && EatHostEnd(r)) {
    ended = true;
  }
  if (!ended || !RestKeepsAnchor(r.Rest())) return std::nullopt;
  return rule;
}
