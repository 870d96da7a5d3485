#include "phishlist/PhishListEntries.h"

#include <boost/regex.hpp>

#include <algorithm>
#include <sstream>

#include "phishlist/TextReader.h"
#include "platform/Utf8.h"
#include "support/Exception.h"
#include "support/TimeStamp.h"
#include "support/Trace.h"
#include "update/Cipher.h"
#include "uri/UriNormalise.h"

namespace {

std::wstring TextOf(const CPhishListItem& entry) { return entry.GetPattern(); }

// The entry that decides for uri, given search(subject), the first entry
// matching a subject (-1 for none): the one for the address as a server
// reads it (uri/UriNormalise.h), unless there is none or it is of kind
// none; then the one for the address as written, so that entries written
// for a raw form keep working.
template <class Search, class KindAt>
long Deciding(const CUri& uri, Search search, KindAt kindAt) {
  const std::wstring subject = uri.GetSchemelessUri();
  std::wstring normalised;
  if (!NormaliseSubject(subject, &normalised)) return search(subject);
  const long index = search(normalised);
  if (index >= 0 && kindAt(index) != LIST_KIND_NONE) return index;
  const long raw = search(subject);
  return raw >= 0 ? raw : index;
}

}  // namespace

CPhishListEntries::CPhishListEntries() : m_loadStamp(0) {}

CPhishListEntries::~CPhishListEntries() = default;

void CPhishListEntries::Lock() { m_lock.Enter(); }

void CPhishListEntries::Unlock() { m_lock.Leave(); }

long CPhishListEntries::FindIndex(const CUri& uri) {
  CCriticalSectionLock lock(m_lock);
  RebuildIndexIfStale();
  // Each subject is the same for every entry: computed once per lookup.
  const long index = Deciding(
      uri,
      [&](const std::wstring& subject) {
        return m_index.FirstMatch(subject, [&](std::size_t i) {
          TraceMessage(L"Searching URI in phish database");
          return m_entries[i]->Matches(subject);
        });
      },
      [&](long i) { return m_entries[static_cast<std::size_t>(i)]->GetKind(); });
  if (index >= 0) TraceMessage(L"Found URI in phish database");
  return index;
}

void CPhishListEntries::RebuildIndexIfStale() {
  if (!m_indexStale) return;
  std::vector<const std::string*> literals;
  literals.reserve(m_entries.size());
  for (const auto& entry : m_entries) literals.push_back(&entry->GetLiterals());
  m_index.Build(literals);
  m_indexStale = false;
}

std::size_t CPhishListEntries::GetUnfilteredCount() {
  CCriticalSectionLock lock(m_lock);
  RebuildIndexIfStale();
  return m_index.GetUnfilteredCount();
}

long CPhishListEntries::FindIndexLinear(const CUri& uri) {
  CCriticalSectionLock lock(m_lock);
  return Deciding(
      uri,
      [&](const std::wstring& subject) {
        for (std::size_t i = 0; i < m_entries.size(); ++i) {
          TraceMessage(L"Searching URI in phish database");
          if (m_entries[i]->Matches(subject)) {
            TraceMessage(L"Found URI in phish database");
            return static_cast<long>(i);
          }
        }
        return -1L;
      },
      [&](long i) { return m_entries[static_cast<std::size_t>(i)]->GetKind(); });
}

CPhishListItem* CPhishListEntries::Find(const CUri& uri) {
  CCriticalSectionLock lock(m_lock);
  const long index = FindIndex(uri);
  return index < 0 ? nullptr : m_entries[static_cast<std::size_t>(index)].get();
}

const CPhishListItem* CPhishListEntries::GetEntry(std::size_t index) {
  CCriticalSectionLock lock(m_lock);
  return index < m_entries.size() ? m_entries[index].get() : nullptr;
}

std::vector<std::pair<ListKind, std::wstring>> CPhishListEntries::GetPatterns() {
  CCriticalSectionLock lock(m_lock);
  std::vector<std::pair<ListKind, std::wstring>> patterns;
  patterns.reserve(m_entries.size());
  for (const auto& entry : m_entries) patterns.emplace_back(entry->GetKind(), TextOf(*entry));
  return patterns;
}

