// CPhishListItem: one entry of a phish list: a kind (white, grey, black or
// none) and a pattern, held as the text a CUri of it holds (one byte a
// character when it can be, as database lines always can; the CUri itself
// is made at the first GetUriObject: a list of a million entries needs
// none) and compiled once into a case-insensitive Perl-syntax regular
// expression. The work one search may cost is bounded (pattern length,
// matching states), so a hostile entry cannot stall the lookups behind the
// list's lock. A pattern the literal analysis understands is known to
// compile and is compiled at its first search; any other is compiled at
// once, so a bad one is still refused at load. The list owns its entries
// and guards them with its own lock (the first search, and the first
// GetUriObject, change the entry); an entry has no lock.
#pragma once

#include <boost/regex.hpp>

#include <memory>
#include <string>

#include "platform/WinTypes.h"
#include "uri/Uri.h"

// Classification of entries and lookup results.
using ListKind = LONG;
constexpr ListKind LIST_KIND_NONE = 0;
constexpr ListKind LIST_KIND_WHITE = 1;
constexpr ListKind LIST_KIND_GREY = 2;
constexpr ListKind LIST_KIND_BLACK = 3;

class CPhishListItem {
 public:
  CPhishListItem();
  CPhishListItem(const CPhishListItem&) = delete;
  CPhishListItem& operator=(const CPhishListItem&) = delete;
  virtual ~CPhishListItem();

  void SetKind(ListKind kind);
  // 'b' black, 'g' grey, 'w' white (either case); anything else none.
  void SetKindFromChar(wchar_t c);
  ListKind GetKind() const;
  // 'w', 'g', 'b', or 'u' for any other kind.
  wchar_t GetKindChar() const;

  // The pattern text as a CUri (null before SetPattern); the entry keeps it.
  const CUri* GetUriObject() const;
  // Its text, as GetUriObject()->GetUri() (empty before SetPattern).
  std::wstring GetPattern() const;
  // The compiled pattern (compiled now if it was not yet).
  const boost::wregex& GetRegex() const;
  // Literals of which every match contains one ('\n'-separated), for the
  // list's candidate index; empty when the entry must always be tried.
  const std::string& GetLiterals() const;

  // Longest pattern text accepted, in characters.
  static constexpr std::size_t kMaxPatternLength = 512;

  // Holds text as a CUri would (less a verified hash-key marker) and reads
  // it (CLiteralAnalysis). A pattern that does not compile raises
  // boost::regex_error to the caller; so does one longer than
  // kMaxPatternLength, with the code error_size.
  void SetPattern(std::wstring text);

  // Whether the pattern occurs anywhere in subject. A search is allowed
  // (10,000 + 6 per subject character) matching states, divided by one per
  // 32 characters of pattern (a state may compare a whole literal run):
  // ordinary entries need a few states per character at most, while nested
  // repeats would need millions. A search that runs out, or that the
  // engine gives up on otherwise, is no match.
  bool Matches(const std::wstring& subject) const;

 private:
  void CompileIfPending() const;

  ListKind m_kind;
  bool m_set = false;              // SetPattern was called
  mutable bool m_pending = false;  // understood, not compiled yet
  // The pattern: a byte a character (Latin-1) unless m_wide, then the
  // bytes of its wchar_t characters.
  std::string m_text;
  bool m_wide = false;
  mutable std::unique_ptr<CUri> m_uri;  // of the pattern, made when first asked for
  mutable boost::wregex m_regex;
  std::string m_literals;
};
