#include "phishlist/CandidateIndex.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "phishlist/LiteralAnalysis.h"

namespace {

constexpr unsigned kGram = 4;

// Gram length in the top bits, then seven bits per character (atoms hold
// printable ASCII only); 0 when a character cannot be in an atom.
// FilteredCandidates forms the same keys from a rolling window.
std::uint32_t GramKey(const char* s, unsigned length) {
  std::uint32_t key = length;
  for (unsigned i = 0; i < length; ++i) {
    if (!s[i]) return 0;
    key = (key << 7) | static_cast<unsigned char>(s[i]);
  }
  return key << (7 * (kGram - length));
}

std::uint32_t Hash(std::uint32_t key) { return key * 0x9E3779B1u; }

// The filter's bit for a gram, from the well-mixed high half of the hash too.
std::uint32_t FilterBit(std::uint32_t key) {
  const std::uint32_t h = Hash(key);
  return h ^ (h >> 16);
}

// Whether the atom's length characters occur at subject, where one of any
// kind stands for every character.
bool Occurs(const char* atom, std::size_t length, const char* subject) {
  for (std::size_t i = 0; i < length; ++i)
    if (atom[i] != subject[i] && atom[i] != CLiteralAnalysis::kAnyCharacter) return false;
  return true;
}

std::size_t PowerOfTwoAtLeast(std::size_t n) {
  std::size_t size = 16;
  while (size < n) size *= 2;
  return size;
}

}  // namespace

void CCandidateIndex::Clear() {
  m_text.clear();
  m_atoms.clear();
  m_postings.clear();
  m_filed.clear();
  m_slots.clear();
  m_unfiltered.clear();
  m_gramLengths = 0;
  m_gramFilter.clear();
  m_filterMask = 0;
  m_checkBegin.clear();
  m_checks.clear();
  m_seen.clear();
  m_stamp = 0;
}