ListKind CPhishListEntries::LookUp(const CUri& uri) {
  CCriticalSectionLock lock(m_lock);
  const CPhishListItem* entry = Find(uri);
  return entry ? entry->GetKind() : LIST_KIND_NONE;
}

void CPhishListEntries::WhiteListTemporarily(const CUri& uri) {
  CCriticalSectionLock lock(m_lock);
  CPhishListItem* entry = Find(uri);
  if (!entry) return;
  entry->SetKind(LIST_KIND_WHITE);
  TraceMessage(L"Whitelisting %s - %c\r\n", TextOf(*entry).c_str(), entry->GetKindChar());
}

bool CPhishListEntries::IsLoaded() const { return m_loadStamp != 0; }

LONGLONG CPhishListEntries::GetLoadStamp() const { return m_loadStamp; }

std::size_t CPhishListEntries::GetCount() {
  CCriticalSectionLock lock(m_lock);
  return m_entries.size();
}

void CPhishListEntries::UnloadDirty() {
  CCriticalSectionLock lock(m_lock);
  TraceMessage(L"Unloading dirty\r\n");
  m_carriedTexts.clear();
  std::vector<std::unique_ptr<CPhishListItem>> kept;
  for (auto& entry : m_entries) {
    if (entry->GetKind() != LIST_KIND_WHITE) continue;  // destroyed with the old vector
    TraceMessage(L"Adding %s - %c to temporary white list\r\n", TextOf(*entry).c_str(),
                 entry->GetKindChar());
    m_tempWhiteList.insert(TextOf(*entry));
    m_carriedTexts.insert(TextOf(*entry));
    kept.push_back(std::move(entry));
  }
  m_entries.swap(kept);
  m_indexStale = true;
}

void CPhishListEntries::AddEntry(CPhishListItem* entry) {
  std::unique_ptr<CPhishListItem> owned(entry);
  if (!owned) return;
  CCriticalSectionLock lock(m_lock);
  // Only carried-over white entries need the text (most loads have none).
  if (IsLoaded() && (!m_tempWhiteList.empty() || !m_carriedTexts.empty())) {
    const std::wstring text = TextOf(*owned);
    const auto carried = m_tempWhiteList.find(text);
    if (carried != m_tempWhiteList.end()) {
      // The carried-over white entry keeps its place and kind.
      TraceMessage(L"Flag %s as not redundent\r\n", text.c_str());
      m_tempWhiteList.erase(carried);
      return;
    }
    // Another copy of a carried-over white text: the white entry stands
    // for it as well. Appending it would add one entry at every reload.
    if (m_carriedTexts.count(text)) return;
  }
  m_entries.push_back(std::move(owned));
  m_indexStale = true;
}

void CPhishListEntries::UnloadRedundant() {
  CCriticalSectionLock lock(m_lock);
  m_carriedTexts.clear();  // every line of the load is in
  if (m_tempWhiteList.empty()) return;
  TraceMessage(L"Unloading redundent\r\n");
  for (auto it = m_entries.begin(); it != m_entries.end();) {
    const CPhishListItem& entry = **it;
    const auto carried = (entry.GetKind() == LIST_KIND_WHITE) ? m_tempWhiteList.find(TextOf(entry))
                                                              : m_tempWhiteList.end();
    if (carried == m_tempWhiteList.end()) {
      ++it;
      continue;
    }
    TraceMessage(L"Removing %s - %c\r\n", TextOf(entry).c_str(), entry.GetKindChar());
    m_tempWhiteList.erase(carried);
    it = m_entries.erase(it);
    m_indexStale = true;
  }
}

void CPhishListEntries::UnloadAll() {
  CCriticalSectionLock lock(m_lock);
  TraceMessage(L"Unloading all\r\n");
  m_entries.clear();
  m_index.Clear();
  m_indexStale = false;
}

void CPhishListEntries::Load(std::wistream& stream) {
  CCriticalSectionLock lock(m_lock);
  TraceMessage(L"Loading memory resident list from input stream\r\n");
  Replace(ReadEntries(stream));
}

