#include "phishlist/CandidateIndex.h"

#include <algorithm>
#include <cstring>
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
}

void CCandidateIndex::Build(const std::vector<const std::string*>& literals) {
  Clear();
  // Atoms, each once, and (atom, entry) pairs in entry order.
  std::unordered_map<std::string, std::uint32_t> ids;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
  for (std::uint32_t entry = 0; entry < literals.size(); ++entry) {
    const std::string* atoms = literals[entry];
    if (!atoms || atoms->empty()) {
      m_unfiltered.push_back(entry);
      continue;
    }
    for (std::size_t start = 0; start <= atoms->size();) {
      std::size_t end = atoms->find('\n', start);
      if (end == std::string::npos) end = atoms->size();
      std::string atom = atoms->substr(start, end - start);
      start = end + 1;
      if (atom.empty()) continue;
      const auto inserted = ids.emplace(atom, static_cast<std::uint32_t>(m_atoms.size()));
      if (inserted.second) {
        m_atoms.push_back({static_cast<std::uint32_t>(m_text.size()),
                           static_cast<std::uint16_t>(atom.size()), 0, 0});
        m_text += atom;
      }
      pairs.emplace_back(inserted.first->second, entry);
    }
  }
  std::unordered_map<std::string, std::uint32_t>().swap(ids);

  // Postings: the entries of each atom, ascending (pairs are in entry order).
  std::vector<std::uint32_t> counts(m_atoms.size() + 1, 0);
  for (const auto& p : pairs) ++counts[p.first + 1];
  for (std::size_t i = 1; i < counts.size(); ++i) counts[i] += counts[i - 1];
  m_postings.resize(pairs.size());
  for (std::size_t i = 0; i < m_atoms.size(); ++i) m_atoms[i].postings = counts[i];
  for (const auto& p : pairs) m_postings[counts[p.first]++] = p.second;
  m_atoms.push_back({0, 0, 0, static_cast<std::uint32_t>(m_postings.size())});  // end marker
  const std::size_t atomCount = m_atoms.size() - 1;

  // How often each gram occurs among the atoms (hashed, so an estimate
  // from above): each atom is filed under its rarest.
  std::vector<std::uint32_t> seen(PowerOfTwoAtLeast(2 * m_text.size()), 0);
  const std::uint32_t seenMask = static_cast<std::uint32_t>(seen.size() - 1);
  auto gramAt = [this](const Atom& a, unsigned offset) {
    return GramKey(m_text.data() + a.text + offset, std::min<unsigned>(kGram, a.length));
  };
  for (std::size_t i = 0; i < atomCount; ++i)
    for (unsigned o = 0; o + kGram <= m_atoms[i].length; ++o)
      ++seen[Hash(gramAt(m_atoms[i], o)) & seenMask];
  std::vector<std::pair<std::uint32_t, std::uint32_t>> filing;  // (key, atom)
  filing.reserve(atomCount);
  for (std::uint32_t i = 0; i < atomCount; ++i) {
    Atom& a = m_atoms[i];
    for (unsigned o = 1; o + kGram <= a.length; ++o)
      if (seen[Hash(gramAt(a, o)) & seenMask] < seen[Hash(gramAt(a, a.anchor)) & seenMask])
        a.anchor = static_cast<std::uint16_t>(o);
    filing.emplace_back(gramAt(a, a.anchor), i);
    m_gramLengths |= 1u << std::min<unsigned>(kGram, a.length);
  }
  std::vector<std::uint32_t>().swap(seen);

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
      if (std::memcmp(folded.data() + p - a.anchor, m_text.data() + a.text, a.length) == 0)
        atoms.push_back(m_filed[f]);
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
}