void CCandidateIndex::Build(const std::vector<const std::string*>& literals) {
  Clear();
  // Atoms, each once, and each entry's clauses as lists of atom ids. The
  // atoms are found by text in an open-addressed table of ids with their
  // hashes (grown at half full; most lists have an atom or two an entry):
  // a node per atom would cost more than the rest of the build, and at a
  // million entries each look at the table is a cache miss.
  struct Interned {
    std::uint32_t hash = 0;
    std::uint32_t id = 0;  // id + 1; 0 free
  };
  std::vector<Interned> ids(PowerOfTwoAtLeast(4 * literals.size()));
  const auto textOf = [this](std::uint32_t id) {
    return std::string_view(m_text.data() + m_atoms[id].text, m_atoms[id].length);
  };
  const auto intern = [&](std::string_view atom, std::uint32_t hash) {
    std::uint32_t mask = static_cast<std::uint32_t>(ids.size() - 1), slot = hash & mask;
    for (; ids[slot].id; slot = (slot + 1) & mask)
      if (ids[slot].hash == hash && textOf(ids[slot].id - 1) == atom) return ids[slot].id - 1;
    const auto id = static_cast<std::uint32_t>(m_atoms.size());
    m_atoms.push_back({static_cast<std::uint32_t>(m_text.size()), 0,
                       static_cast<std::uint8_t>(atom.size()), 0, 0});
    m_text.append(atom.data(), atom.size());
    ids[slot] = {hash, id + 1};
    if (2 * m_atoms.size() > ids.size()) {
      std::vector<Interned> grown(2 * ids.size());
      mask = static_cast<std::uint32_t>(grown.size() - 1);
      for (const Interned& i : ids) {
        if (!i.id) continue;
        std::uint32_t s = i.hash & mask;
        while (grown[s].id) s = (s + 1) & mask;
        grown[s] = i;
      }
      ids.swap(grown);
    }
    return id;
  };
  std::vector<std::uint32_t> clauseAtoms;           // atom ids, clause after clause
  std::vector<std::uint32_t> clauseBegin = {0};     // per clause, into clauseAtoms
  std::vector<std::uint32_t> entryBegin = {0};      // per entry, into clauseBegin
  entryBegin.reserve(literals.size() + 1);
  clauseAtoms.reserve(2 * literals.size());
  clauseBegin.reserve(2 * literals.size());
  // Entries are read a block at a time, their atoms hashed first, so that
  // the table's slot for an atom a few ahead is fetched while this one is
  // interned.
  struct Piece {
    std::string_view atom;  // empty: it requires nothing, nor does its clause
    std::uint32_t hash;
    bool clauseEnds;
  };
  constexpr std::uint32_t kBlock = 256, kAhead = 8;
  std::vector<Piece> pieces;
  std::vector<std::uint32_t> entryPieces;  // per entry of the block, into pieces
  for (std::uint32_t block = 0; block < literals.size(); block += kBlock) {
    const auto blockEnd = static_cast<std::uint32_t>(std::min<std::size_t>(literals.size(), block + kBlock));
    pieces.clear();
    entryPieces.assign(1, 0);
    for (std::uint32_t entry = block; entry < blockEnd; ++entry) {
      // Each entry's literals are a heap block of their own: fetched ahead.
      if (entry + 2 * kAhead < literals.size()) __builtin_prefetch(literals[entry + 2 * kAhead]);
      if (entry + kAhead < literals.size() && literals[entry + kAhead])
        __builtin_prefetch(literals[entry + kAhead]->data());
      const std::string_view text = literals[entry] ? std::string_view(*literals[entry]) : std::string_view();
      for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find_first_of("\n\t", start);
        if (end == std::string_view::npos) end = text.size();
        // What an atom requires: its characters short of kMaxAtomLength
        // (a beginning of a required atom is required too), less any of
        // any kind at its ends.
        std::string_view atom = text.substr(start, std::min(end - start, CLiteralAnalysis::kMaxAtomLength));
        const std::size_t first = atom.find_first_not_of(CLiteralAnalysis::kAnyCharacter);
        atom = first == std::string_view::npos
                   ? std::string_view()
                   : atom.substr(first, atom.find_last_not_of(CLiteralAnalysis::kAnyCharacter) + 1 - first);
        const auto hash = static_cast<std::uint32_t>(std::hash<std::string_view>()(atom));
        pieces.push_back({atom, hash, end == text.size() || text[end] == '\t'});
        start = end + 1;
      }
      entryPieces.push_back(static_cast<std::uint32_t>(pieces.size()));
    }
    for (std::uint32_t entry = block; entry < blockEnd; ++entry) {
      bool voidClause = false;
      for (std::uint32_t i = entryPieces[entry - block]; i < entryPieces[entry - block + 1]; ++i) {
        if (i + kAhead < pieces.size())
          __builtin_prefetch(&ids[pieces[i + kAhead].hash & (ids.size() - 1)]);
        const Piece& piece = pieces[i];
        if (piece.atom.empty())
          voidClause = true;
        else
          clauseAtoms.push_back(intern(piece.atom, piece.hash));
        if (piece.clauseEnds) {
          if (voidClause) clauseAtoms.resize(clauseBegin.back());
          if (clauseAtoms.size() > clauseBegin.back())
            clauseBegin.push_back(static_cast<std::uint32_t>(clauseAtoms.size()));
          voidClause = false;
        }
      }
      if (clauseBegin.size() - 1 == entryBegin.back()) m_unfiltered.push_back(entry);  // no clause
      entryBegin.push_back(static_cast<std::uint32_t>(clauseBegin.size() - 1));
    }
  }
  std::vector<Interned>().swap(ids);
  const std::size_t atomCount = m_atoms.size();

  // Each entry is filed under the atoms of its clause that the fewest
  // entries share (so a lookup meets the fewest candidates); its other
  // clauses are checked against the atoms a lookup found.
  std::vector<std::uint32_t> shared(atomCount, 0);
  for (std::uint32_t atom : clauseAtoms) ++shared[atom];
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;  // (atom, entry), entry order
  pairs.reserve(literals.size());
  m_checkBegin.reserve(literals.size() + 1);
  for (std::uint32_t entry = 0; entry < literals.size(); ++entry) {
    m_checkBegin.push_back(static_cast<std::uint32_t>(m_checks.size()));
    const std::uint32_t first = entryBegin[entry], last = entryBegin[entry + 1];
    if (first == last) continue;
    std::uint32_t key = first;
    std::uint64_t fewest = UINT64_MAX;
    for (std::uint32_t c = first; c < last; ++c) {
      std::uint64_t sum = 0;
      for (std::uint32_t a = clauseBegin[c]; a < clauseBegin[c + 1]; ++a) sum += shared[clauseAtoms[a]];
      if (sum < fewest) fewest = sum, key = c;
    }
    for (std::uint32_t a = clauseBegin[key]; a < clauseBegin[key + 1]; ++a)
      pairs.emplace_back(clauseAtoms[a], entry);
    for (std::uint32_t c = first; c < last; ++c) {
      if (c == key) continue;
      m_checks.push_back(clauseBegin[c + 1] - clauseBegin[c]);
      m_checks.insert(m_checks.end(), clauseAtoms.begin() + clauseBegin[c],
                      clauseAtoms.begin() + clauseBegin[c + 1]);
    }
  }
  m_checkBegin.push_back(static_cast<std::uint32_t>(m_checks.size()));
  if (m_checks.empty()) std::vector<std::uint32_t>().swap(m_checkBegin);
  std::vector<std::uint32_t>().swap(shared);
  std::vector<std::uint32_t>().swap(clauseAtoms);
  std::vector<std::uint32_t>().swap(clauseBegin);
  std::vector<std::uint32_t>().swap(entryBegin);
  m_seen.assign(m_checks.empty() ? 0 : atomCount, 0);

  // Postings: the entries of each atom, ascending (pairs are in entry order).
  std::vector<std::uint32_t> counts(atomCount + 1, 0);
  for (const auto& p : pairs) ++counts[p.first + 1];
  for (std::size_t i = 1; i < counts.size(); ++i) counts[i] += counts[i - 1];
  m_postings.resize(pairs.size());
  for (std::size_t i = 0; i < atomCount; ++i) m_atoms[i].postings = counts[i];
  for (const auto& p : pairs) m_postings[counts[p.first]++] = p.second;
  m_atoms.push_back({0, 0, 0, 0, static_cast<std::uint32_t>(m_postings.size())});  // end marker

  // Each atom's gram length: four characters it names, or as many as its
  // longest run of them has (its whole text when shorter).
  for (std::size_t i = 0; i < atomCount; ++i) {
    Atom& a = m_atoms[i];
    const std::string_view text = textOf(static_cast<std::uint32_t>(i));
    unsigned longest = 0, run = 0;
    for (char c : text) {
      run = c == CLiteralAnalysis::kAnyCharacter ? 0 : run + 1;
      longest = std::max(longest, run);
    }
    a.gram = static_cast<std::uint8_t>(std::min(kGram, longest) | (longest < text.size() ? kAnyBit : 0));
  }
  // The grams of an atom: at each offset where one of its length holds no
  // character of any kind.
  const auto forEachGram = [this](const Atom& a, auto visit) {
    const unsigned q = a.gram & ~kAnyBit;
    const char* text = m_text.data() + a.text;
    for (unsigned o = 0; o + q <= a.length; ++o)
      if (!(a.gram & kAnyBit) || !std::memchr(text + o, CLiteralAnalysis::kAnyCharacter, q))
        visit(o, GramKey(text + o, q));
  };
  // How often each gram occurs among the atoms (hashed, so an estimate
  // from above; saturating, at a count no rare gram reaches: a million
  // atoms share their digit grams by the thousand, and an atom whose grams
  // all looked equally common would be filed under its first, such as
  // "secu"): each atom is filed under its rarest. (Bounded: a table
  // larger than the caches costs more in misses than its precision saves.)
  std::vector<std::uint16_t> seen(std::min<std::size_t>(PowerOfTwoAtLeast(2 * m_text.size()), 1u << 20), 0);
  const std::uint32_t seenMask = static_cast<std::uint32_t>(seen.size() - 1);
  for (std::size_t i = 0; i < atomCount; ++i)
    forEachGram(m_atoms[i], [&](unsigned, std::uint32_t key) {
      std::uint16_t& count = seen[Hash(key) & seenMask];
      count = static_cast<std::uint16_t>(count + (count != UINT16_MAX));
    });
  std::vector<std::pair<std::uint32_t, std::uint32_t>> filing;  // (key, atom)
  filing.reserve(atomCount);
  for (std::uint32_t i = 0; i < atomCount; ++i) {
    Atom& a = m_atoms[i];
    std::uint32_t rarest = UINT32_MAX, rarestKey = 0;
    forEachGram(a, [&](unsigned o, std::uint32_t key) {
      const std::uint32_t count = seen[Hash(key) & seenMask];
      if (count < rarest) rarest = count, rarestKey = key, a.anchor = static_cast<std::uint16_t>(o);
    });
    filing.emplace_back(rarestKey, i);
    m_gramLengths |= 1u << (a.gram & ~kAnyBit);
  }
  std::vector<std::uint16_t>().swap(seen);

  std::sort(filing.begin(), filing.end());
  m_filed.reserve(filing.size());
  std::size_t keys = 0;
  for (std::size_t i = 0; i < filing.size(); ++i) keys += i == 0 || filing[i].first != filing[i - 1].first;
  m_slots.assign(PowerOfTwoAtLeast(2 * keys), Slot());
  const std::uint32_t mask = static_cast<std::uint32_t>(m_slots.size() - 1);
  std::uint32_t slot = 0;
  for (std::size_t i = 0; i < filing.size(); ++i) {
    if (i == 0 || filing[i].first != filing[i - 1].first) {
      slot = Hash(filing[i].first) & mask;
      while (m_slots[slot].key) slot = (slot + 1) & mask;
      m_slots[slot] = {filing[i].first, static_cast<std::uint32_t>(m_filed.size()), 0};
    }
    m_filed.push_back(filing[i].second);
    ++m_slots[slot].count;
  }
  m_gramFilter.assign(PowerOfTwoAtLeast(8 * keys) / 64 + 1, 0);
  m_filterMask = static_cast<std::uint32_t>(PowerOfTwoAtLeast(8 * keys) - 1);
  for (const Slot& s : m_slots)
    if (s.key) {
      const std::uint32_t bit = FilterBit(s.key) & m_filterMask;
      m_gramFilter[bit >> 6] |= std::uint64_t{1} << (bit & 63);
    }
}

