#include "phishlist/LiteralAnalysis.h"

#include <boost/regex.hpp>

#include <algorithm>
#include <array>
#include <cwchar>
#include <deque>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace {

using Clause = std::vector<std::string>;  // one of these atoms is in every match

constexpr std::size_t kMaxExactStrings = 16;
constexpr std::size_t kMaxExactBytes = 192;
constexpr std::size_t kMaxClassMembers = 10;  // a class of more is anything
constexpr std::size_t kMaxClauseAtoms = 64;
constexpr int kMaxDepth = 64;
constexpr unsigned long kMaxRepeat = 1000;

struct NotUnderstood {};

// What a part of a pattern can match: either exactly one of a few strings
// (exact), or anything that satisfies every clause (none: anything at all).
struct Info {
  bool exact = false;
  std::vector<std::string> strings;
  std::vector<Clause> clauses;

  static Info Exactly(std::vector<std::string> strings) {
    Info info;
    info.exact = true;
    info.strings = std::move(strings);
    return info;
  }
};

const Info kAnything;
const Info kEmptyString = Info::Exactly({""});
// One character of any kind.
const Info kAnyCharacter = Info::Exactly({std::string(1, CLiteralAnalysis::kAnyCharacter)});

void AddUnique(std::vector<std::string>& set, const std::string& s) {
  if (std::find(set.begin(), set.end(), s) == set.end()) set.push_back(s);
}

