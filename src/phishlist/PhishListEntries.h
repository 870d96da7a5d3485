// CPhishListEntries: the ordered entries of one phish list with their
// recursive lock: lookups (first match in list order decides), temporary
// white-listing, and loading from an enciphered database stream with the
// reload rules that keep what the user white-listed. CPhishList adds the
// update service on top; the publisher's tools use this part alone, so they
// run the filter's own lookup. A lookup tries only the entries its
// candidate index cannot rule out (phishlist/CandidateIndex.h), in list
// order, so it decides as the walk over every entry would; the index is
// rebuilt under the lock after the entries change (at the end of a load,
// or at the next lookup). Every operation holds the lock for its whole
// duration and releases it on every path, errors included (ReadEntries
// alone touches no list); the list owns its entries and destroys each one
// it removes at once.
#pragma once

#include <atomic>
#include <istream>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "phishlist/CandidateIndex.h"
#include "phishlist/PhishListItem.h"
#include "support/KernelObjects.h"
#include "uri/Uri.h"

class CPhishListEntries {
 public:
  CPhishListEntries();
  CPhishListEntries(const CPhishListEntries&) = delete;
  CPhishListEntries& operator=(const CPhishListEntries&) = delete;
  virtual ~CPhishListEntries();

  // The kind of the first entry whose pattern occurs in the URI without its
  // scheme, read as a server reads it (uri/UriNormalise.h); only when that
  // gives kind 0 (no entry, or one of kind 0) the URI as written is tried.
  // 0 when neither finds an entry of another kind. Find, FindIndex and
  // FindIndexLinear pick the deciding entry the same way.
  ListKind LookUp(const CUri& uri);
  // Makes the first matching entry white for as long as this list lives.
  void WhiteListTemporarily(const CUri& uri);
  // The first matching entry (the list keeps it), or null.
  CPhishListItem* Find(const CUri& uri);
  // Its position in the list (from 0), or -1 when nothing matches.
  long FindIndex(const CUri& uri);
  // The same by trying every entry in turn, without the index: the
  // reference the index is tested and measured against.
  long FindIndexLinear(const CUri& uri);
  // The entry at a position (the list keeps it), or null past the end.
  const CPhishListItem* GetEntry(std::size_t index);
  // Every entry's kind and pattern text, in list order, read in one hold of
  // the lock (so never half of one load and half of another).
  std::vector<std::pair<ListKind, std::wstring>> GetPatterns();

  bool IsLoaded() const;
  LONGLONG GetLoadStamp() const;
  std::size_t GetCount();
  // Entries the index cannot rule out for any subject.
  std::size_t GetUnfilteredCount();

  void AddEntry(CPhishListItem* entry);
  void UnloadDirty();
  void UnloadRedundant();
  void UnloadAll();

  // Entries in list order, owned.
  using Entries = std::vector<std::unique_ptr<CPhishListItem>>;

  // Replaces the entries with those of an enciphered database stream (one
  // character per byte): ReadEntries, then Replace. A container whose
  // checksum fails loads as no entries. A read that stops before the end
  // of the stream raises CException "Error decrypting phish database" and
  // leaves the list as it was.
  void Load(std::wistream& stream);
  // The entries of an enciphered database stream, read from its start,
  // deciphered and parsed; no list is touched, so no lock is needed. Raises
  // as Load does.
  static Entries ReadEntries(std::wistream& stream);
  // Puts entries in place of the current ones under the lock, keeping
  // carried-over white entries first (the reload rules), and stamps the
  // load. Nothing is dropped before the new entries are in hand.
  void Replace(Entries entries);
  // The plain text of the stream, one character per byte; empty when the
  // checksum fails.
  std::wstring DecryptStream(std::wistream& stream);
  void AddLine(std::wstring line);
  // A new entry made from a database line (the caller owns it), or null for
  // a line with fewer than two fields, or a pattern too long or that does
  // not compile.
  CPhishListItem* ParseLine(std::wstring line);

  // The parsing of ParseLine with the reason of a rejection ("too few
  // fields", a pattern too long, or the pattern's error), for tools that
  // report it.
  static std::unique_ptr<CPhishListItem> ParseFields(const std::wstring& line,
                                                     std::wstring* rejection);

  void Lock();
  void Unlock();

 protected:
  CCriticalSection m_lock;  // recursive; guards everything below and in derived classes

 private:
  std::vector<std::unique_ptr<CPhishListItem>> m_entries;  // list order = precedence
  // Time of the last completed load; 0 never. Written under the lock, read
  // without it (EnsureLoaded's test), hence atomic.
  std::atomic<LONGLONG> m_loadStamp;
  std::set<std::wstring> m_tempWhiteList;  // white texts carried by the load in progress
  // Every white text carried by the load in progress, consumed or not: a
  // line repeating one is dropped, as the first copy was.
  std::set<std::wstring> m_carriedTexts;
  CCandidateIndex m_index;     // of m_entries, unless stale
  bool m_indexStale = false;   // the entries changed since it was built

  void RebuildIndexIfStale();
  // The plain bytes of the stream; empty when the checksum fails.
  static std::string Decipher(std::wistream& stream);
};
