// CCandidateIndex: which entries of a list can match a subject at all. Each
// entry comes with the clauses of CLiteralAnalysis (every match of its
// pattern holds an atom of each) or with none (always tried). An entry is
// filed under the atoms of its clause that the fewest entries share; its
// other clauses are checked against the atoms found. One pass over the
// case-folded subject finds the atoms that occur in it: each atom is filed
// under its rarest four-character gram of characters it names (when it
// has none, under its rarest among the longest it has), so every position
// costs a hash probe per gram length in use plus a comparison per atom
// filed under the gram found there (where an atom has a character of any
// kind, any character of the subject will do). The entries then tried are those
// of the atoms found and those without atoms, in list order. A bit filter
// of the grams in use spares most positions their probe.
// Built whole from the entries (Build) and read by lookups; not thread-safe,
// not even for lookups alone (they mark the atoms found in scratch state):
// the owning list builds and reads it under its lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CCandidateIndex {
 public:
  // literals[i]: entry i's clauses as CLiteralAnalysis writes them; empty
  // for an entry always tried.
  void Build(const std::vector<const std::string*>& literals);
  void Clear();

  // Calls tryEntry(i) for every candidate entry i in ascending order until
  // it returns true; returns that i, or -1.
  template <class F>
  long FirstMatch(const std::wstring& subject, F tryEntry) const {
    std::vector<std::uint32_t> found;
    FilteredCandidates(subject, &found);
    std::size_t a = 0, b = 0;
    while (a < found.size() || b < m_unfiltered.size()) {
      std::uint32_t next;
      if (b == m_unfiltered.size() || (a < found.size() && found[a] < m_unfiltered[b]))
        next = found[a++];
      else
        next = m_unfiltered[b++];
      if (tryEntry(static_cast<std::size_t>(next))) return static_cast<long>(next);
    }
    return -1;
  }

  std::size_t GetUnfilteredCount() const { return m_unfiltered.size(); }

 private:
  // The entries of the atoms that occur in subject, ascending, each once.
  void FilteredCandidates(const std::wstring& subject, std::vector<std::uint32_t>* out) const;

  struct Atom {
    std::uint32_t text;      // offset in m_text
    std::uint16_t anchor;    // offset of the gram it is filed under
    std::uint8_t length;
    std::uint8_t gram;       // that gram's length, | kAnyBit when the atom has a character of any kind
    std::uint32_t postings;  // first of its entries in m_postings
  };
  static constexpr std::uint8_t kAnyBit = 0x80;
  struct Slot {
    std::uint32_t key = 0;    // gram length << 28 | seven bits per character; 0 empty
    std::uint32_t first = 0;  // its atoms: m_filed[first, next slot's first)
    std::uint32_t count = 0;
  };

  const Slot* Probe(std::uint32_t key) const;

  std::string m_text;                    // every atom's characters
  std::vector<Atom> m_atoms;             // plus one end marker for the postings
  std::vector<std::uint32_t> m_postings; // entries of each atom, ascending
  std::vector<std::uint32_t> m_filed;    // atom ids grouped by gram
  std::vector<Slot> m_slots;             // open addressing, a power of two
  std::vector<std::uint32_t> m_unfiltered;
  unsigned m_gramLengths = 0;            // bit q set: some atom is filed under a q-gram
  // One bit per hash of the grams in m_slots (a power of two, at least 8
  // bits per gram): a clear bit rules a subject's gram out without a
  // probe, which is what most positions of a long address get.
  std::vector<std::uint64_t> m_gramFilter;
  std::uint32_t m_filterMask = 0;
  // The clauses an entry is checked against: m_checks[m_checkBegin[e],
  // m_checkBegin[e + 1]) holds, clause after clause, its atom count and
  // atom ids. Both empty when no entry has a clause to check.
  std::vector<std::uint32_t> m_checkBegin;
  std::vector<std::uint32_t> m_checks;
  // Lookup scratch: m_seen[atom] == m_stamp marks the atoms found by the
  // lookup in progress.
  mutable std::vector<std::uint32_t> m_seen;
  mutable std::uint32_t m_stamp = 0;
};
