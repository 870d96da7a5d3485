// CLiteralAnalysis: what the candidate index knows of one pattern: whether
// the pattern lies in the part of the Perl syntax the analysis reads with
// certainty (literals, escaped punctuation, \d \w \s and their negations,
// \xHH, ".", simple bracket classes, groups "( )" and "(?: )", alternation,
// greedy and lazy repeats, the anchors ^ $ \b \B \A \z), and if so a few
// clauses: sets of case-folded literal strings of which every match must
// contain one from each clause. Such
// a pattern is also known to compile, so its entry may compile it at first
// use. Anything else (look-arounds, back-references, possessive repeats,
// \Z, \x{...}, POSIX classes, characters outside printable ASCII, ...) is
// not understood: compiled at load and never filtered. Thread-safe: each
// thread keeps what it found for the outermost groups of its recent
// patterns (up to 1,024, by their text: the patterns of a list repeat the
// same few groups around each host), which changes no result. The case
// folding is the regular-expression traits' of the global locale, taken at
// first use. Serves CPhishListItem and CCandidateIndex.
#pragma once

#include <string>

class CLiteralAnalysis {
 public:
  struct Result {
    bool understood = false;
    // Clauses separated by '\t', the atoms of a clause by '\n'; a match
    // contains at least one atom of every clause. In an atom,
    // kAnyCharacter stands for one character of any kind (as "." and
    // classes of many match); an atom begins and ends with others. The first clause is the
    // one with the longest shortest atom; the others (at most
    // kMaxExtraClauses) have no atom shorter than kMinExtraAtomLength, so
    // that checking them costs the index little. Empty when nothing is
    // required (the entry is then always tried).
    std::string literals;
  };

  // Reads a pattern as compiled with perl | icase.
  static Result Analyse(const std::wstring& pattern);

  // A subject character as the atoms hold it: the traits' lower case if
  // that is printable ASCII, otherwise 0 (never part of an atom).
  static char Fold(wchar_t c);

  // Longest atom kept, in characters: a part of a required literal is
  // required too, and the index holds every atom.
  static constexpr std::size_t kMaxAtomLength = 32;
  static constexpr std::size_t kMaxExtraClauses = 3;
  static constexpr std::size_t kMinExtraAtomLength = 4;
  static constexpr std::size_t kMaxExtraClauseAtoms = 8;
  // Never a folded character (not printable).
  static constexpr char kAnyCharacter = '\x7f';
  // What an atom tells: its characters other than kAnyCharacter.
  static std::size_t Weight(const std::string& atom);
};