CPhishListEntries::Entries CPhishListEntries::ReadEntries(std::wistream& stream) {
  const std::string plain = Decipher(stream);
  CTextReader reader(plain.data(), plain.size());
  Entries entries;
  entries.reserve(static_cast<std::size_t>(std::count(plain.begin(), plain.end(), '\n')));
  std::wstring line;
  while (reader.ReadLine(line, false, false)) {
    if (line.empty()) continue;
    if (std::unique_ptr<CPhishListItem> entry = ParseFields(line, nullptr))
      entries.push_back(std::move(entry));
  }
  return entries;
}

void CPhishListEntries::Replace(Entries entries) {
  CCriticalSectionLock lock(m_lock);
  UnloadDirty();
  for (auto& entry : entries) AddEntry(entry.release());
  UnloadRedundant();
  RebuildIndexIfStale();  // before the lock is left, so no lookup pays for it
  m_loadStamp = CurrentTimeStamp();
  TraceMessage(L"Memory resident list loaded and ready\r\n");
}

std::wstring CPhishListEntries::DecryptStream(std::wistream& stream) {
  const std::string plain = Decipher(stream);
  // Each byte one character (Latin-1).
  const auto* first = reinterpret_cast<const unsigned char*>(plain.data());
  return std::wstring(first, first + plain.size());
}

std::string CPhishListEntries::Decipher(std::wistream& stream) {
  stream.clear();
  std::string bytes;
  // Its size, where the stream can tell, spares the copies of growing.
  if (stream.seekg(0, std::ios::end)) {
    const std::streamoff size = stream.tellg();
    if (size > 0) bytes.reserve(static_cast<std::size_t>(size));
  }
  stream.clear();
  stream.seekg(0);
  wchar_t chunk[16384];
  char narrow[16384];
  for (;;) {
    stream.read(chunk, sizeof chunk / sizeof chunk[0]);
    const std::size_t got = static_cast<std::size_t>(stream.gcount());
    for (std::size_t i = 0; i < got; ++i)
      narrow[i] = static_cast<char>(static_cast<unsigned>(chunk[i]) & 0xFF);
    bytes.append(narrow, got);
    if (!stream) break;
  }
  if (!stream.eof()) CException::Raise(L"Error decrypting phish database", 0);
  CDecrypt plain(std::move(bytes));
  if (!plain.IsValid()) return std::string();
  return plain.TakeResult();
}

void CPhishListEntries::AddLine(std::wstring line) {
  CCriticalSectionLock lock(m_lock);
  if (line.empty()) return;
  CPhishListItem* entry = ParseLine(std::move(line));
  if (entry) AddEntry(entry);
}

CPhishListItem* CPhishListEntries::ParseLine(std::wstring line) {
  CCriticalSectionLock lock(m_lock);
  return ParseFields(line, nullptr).release();
}

std::unique_ptr<CPhishListItem> CPhishListEntries::ParseFields(const std::wstring& line,
                                                               std::wstring* rejection) {
  auto entry = std::make_unique<CPhishListItem>();
  // Fields are separated by runs of spaces; leading spaces are skipped and
  // fields after the second ignored.
  std::wstring fields[2];
  int found = 0;
  for (std::size_t pos = 0; found < 2 && pos < line.size();) {
    const std::size_t start = line.find_first_not_of(L' ', pos);
    if (start == std::wstring::npos) break;
    const std::size_t end = line.find(L' ', start);
    fields[found++].assign(line, start, end == std::wstring::npos ? std::wstring::npos : end - start);
    pos = end;
  }
  if (found < 2) {
    if (rejection) *rejection = L"too few fields";
    return nullptr;
  }
  entry->SetKindFromChar(fields[0][0]);
  TraceMessage(L"Adding regex to database: %s", fields[1].c_str());
  try {
    entry->SetPattern(std::move(fields[1]));
  } catch (const boost::regex_error& e) {
    TraceMessage(L"Bad regex: %s", entry->GetPattern().c_str());
    if (rejection) {
      const std::wstring what = ostrel::platform::FromUtf8(e.what());
      *rejection = e.code() == boost::regex_constants::error_size
                       ? what
                       : L"pattern does not compile: " + what;
    }
    return nullptr;
  }
  return entry;
}
