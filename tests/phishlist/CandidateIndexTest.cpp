// The candidate index: what the literal analysis derives from a pattern,
// that every pattern it understands compiles (such entries are compiled at
// first use only), and that indexed lookups decide exactly as the walk over
// every entry does, on random lists of many shapes, across white-listing
// and reloads.
#include <gtest/gtest.h>

#include <boost/regex.hpp>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/Database.h"
#include "common/ListShapes.h"
#include "phishlist/CandidateIndex.h"
#include "phishlist/LiteralAnalysis.h"
#include "phishlist/PhishListEntries.h"

namespace {

// A random pattern and a text made to match it (loosely: look-arounds and
// the like may spoil it, which is fine for a subject).
struct Piece {
  std::wstring pattern, sample;
};

class Generator {
 public:
  explicit Generator(unsigned seed) : m_rng(seed) {}

  unsigned Roll(unsigned n) { return m_rng() % n; }

  // Two to four characters of a few, in either case.
  std::wstring Word() {
    std::wstring w;
    for (unsigned n = 2 + Roll(3); n > 0; --n) w += L"abekps-1"[Roll(8)];
    for (wchar_t& c : w)
      if (Roll(4) == 0) c = static_cast<wchar_t>(towupper(c));
    return w;
  }

  Piece Node(int depth) {
    const unsigned kinds = depth > 2 ? 8 : 17;
    switch (Roll(kinds)) {
      case 0: case 1: case 2: {
        const std::wstring w = Word();
        return {w, Roll(3) ? w : Flip(w)};
      }
      case 3: {
        static const wchar_t* const kEscaped[] = {L"\\.", L"\\/", L"\\-", L"\\?", L"\\$"};
        const std::wstring e = kEscaped[Roll(5)];
        return {e, e.substr(1)};
      }
      case 4: {
        const wchar_t c = L"aBz09.-"[Roll(7)];
        wchar_t hex[8];
        swprintf(hex, 8, L"\\x%02X", static_cast<unsigned>(c));
        return {hex, std::wstring(1, c)};
      }
      case 5: {
        static const wchar_t* const kClasses[] = {L".", L"[a-z]", L"[0-9a-f]", L"[^/]", L"[-.]",
                                                  L"[a-z0-9-]", L"\\d", L"\\w", L"[[:digit:]]",
                                                  L"\\s", L"[A-Z]", L"[^/?\\x23@]",
                                                  L"[/?\\x23\\\\]"};
        static const wchar_t* const kSamples[] = {L"q", L"k", L"7", L"e", L".", L"-", L"5",
                                                  L"_", L"3", L" ", L"K", L"s", L"#"};
        const unsigned i = Roll(13);
        return {kClasses[i], kSamples[i]};
      }
      case 6: {
        static const wchar_t* const kOdd[] = {L"\u00e9", L"\u00c4", L"\u212a", L"\u017f", L"\u0131"};
        const std::wstring c = kOdd[Roll(5)];
        return {c, Roll(2) ? c : std::wstring(1, L"eaksi"[Roll(5)])};
      }
      case 7:
        return {L"\\b", L""};
      case 8: case 9: {
        const Piece a = Node(depth + 1), b = Node(depth + 1);
        return {L"(" + a.pattern + L"|" + b.pattern + L")", Roll(2) ? a.sample : b.sample};
      }
      case 10: {
        const Piece a = Node(depth + 1);
        return {(Roll(2) ? L"(?:" : L"(") + a.pattern + L"|)", Roll(2) ? a.sample : L""};
      }
      case 11: case 12: {
        const Piece a = Node(depth + 1);
        static const wchar_t* const kRepeats[] = {L"*", L"+", L"?", L"{2}", L"{1,3}", L"*?", L"{0,2}"};
        static const int kCounts[] = {2, 1, 1, 2, 3, 0, 0};
        const unsigned r = Roll(7);
        std::wstring sample;
        for (int i = 0; i < kCounts[r]; ++i) sample += a.sample;
        return {L"(" + a.pattern + L")" + kRepeats[r], sample};
      }
      case 13: {
        const Piece a = Node(depth + 1);
        return {(Roll(2) ? L"(?=" : L"(?!") + a.pattern + L")", L""};
      }
      case 14: {
        const Piece a = Node(depth + 1);
        return {L"(" + a.pattern + L")\\1", a.sample + a.sample};
      }
      case 15:
        return {L".*", Word()};
      default: {
        Piece s = Node(depth + 1);
        for (int n = static_cast<int>(Roll(3)); n >= 0; --n) {
          const Piece b = Node(depth + 1);
          s.pattern += b.pattern, s.sample += b.sample;
        }
        return s;
      }
    }
  }