const CCandidateIndex::Slot* CCandidateIndex::Probe(std::uint32_t key) const {
  const std::uint32_t mask = static_cast<std::uint32_t>(m_slots.size() - 1);
  for (std::uint32_t s = Hash(key) & mask;; s = (s + 1) & mask) {
    if (m_slots[s].key == key) return &m_slots[s];
    if (!m_slots[s].key) return nullptr;
  }
}

void CCandidateIndex::FilteredCandidates(const std::wstring& subject,
                                         std::vector<std::uint32_t>* out) const {
  out->clear();
  if (m_slots.empty()) return;
  // ASCII, the common case, folds from a table.
  char ascii[128];
  for (wchar_t c = 0; c < 128; ++c) ascii[c] = CLiteralAnalysis::Fold(c);
  std::string folded(subject.size(), '\0');
  for (std::size_t i = 0; i < subject.size(); ++i) {
    const wchar_t c = subject[i];
    const bool isAscii = static_cast<std::make_unsigned_t<wchar_t>>(c) < 128;
    folded[i] = isAscii ? ascii[c] : CLiteralAnalysis::Fold(c);
  }

  // The grams ending at each position come from a rolling window of the
  // last four characters (seven bits each) and the count of the last
  // characters that are not 0, so each position costs a few operations
  // and, for each gram length in use, one look at the filter.
  std::vector<std::uint32_t> atoms;
  // The atoms filed under the q-gram ending at e that occur where it does.
  const auto gramAt = [&](std::size_t e, unsigned q, std::uint32_t key) {
    const std::uint32_t bit = FilterBit(key) & m_filterMask;
    if (!(m_gramFilter[bit >> 6] & (std::uint64_t{1} << (bit & 63)))) return;
    const Slot* slot = Probe(key);
    if (!slot) return;
    const std::size_t p = e + 1 - q;  // where the gram starts
    for (std::uint32_t f = slot->first; f < slot->first + slot->count; ++f) {
      const Atom& a = m_atoms[m_filed[f]];
      if (p < a.anchor || p - a.anchor + a.length > folded.size()) continue;
      const char* at = folded.data() + p - a.anchor;
      const char* text = m_text.data() + a.text;
      const bool occurs = (a.gram & kAnyBit) ? Occurs(text, a.length, at)
                                             : std::memcmp(at, text, a.length) == 0;
      if (occurs) atoms.push_back(m_filed[f]);
    }
  };
  constexpr std::uint32_t kWindow = (1u << (7 * kGram)) - 1;
  std::uint32_t window = 0;
  unsigned run = 0;
  if (m_gramLengths == 1u << kGram) {  // every atom filed under a whole gram: the usual list
    for (std::size_t e = 0; e < folded.size(); ++e) {
      const unsigned char c = static_cast<unsigned char>(folded[e]);
      window = ((window << 7) | c) & kWindow;
      run = c ? std::min(run + 1, kGram) : 0;
      if (run == kGram) gramAt(e, kGram, (kGram << 28) | window);
    }
  } else {
    for (std::size_t e = 0; e < folded.size(); ++e) {
      const unsigned char c = static_cast<unsigned char>(folded[e]);
      window = ((window << 7) | c) & kWindow;
      run = c ? std::min(run + 1, kGram) : 0;
      for (unsigned lengths = m_gramLengths & ((2u << run) - 1); lengths; lengths &= lengths - 1) {
        const unsigned q = static_cast<unsigned>(__builtin_ctz(lengths));
        gramAt(e, q, (q << 28) | ((window & ((1u << (7 * q)) - 1)) << (7 * (kGram - q))));
      }
    }
  }
  if (atoms.empty()) return;
  std::sort(atoms.begin(), atoms.end());
  atoms.erase(std::unique(atoms.begin(), atoms.end()), atoms.end());
  for (std::uint32_t id : atoms)
    out->insert(out->end(), m_postings.begin() + m_atoms[id].postings,
                m_postings.begin() + m_atoms[id + 1].postings);
  std::sort(out->begin(), out->end());
  out->erase(std::unique(out->begin(), out->end()), out->end());
  if (m_checks.empty()) return;

  // Entries with a clause of which no atom was found cannot match.
  if (++m_stamp == 0) {
    std::fill(m_seen.begin(), m_seen.end(), 0);
    m_stamp = 1;
  }
  for (std::uint32_t id : atoms) m_seen[id] = m_stamp;
  const auto unmet = [this](std::uint32_t entry) {
    for (std::uint32_t c = m_checkBegin[entry]; c < m_checkBegin[entry + 1]; c += 1 + m_checks[c]) {
      const std::uint32_t* first = m_checks.data() + c + 1;
      if (std::none_of(first, first + m_checks[c], [this](std::uint32_t a) { return m_seen[a] == m_stamp; }))
        return true;
    }
    return false;
  };
  out->erase(std::remove_if(out->begin(), out->end(), unmet), out->end());
}
