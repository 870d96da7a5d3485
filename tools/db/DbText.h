// The analysis behind ostrel-db, with no files or output of its own: how a
// database file is read (container or plain text), which of its lines the
// filter rejects or ignores, which entry decides an address, and which
// entries a browser can stop before the request leaves. It runs the
// filter's own classes (CTextReader, CPhishListEntries, CUri, CDecrypt,
// CEncrypt) so that what it reports is what the filter does. Database bytes
// are held as bytes (std::string) and handed to the filter's classes one
// character per byte. Not thread-safe; nothing is shared between calls.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "phishlist/PhishListEntries.h"

namespace ostrel::tools::db {

// Database bytes as the filter's wide strings (one character per byte) and
// back (the low 8 bits of each character).
std::wstring Widen(const std::string& bytes);
std::string Narrow(const std::wstring& chars);

// Whether bytes read as database text: no control character other than
// TAB, CR and LF, and either valid UTF-8 or mostly ASCII (a single-byte code
// page). Deciphered noise practically never passes, which is what lets a
// plain file be told from a container.
bool LooksLikeText(const std::string& bytes);

// What a database file holds. A plain file verifies as a container by
// chance once in 256 (its last byte equals the sum of the others), so a
// verifying file counts as a container only when its deciphered bytes read
// as text, or when the file itself does not.
enum class DbForm {
  Container,  // the checksum verifies
  Plain,      // not a container, but database text
  Damaged,    // neither: a container whose checksum fails, or not a database
};

struct Detection {
  DbForm form;
  std::string plain;  // the database text (deciphered for a container); empty when Damaged
};

Detection Detect(const std::string& bytes);

// The enciphered container of plain bytes. Empty text gives the one-byte
// container "\0", which verifies, rather than CEncrypt's empty result,
// which would not: the filter reads both as an empty list, but only the
// former survives the tool's own decrypt.
std::string Encipher(const std::string& plain);

// Loads the list through its own Load, as the filter loads its database
// file: a container (or damaged file) as it is, plain text enciphered in
// memory first.
void LoadInto(CPhishListEntries& list, const std::string& fileBytes, DbForm form);

// A line of the plain text that the filter does not turn into an entry.
struct Finding {
  enum class Kind {
    Rejected,   // ParseFields refuses it: too few fields, or a bad pattern
    Commented,  // text before a "#": the whole line is a comment
    Unended,    // the last line has no LF, so the reader drops it
  };
  Kind kind;
  std::size_t line;    // counted from 1, comment lines included
  std::wstring reason;
  std::string text;    // the line as the reader gives it (controls dropped)
};

struct CheckReport {
  std::vector<Finding> findings;           // in line order
  std::array<std::size_t, 4> accepted{};   // entries by ListKind: none, white, grey, black
  std::size_t AcceptedCount() const;
};

// Reads plain database text the way Load does and reports every line that
// gives no entry though it holds something (lines of spaces only count as
// empty; comment lines that start with "#" are silent).
CheckReport Check(const std::string& plain);

// Which entry decides an address, by the list's own lookup on a CUri of the
// address as given, as the filter builds it.
struct Explanation {
  std::wstring subject;  // what the patterns are searched in: no "scheme://" for http(s)
  bool scanned;          // http or https: the filter looks the address up at all
  long index;            // first matching entry, from 0; -1 when none matches
  ListKind kind;         // that entry's kind (LIST_KIND_NONE when none matches)
  std::wstring pattern;  // that entry's pattern text (one character per byte)
};

Explanation Explain(CPhishListEntries& list, const std::wstring& address);

// Which black and grey entries a browser can stop before the request
// leaves (phishlist/HostRule.h); the rest are caught after it.
struct RuleShare {
  std::size_t considered = 0;            // black and grey entries
  std::vector<std::size_t> withoutRule;  // their positions (from 0) that give no rule
  std::size_t WithRule() const { return considered - withoutRule.size(); }
};

RuleShare ShareOfRules(CPhishListEntries& list);

// "white", "grey", "black" or "none".
const char* KindName(ListKind kind);

}  // namespace ostrel::tools::db