  Piece Pattern() {
    Piece p = Node(0);
    if (Roll(4) == 0) p.pattern = L"^" + p.pattern;
    if (Roll(6) == 0) p.pattern += L"$";
    if (Roll(8) == 0) p.pattern = Soup();
    return p;
  }

  // Pattern syntax thrown together: much of it does not compile.
  std::wstring Soup() {
    static const wchar_t kSoup[] = L"ab.\\()[]{}|*+?^$-,019xdwAZ:=!<";
    std::wstring s;
    for (unsigned n = 1 + Roll(8); n > 0; --n) s += kSoup[Roll(sizeof kSoup / sizeof(wchar_t) - 1)];
    return s;
  }

  std::wstring Flip(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(iswupper(c) ? towlower(c) : towupper(c));
    return s;
  }

  // A database of count lines from the pattern pool: one byte per
  // character, so patterns with characters beyond 0xFF are left out.
  std::string Database(const std::vector<Piece>& pool, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
      const std::wstring& p = pool[Roll(static_cast<unsigned>(pool.size()))].pattern;
      if (std::any_of(p.begin(), p.end(), [](wchar_t c) { return c > 0xFF; })) continue;
      text += std::string(1, "bgwx"[Roll(4)]) + " " + std::string(p.begin(), p.end()) + "\n";
    }
    return text;
  }

 private:
  std::mt19937 m_rng;
};

void Load(CPhishListEntries& list, const std::string& plain) {
  auto stream = ostrel::test::ContainerStream(plain);
  list.Load(stream);
}

bool MatchesAnyOf(const std::wstring& pattern, const std::vector<std::wstring>& texts) {
  try {
    const boost::wregex re(pattern, boost::regex_constants::perl | boost::regex_constants::icase);
    for (const std::wstring& text : texts)
      if (boost::regex_search(text, re)) return true;
  } catch (const std::exception&) {
  }
  return false;
}

}  // namespace

TEST(CandidateIndexTest, LiteralsDerivedFromPatterns) {
  const struct {
    const wchar_t* pattern;
    bool understood;
    const char* literals;
  } rows[] = {
      {L"^([a-z0-9-]+\\.)*Evil-Site\\.test(:|/|$)", true, "evil-site.test"},
      {L"(paypal|eBay)-login", true, "ebay-login\npaypal-login"},
      {L"colou?r\\x41", true, "colora\ncoloura"},
      {L"ab(cd)+e[0-9]{2}fgh", true, "fgh"},
      {L"\\.php\\?acct=", true, ".php?acct="},
      {L"(a|b)c|de", true, "ac\nbc\nde"},
      {L".*", true, ""},
      // More clauses, each of long atoms only, after the best one.
      {L"login.*verify.*97180", true, "verify\tlogin\t97180"},
      {L"^secure-[0-9]{2,4}-login471\\.com/", true, "-login471.com/\tsecure-"},
      {L"(paypal|paypa11)-x[0-9]*\\.bank\\.", true, "paypal-x\npaypa11-x\t.bank."},
      // One character of any kind stays in its atom ("\x7f"), not at its ends;
      // a class of at most ten characters is one of them.
      {L"a.b.c.verify", true, "a\x7f" "b\x7f" "c\x7f" "verify"},
      {L"20.231.134.195", true, "20\x7f" "231\x7f" "134\x7f" "195"},
      {L".[^/]evil\\d[a-z]", true, "evil"},
      {L"^\\d\\d$", true, ""},
      {L"^10\\.1[0-9]\\.[0-9]{1,3}/", true,
       "10.10.\n10.11.\n10.12.\n10.13.\n10.14.\n10.15.\n10.16.\n10.17.\n10.18.\n10.19."},
      {L"[Kk-]ey[^a]", true, "-ey\nkey"},
      // Combinations stop at 16, or at 192 characters in all: then the
      // strings so far are a clause of their own.
      {L"(paypal|paypa1|paypai|pay-pal)-(secure|login)-(verify|update)\\.portal9\\.xyz", true,
       "verify.portal9.xyz\nupdate.portal9.xyz\tpaypal-login-\npaypa1-login-\npaypai-login-\n"
       "paypal-secure-\npaypa1-secure-\npaypai-secure-\npay-pal-login-\npay-pal-secure-"},
      {L"evil|", true, ""},
      {L"^\\d+$", true, ""},
      {L"(?=evil)evil", false, ""},
      {L"(ab)\\1", false, ""},
      {L"\u00e9vil", false, ""},
      {L"evil\\Z", false, ""},
      {L"ev\\x{41}l", false, ""},
      {L"a++b", false, ""},
      {L"[[:digit:]]x", false, ""},
      {L"x{2,1}", false, ""},
      {L"^bad(", false, ""},
  };
  for (const auto& row : rows) {
    const CLiteralAnalysis::Result r = CLiteralAnalysis::Analyse(row.pattern);
    EXPECT_EQ(r.understood, row.understood) << row.pattern;
    EXPECT_EQ(r.literals, row.literals) << row.pattern;
  }
}