// The alternatives of a clause as atoms: no character of any kind at their
// ends (a match holds the rest anyway); an alternative that contains
// another is implied by it: keep the shorter. Empty when an alternative is
// nothing but such characters: then the clause rules nothing out.
Clause Simplified(Clause clause) {
  for (std::string& atom : clause) {
    const std::size_t first = atom.find_first_not_of(CLiteralAnalysis::kAnyCharacter);
    if (first == std::string::npos) return {};
    atom.erase(atom.find_last_not_of(CLiteralAnalysis::kAnyCharacter) + 1);
    atom.erase(0, first);
  }
  if (clause.size() == 1) return clause;
  std::sort(clause.begin(), clause.end(),
            [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
  Clause kept;
  kept.reserve(clause.size());
  for (std::string& atom : clause) {
    const bool implied = std::any_of(kept.begin(), kept.end(), [&](const std::string& shorter) {
      return shorter.size() == atom.size() ? shorter == atom : atom.find(shorter) != std::string::npos;
    });
    if (!implied) kept.push_back(std::move(atom));
  }
  return kept;
}

std::vector<Clause> ClausesOf(Info info) {
  if (!info.exact) return std::move(info.clauses);
  Clause atoms = Simplified(std::move(info.strings));
  if (atoms.empty()) return {};  // may match nothing, or anything, at all
  return {std::move(atoms)};
}

// Heavier lightest atom first (fewer chance hits), then fewer atoms.
bool Better(const Clause& a, const Clause& b) {
  auto shortest = [](const Clause& c) {
    std::size_t n = std::string::npos;
    for (const std::string& s : c) n = std::min(n, CLiteralAnalysis::Weight(s));
    return n;
  };
  if (shortest(a) != shortest(b)) return shortest(a) > shortest(b);
  return a.size() < b.size();
}

const Clause* BestClause(const std::vector<Clause>& clauses) {
  const Clause* best = nullptr;
  for (const Clause& c : clauses)
    if (!best || Better(c, *best)) best = &c;
  return best;
}

Info Either(Info a, Info b) {
  if (a.exact && b.exact && a.strings.size() + b.strings.size() <= kMaxExactStrings) {
    for (const std::string& s : b.strings) AddUnique(a.strings, s);
    return a;
  }
  // (A1 and A2 ...) or (B1 and ...) implies (Ai or Bj) for any i, j.
  const std::vector<Clause> ca = ClausesOf(std::move(a)), cb = ClausesOf(std::move(b));
  const Clause* x = BestClause(ca);
  const Clause* y = BestClause(cb);
  if (!x || !y) return kAnything;
  Clause joined = *x;
  for (const std::string& s : *y) AddUnique(joined, s);
  if (joined.size() > kMaxClauseAtoms) return kAnything;
  Info info;
  info.clauses.push_back(Simplified(std::move(joined)));
  return info;
}

Info Repeated(const Info& x, unsigned long min, unsigned long max) {
  if (min == 0) {
    if (max == 1 && x.exact && x.strings.size() < kMaxExactStrings) {
      Info optional = x;
      AddUnique(optional.strings, "");
      return optional;
    }
    return kAnything;
  }
  if (max == 1) return x;
  Info info;  // at least one copy is in the match
  info.clauses = ClausesOf(x);
  return info;
}

// A sequence: exact while every part is; otherwise the clauses of the
// parts, with runs of exact parts joined into longer literals. The exact
// tail is one string (the usual run of plain characters, kept without a
// vector: a list has a hundred thousand patterns) or, after a part with
// several strings, every combination so far.
class Sequence {
 public:
  // One literal character (0: one that is in no atom).
  void AppendCharacter(char c) {
    if (!c) c = CLiteralAnalysis::kAnyCharacter;
    if (!m_many) {
      m_run += c;
      return;
    }
    for (std::string& s : m_tails) s += c;
  }

  void Append(const Info& part) {
    if (part.exact && part.strings.size() == 1) {
      if (!m_many) {
        m_run += part.strings[0];
        return;
      }
      for (std::string& s : m_tails) s += part.strings[0];  // distinct heads stay distinct
      return;
    }
    if (part.exact) {
      // Every combination is a string of its own: beyond a few, or a few
      // long ones, the tails so far become a clause instead.
      std::size_t tailBytes = m_run.size(), partBytes = 0;
      for (const std::string& s : m_tails) tailBytes += s.size();
      for (const std::string& s : part.strings) partBytes += s.size();
      if (Tails() * part.strings.size() > kMaxExactStrings ||
          tailBytes * part.strings.size() + partBytes * Tails() > kMaxExactBytes)
        Flush();
      std::vector<std::string> joined;
      const auto join = [&](const std::string& head) {
        for (const std::string& s : part.strings) AddUnique(joined, head + s);
      };
      if (m_many) {
        for (const std::string& head : m_tails) join(head);
      } else {
        join(m_run);
      }
      SetTails(std::move(joined));
      return;
    }
    Flush();
    m_exact = false;
    m_clauses.insert(m_clauses.end(), part.clauses.begin(), part.clauses.end());
  }

  void Append(Info&& part) {
    if (part.exact) {
      Append(static_cast<const Info&>(part));
      return;
    }
    Flush();
    m_exact = false;
    if (m_clauses.empty()) {
      m_clauses = std::move(part.clauses);
      return;
    }
    for (Clause& c : part.clauses) m_clauses.push_back(std::move(c));
  }

  Info Result() {
    if (m_exact) return Info::Exactly(m_many ? std::move(m_tails) : std::vector<std::string>{std::move(m_run)});
    Flush();
    Info info;
    info.clauses = std::move(m_clauses);
    return info;
  }

 private:
  std::size_t Tails() const { return m_many ? m_tails.size() : 1; }

  void SetTails(std::vector<std::string> tails) {
    m_many = tails.size() != 1;
    if (m_many) {
      m_tails = std::move(tails);
      m_run.clear();
    } else {
      m_run = std::move(tails[0]);
      m_tails.clear();
    }
  }

  void Flush() {
    if (!m_many) {
      if (!m_run.empty()) {
        Clause atoms = Simplified({std::move(m_run)});
        if (!atoms.empty()) m_clauses.push_back(std::move(atoms));
      }
      m_run.clear();
    } else {
      Info tail;
      tail.exact = true;
      tail.strings.swap(m_tails);
      for (Clause& c : ClausesOf(std::move(tail))) m_clauses.push_back(std::move(c));
      m_tails.clear();
      m_many = false;
      m_run.clear();
    }
    m_exact = false;
  }

  bool m_exact = true;
  bool m_many = false;
  std::string m_run;                  // the tail when !m_many
  std::vector<std::string> m_tails;   // the tails when m_many
  std::vector<Clause> m_clauses;
};

// The analyses of outermost groups, by their text: the calling thread's,
// bounded (emptied when full).
class GroupMemo {
 public:
  const Info* Find(std::wstring_view text) const {
    const auto found = m_infos.find(text);
    return found == m_infos.end() ? nullptr : &found->second;
  }

  void Keep(std::wstring text, const Info& info) {
    if (m_infos.size() >= kMaxGroups) {
      m_infos.clear();
      m_texts.clear();
    }
    m_texts.push_back(std::move(text));
    m_infos.emplace(m_texts.back(), info);
  }

 private:
  static constexpr std::size_t kMaxGroups = 1024;
  std::deque<std::wstring> m_texts;  // the keys' characters; a deque keeps them in place
  std::unordered_map<std::wstring_view, Info> m_infos;
};

GroupMemo& Groups() {
  thread_local GroupMemo memo;
  return memo;
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsLower(wchar_t c) { return c >= L'a' && c <= L'z'; }
bool IsUpper(wchar_t c) { return c >= L'A' && c <= L'Z'; }
bool IsPrintable(wchar_t c) { return c >= 0x20 && c <= 0x7E; }

int HexValue(wchar_t c) {
  if (IsDigit(c)) return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Whether c is one of set, by a table made once per set (these are asked
// of every character of every pattern).
class CharacterSet {
 public:
  explicit CharacterSet(const char* set) {
    for (; *set; ++set) m_in[static_cast<unsigned char>(*set)] = true;
  }
  bool Has(wchar_t c) const { return c > 0 && c < 128 && m_in[static_cast<std::size_t>(c)]; }

 private:
  std::array<bool, 128> m_in{};
};

// Punctuation that stands for itself after a backslash (not \< \> \` \',
// which are assertions).
bool IsEscapableLiteral(wchar_t c) {
  static const CharacterSet set(".\\/-?*+()[]{}|^$:=&%~@!,;\"");
  return set.Has(c);
}

// Characters with a meaning of their own outside brackets.
bool IsSpecial(wchar_t c) {
  static const CharacterSet set("\\^$.[]()|*+?{}");
  return set.Has(c);
}

class Parser {
 public:
  explicit Parser(const std::wstring& pattern) : m_p(pattern) {}

  Info Parse() {
    for (wchar_t c : m_p)
      if (!IsPrintable(c)) throw NotUnderstood();
    Info info = Alternation(0);
    if (m_pos != m_p.size()) throw NotUnderstood();  // a ")" without "("
    return info;
  }

 private:
  bool AtEnd() const { return m_pos >= m_p.size(); }
  wchar_t Peek(std::size_t ahead = 0) const {
    return m_pos + ahead < m_p.size() ? m_p[m_pos + ahead] : 0;
  }

  Info Alternation(int depth) {
    if (depth > kMaxDepth) throw NotUnderstood();
    Info info = Concatenation(depth);
    while (Peek() == L'|') {
      ++m_pos;
      info = Either(std::move(info), Concatenation(depth));
    }
    return info;
  }

  Info Concatenation(int depth) {
    Sequence sequence;
    while (!AtEnd() && Peek() != L'|' && Peek() != L')') {
      // Runs of plain characters, the bulk of most patterns, go straight in.
      const std::size_t length = Peek() == L'\\' && IsEscapableLiteral(Peek(1)) ? 2 : 1;
      const wchar_t c = m_p[m_pos + length - 1];
      const wchar_t after = Peek(length);
      const bool plain = length == 2 || !IsSpecial(c);
      const bool repeated = after == L'*' || after == L'+' || after == L'?' || after == L'{';
      if (plain && !repeated) {
        m_pos += length;
        sequence.AppendCharacter(CLiteralAnalysis::Fold(c));
        continue;
      }
      if (length == 1 && (c == L'^' || c == L'$') && !repeated) {  // the empty string
        ++m_pos;
        continue;
      }
      sequence.Append(Piece(depth));
    }
    return sequence.Result();
  }

  Info Piece(int depth) {
    bool repeatable = true;
    const std::size_t start = m_pos;
    // Outermost groups recur across a list's patterns (what an import
    // writes around each host); what one is depends on its text alone.
    const Info* known = depth == 0 && Peek() == L'(' ? KnownGroup() : nullptr;
    Info parsed;
    if (!known) {
      parsed = Atom(depth, &repeatable);
      if (depth == 0 && m_p[start] == L'(') Groups().Keep(m_p.substr(start, m_pos - start), parsed);
    }
    const Info& atom = known ? *known : parsed;
    unsigned long min = 0, max = 0;
    if (!Quantifier(&min, &max)) return known ? Info(*known) : std::move(parsed);
    if (!repeatable) throw NotUnderstood();
    if (Peek() == L'?') ++m_pos;  // lazy: the same strings
    if (Peek() == L'+' || Peek() == L'*' || Peek() == L'?' || Peek() == L'{') throw NotUnderstood();
    return Repeated(atom, min, max);
  }

  // The kept analysis of the group that starts here, which is then passed;
  // null when none is kept.
  const Info* KnownGroup() {
    const std::size_t end = GroupEnd();
    if (end == std::wstring::npos) return nullptr;
    const Info* known = Groups().Find(std::wstring_view(m_p).substr(m_pos, end - m_pos));
    if (known) m_pos = end;
    return known;
  }

  // Where the group that starts here seems to end (past its ")"), by
  // escapes, brackets and parentheses alone; npos when it does not. Only
  // text a real parse took whole as a group is ever found, so a wrong
  // guess costs a miss, not a wrong analysis.
  std::size_t GroupEnd() const {
    int open = 0;
    for (std::size_t i = m_pos; i < m_p.size();) {
      const wchar_t c = m_p[i];
      if (c == L'\\') {
        i += 2;
      } else if (c == L'[') {
        for (++i; i < m_p.size() && m_p[i] != L']'; i += m_p[i] == L'\\' ? 2 : 1) {
        }
        ++i;
      } else {
        if (c == L'(') ++open;
        if (c == L')' && --open == 0) return i + 1;
        ++i;
      }
    }
    return std::wstring::npos;
  }

  bool Quantifier(unsigned long* min, unsigned long* max) {
    switch (Peek()) {
      case L'*':
        ++m_pos, *min = 0, *max = ULONG_MAX;
        return true;
      case L'+':
        ++m_pos, *min = 1, *max = ULONG_MAX;
        return true;
      case L'?':
        ++m_pos, *min = 0, *max = 1;
        return true;
      case L'{':
        ++m_pos;
        *min = Number();
        *max = *min;
        if (Peek() == L',') {
          ++m_pos;
          *max = IsDigit(Peek()) ? Number() : ULONG_MAX;
        }
        if (Peek() != L'}' || *max < *min) throw NotUnderstood();
        ++m_pos;
        return true;
      default:
        return false;
    }
  }

  unsigned long Number() {
    if (!IsDigit(Peek())) throw NotUnderstood();
    unsigned long n = 0;
    while (IsDigit(Peek())) {
      n = n * 10 + static_cast<unsigned long>(m_p[m_pos++] - L'0');
      if (n > kMaxRepeat) throw NotUnderstood();
    }
    return n;
  }

  Info Atom(int depth, bool* repeatable) {
    const wchar_t c = m_p[m_pos++];
    switch (c) {
      case L'^':
      case L'$':
        *repeatable = false;
        return kEmptyString;
      case L'.':
        return kAnyCharacter;
      case L'[':
        return BracketClass();
      case L'(': {
        if (Peek() == L'?') {
          if (Peek(1) != L':') throw NotUnderstood();
          m_pos += 2;
        }
        Info inner = Alternation(depth + 1);
        if (Peek() != L')') throw NotUnderstood();
        ++m_pos;
        return inner;
      }
      case L'\\':
        return Escape(repeatable);
      case L'*':
      case L'+':
      case L'?':
      case L'{':
      case L'}':
      case L']':
        throw NotUnderstood();
      default:
        return Literal(c);
    }
  }

  static Info Literal(wchar_t c) {
    const char folded = CLiteralAnalysis::Fold(c);
    if (!folded) return kAnyCharacter;
    return Info::Exactly({std::string(1, folded)});
  }

  Info Escape(bool* repeatable) {
    if (AtEnd()) throw NotUnderstood();
    const wchar_t c = m_p[m_pos++];
    switch (c) {
      case L'd':
      case L'D':
      case L'w':
      case L'W':
      case L's':
      case L'S':
      case L'n':
      case L't':
      case L'r':
      case L'f':
        return kAnyCharacter;
      case L'b':
      case L'B':
      case L'A':
      case L'z':
        *repeatable = false;
        return kEmptyString;
      case L'x':
        return Literal(HexByte());
      default:
        if (!IsEscapableLiteral(c)) throw NotUnderstood();
        return Literal(c);
    }
  }

  // \xHH with exactly two hex digits (the library reads at most two).
  wchar_t HexByte() {
    const int high = HexValue(Peek()), low = HexValue(Peek(1));
    if (high < 0 || low < 0) throw NotUnderstood();
    m_pos += 2;
    return static_cast<wchar_t>(high * 16 + low);
  }

  // A bracket class is one character of some set, checked to be one the
  // library accepts for certain: exactly one of its few members (case
  // folded), as "[0-9]" in "^10\.1[0-9]\." is, or anything.
  Info BracketClass() {
    bool few = Peek() != L'^';  // a negated set is most characters
    if (!few) ++m_pos;
    if (Peek() == L']') throw NotUnderstood();
    std::array<bool, 128> member{};  // by folded character
    std::size_t members = 0;
    const auto add = [&](wchar_t from, wchar_t to) {
      if (!few || to - from >= static_cast<wchar_t>(kMaxClassMembers)) {
        few = false;
        return;
      }
      for (wchar_t m = from; m <= to && few; ++m) {
        const char folded = CLiteralAnalysis::Fold(m);
        if (!folded) few = false;
        else if (!member[static_cast<unsigned char>(folded)]) member[static_cast<unsigned char>(folded)] = true, ++members;
      }
      if (members > kMaxClassMembers) few = false;
    };
    const auto result = [&] {
      if (!few) return kAnyCharacter;
      std::vector<std::string> strings;
      strings.reserve(members);
      for (std::size_t c = 0; c < member.size(); ++c)
        if (member[c]) strings.emplace_back(1, static_cast<char>(c));
      return Info::Exactly(std::move(strings));
    };
    bool first = true;
    while (true) {
      if (AtEnd()) throw NotUnderstood();
      wchar_t c = m_p[m_pos++];
      if (c == L']') return result();
      if (c == L'[') throw NotUnderstood();
      if (c == L'-' && (first || Peek() == L']')) {
        first = false;
        add(c, c);
        continue;
      }
      if (c == L'-') throw NotUnderstood();  // a range without a start, or after a range
      first = false;
      if (c == L'\\') {
        const wchar_t e = Peek();
        if (e && std::wcschr(L"dDwWsS", e)) {
          ++m_pos;
          few = false;
          continue;
        }
        if (e == L'x') {
          ++m_pos;
          const wchar_t x = HexByte();
          add(x, x);
          if (Peek() == L'-' && Peek(1) != L']') throw NotUnderstood();
          continue;
        }
        if (!IsEscapableLiteral(e) && e != L'n' && e != L't') throw NotUnderstood();
        ++m_pos;
        if (e == L'n' || e == L't') few = false;
        else add(e, e);
        if (Peek() == L'-' && Peek(1) != L']') throw NotUnderstood();
        continue;
      }
      if (Peek() == L'-' && Peek(1) != L']') {
        const wchar_t end = Peek(1);
        const bool sameKind = (IsDigit(c) && IsDigit(end)) || (IsLower(c) && IsLower(end)) ||
                              (IsUpper(c) && IsUpper(end));
        if (!sameKind || end < c) throw NotUnderstood();
        m_pos += 2;
        add(c, end);
        if (Peek() == L'-' && Peek(1) != L']') throw NotUnderstood();
        continue;
      }
      add(c, c);
    }
  }

  const std::wstring& m_p;
  std::size_t m_pos = 0;
};

}  // namespace

char CLiteralAnalysis::Fold(wchar_t c) {
  static const boost::regex_traits<wchar_t> traits;
  static const std::array<char, 128> ascii = [] {
    std::array<char, 128> table{};
    for (wchar_t a = 0; a < 128; ++a) {
      const wchar_t lower = traits.translate_nocase(a);
      table[static_cast<std::size_t>(a)] = IsPrintable(lower) ? static_cast<char>(lower) : 0;
    }
    return table;
  }();
  if (static_cast<std::make_unsigned_t<wchar_t>>(c) < 128)
    return ascii[static_cast<std::size_t>(c)];
  const wchar_t lower = traits.translate_nocase(c);
  return IsPrintable(lower) ? static_cast<char>(lower) : 0;
}

std::size_t CLiteralAnalysis::Weight(const std::string& atom) {
  return atom.size() - static_cast<std::size_t>(std::count(atom.begin(), atom.end(), kAnyCharacter));
}

CLiteralAnalysis::Result CLiteralAnalysis::Analyse(const std::wstring& pattern) {
  Result result;
  Info info;
  try {
    info = Parser(pattern).Parse();
  } catch (const NotUnderstood&) {
    return result;
  }
  result.understood = true;
  std::vector<Clause> clauses = ClausesOf(std::move(info));
  if (clauses.empty()) return result;
  // Best first; of equals the first, as BestClause picks (Better, with
  // each clause's weights taken once).
  if (clauses.size() > 1) {
    struct Ranked {
      std::size_t lightest, atoms;
      Clause* clause;
    };
    std::vector<Ranked> ranked;
    ranked.reserve(clauses.size());
    for (Clause& c : clauses) {
      std::size_t lightest = std::string::npos;
      for (const std::string& atom : c) lightest = std::min(lightest, Weight(atom));
      ranked.push_back({lightest, c.size(), &c});
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
      return a.lightest != b.lightest ? a.lightest > b.lightest : a.atoms < b.atoms;
    });
    std::vector<Clause> sorted;
    sorted.reserve(clauses.size());
    for (const Ranked& r : ranked) sorted.push_back(std::move(*r.clause));
    clauses.swap(sorted);
  }
  const auto append = [&](const Clause& clause) {
    if (!result.literals.empty()) result.literals += '\t';
    for (std::size_t i = 0; i < clause.size(); ++i) {
      if (i) result.literals += '\n';
      // A beginning of a required atom is required too.
      const std::size_t length = clause[i].find_last_not_of(kAnyCharacter, kMaxAtomLength - 1) + 1;
      result.literals.append(clause[i], 0, length);
    }
  };
  std::vector<const Clause*> chosen = {&clauses[0]};
  append(clauses[0]);
  // More clauses let the index rule out entries whose best literal many
  // others share; only long atoms, as short ones would be everywhere.
  for (const Clause& clause : clauses) {
    if (chosen.size() > kMaxExtraClauses) break;
    if (clause.size() > kMaxExtraClauseAtoms ||
        std::any_of(chosen.begin(), chosen.end(), [&](const Clause* c) { return *c == clause; }))
      continue;
    const bool longEnough = std::all_of(clause.begin(), clause.end(), [](const std::string& atom) {
      return Weight(atom) >= kMinExtraAtomLength;
    });
    if (!longEnough) continue;
    chosen.push_back(&clause);
    append(clause);
  }
  return result;
}