// The analysis keeps what it found for outermost groups, by their text, to
// reuse in later patterns: what a pattern gives must not depend on which
// patterns came before. Patterns made of a few shared groups (tricky ones
// among them: parentheses inside brackets, escaped, unbalanced, nested) are
// analysed in one order on one thread and in the reverse order on another.
TEST(CandidateIndexTest, AnalysesDoNotDependOnThePatternsBefore) {
  Generator gen(11);
  std::vector<std::wstring> groups = {L"([)]a|b)", L"(\\)x|\\(y)", L"(a(b)", L"((ab)|c)d)",
                                      L"([^)]+\\))", L"(x\\()", L"(abc)"};
  for (int i = 0; i < 300; ++i) {
    const std::wstring inner = i % 3 ? gen.Pattern().pattern : gen.Soup();
    groups.push_back(L"(" + inner + L")" + (i % 4 ? L"" : L"?"));
  }
  std::vector<std::wstring> patterns;
  for (int i = 0; i < 6000; ++i) {
    std::wstring p;
    for (unsigned n = 1 + gen.Roll(3); n > 0; --n)
      p += groups[gen.Roll(static_cast<unsigned>(groups.size()))] + gen.Word();
    patterns.push_back(p);
  }
  const auto analyse = [&patterns](bool reverse) {
    std::vector<std::string> results(patterns.size());
    std::thread([&] {
      for (std::size_t k = 0; k < patterns.size(); ++k) {
        const std::size_t i = reverse ? patterns.size() - 1 - k : k;
        const CLiteralAnalysis::Result r = CLiteralAnalysis::Analyse(patterns[i]);
        results[i] = (r.understood ? "+" : "-") + r.literals;
      }
    }).join();
    return results;
  };
  const std::vector<std::string> forward = analyse(false), backward = analyse(true);
  int understood = 0;
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    EXPECT_EQ(forward[i], backward[i]) << patterns[i];
    understood += forward[i][0] == '+';
  }
  EXPECT_GT(understood, 1000);
}

// Entries of understood patterns are compiled at first use, so the load
// relies on every such pattern compiling.
TEST(CandidateIndexTest, EveryUnderstoodPatternCompiles) {
  Generator gen(7);
  int understood = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::wstring p = i % 2 ? gen.Soup() + gen.Soup() : gen.Pattern().pattern;
    if (!CLiteralAnalysis::Analyse(p).understood) continue;
    ++understood;
    EXPECT_NO_THROW(boost::wregex(p, boost::regex_constants::perl | boost::regex_constants::icase))
        << p;
  }
  EXPECT_GT(understood, 5000);
}

// Where an atom holds a character of any kind, every character of the
// subject will do, those that fold to no atom character included; the
// characters it names still rule subjects out.
TEST(CandidateIndexTest, CharactersOfAnyKindInAtomsTakeEveryCharacter) {
  const std::vector<std::wstring> patterns = {L"20.231.134.195", L"^log[^/]n\\.[a-z]ecure-\\d",
                                              L"10\\.1[0-9]\\.7"};
  std::vector<std::string> literals;
  for (const std::wstring& p : patterns) literals.push_back(CLiteralAnalysis::Analyse(p).literals);
  std::vector<const std::string*> byEntry;
  for (const std::string& l : literals) byEntry.push_back(&l);
  CCandidateIndex index;
  index.Build(byEntry);
  const auto candidate = [&](const std::wstring& subject) {
    std::vector<std::size_t> tried;
    index.FirstMatch(subject, [&](std::size_t e) { return tried.push_back(e), false; });
    return tried.size() == 1 ? static_cast<long>(tried[0]) : -static_cast<long>(tried.size()) - 1;
  };
  for (const wchar_t* subject : {L"20.231.134.195", L"x20\u00e9231\u212a134\x01" L"195/", L"20-231-134-195"})
    EXPECT_EQ(candidate(subject), 0) << subject;
  for (const wchar_t* subject : {L"login.secure-7", L"LOG\u00ffN.\u212aECURE-1", L"log/n.secure-1"})
    EXPECT_EQ(candidate(subject), 1) << subject;
  EXPECT_EQ(candidate(L"a/10.17.7"), 2);
  for (const wchar_t* subject : {L"20.231.134.19", L"21.231.134.195", L"login.secure", L"10.1a.7", L"10.177.7"})
    EXPECT_EQ(candidate(subject), -1) << subject;
}

TEST(CandidateIndexTest, IndexedLookupsDecideAsTheWalkOverEveryEntry) {
  for (unsigned seed : {1u, 2u, 3u}) {
    Generator gen(seed);
    // Entries that match what most addresses hold would decide nearly
    // every lookup: left out.
    std::vector<std::wstring> background;
    for (int i = 0; i < 8; ++i) background.push_back(L"www." + gen.Word() + gen.Word() + L"/");
    std::vector<Piece> pool(1500);
    for (Piece& p : pool)
      do p = gen.Pattern();
      while (MatchesAnyOf(p.pattern, background));
    auto compare = [&](CPhishListEntries& list, const char* stage) {
      int matched = 0;
      for (int i = 0; i < 1000; ++i) {
        std::wstring text = gen.Roll(4) ? pool[gen.Roll(1500)].sample : gen.Word();
        text = std::wstring(gen.Roll(2) ? L"" : L"www.") + text +
               (gen.Roll(2) ? gen.Word() + gen.Pattern().sample : L"/");
        const CUri uri((gen.Roll(3) ? L"ftp://" : L"http://") + text);
        const long indexed = list.FindIndex(uri);
        ASSERT_EQ(indexed, list.FindIndexLinear(uri)) << stage << " seed " << seed << ": " << text;
        matched += indexed >= 0;
      }
      EXPECT_GT(matched, 500) << stage;
    };
    CPhishListEntries list;
    Load(list, gen.Database(pool, 1500));
    ASSERT_GT(list.GetCount(), 1000u);
    compare(list, "loaded");
    for (int i = 0; i < 50; ++i) list.WhiteListTemporarily(CUri(L"ftp://" + pool[gen.Roll(1500)].sample));
    Load(list, gen.Database(pool, 1500));  // carried-over white entries come first
    compare(list, "reloaded");
    for (int i = 0; i < 100; ++i)  // any character, appended one by one
      list.AddEntry(list.ParseLine(L"b " + pool[gen.Roll(1500)].pattern));
    compare(list, "added to");
  }
}

// Lists where thousands of entries share the words the index could key on:
// hits, near misses (one literal changed) and well-known sites decide as
// the walk does, and the hits are hits.
TEST(CandidateIndexTest, ListsOfFeedShapesDecideAsTheWalk) {
  for (const auto& shaped : {ostrel::test::HardShapedList(6000, 11), ostrel::test::FeedShapedList(3000, 12)}) {
    CPhishListEntries list;
    Load(list, shaped.text);
    ASSERT_EQ(list.GetCount(), shaped.lines);
    std::size_t hits = 0;
    for (const auto* addresses : {&shaped.hits, &shaped.nearMisses, &shaped.clean}) {
      for (const std::wstring& address : *addresses) {
        const CUri uri(address);
        const long indexed = list.FindIndex(uri);
        ASSERT_EQ(indexed, list.FindIndexLinear(uri)) << address;
        hits += addresses == &shaped.hits && indexed >= 0;
      }
    }
    EXPECT_EQ(hits, shaped.hits.size());
  }
}
