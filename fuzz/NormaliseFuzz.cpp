// The subject as a server reads it (uri/UriNormalise.h) and the lookup
// that tries it first. The input's first lines are subjects and addresses;
// the whole input is also a list. Normalising must not crash, must leave
// everything but the path as it was, must never lengthen the subject, and
// must change nothing the second time. The list's verdict for each address
// must be the one a walk over every entry gives on the normalised subject,
// or on the address as written when that finds no entry of a kind; and the
// candidate index may only skip entries that cannot match.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "common/FuzzInput.h"
#include "phishlist/PhishListEntries.h"
#include "support/Exception.h"
#include "update/Cipher.h"
#include "uri/Uri.h"
#include "uri/UriNormalise.h"

namespace {

// Where the path of a subject ends (its query or fragment starts), and
// where it starts: the first "/" before them, or the end when none.
void PathBounds(const std::wstring& s, std::size_t* start, std::size_t* end) {
  *start = s.find_first_of(L"/?#");
  if (*start == std::wstring::npos || s[*start] != L'/') {
    *start = *end = s.size();
    return;
  }
  *end = s.find_first_of(L"?#", *start);
  if (*end == std::wstring::npos) *end = s.size();
}

void CheckNormalised(const std::wstring& subject) {
  const std::wstring once = NormalisedSubject(subject);
  if (NormalisedSubject(once) != once) std::abort();  // normalising again changes nothing
  if (once.size() > subject.size()) std::abort();     // never longer
  std::size_t start, end, onceStart, onceEnd;
  PathBounds(subject, &start, &end);
  PathBounds(once, &onceStart, &onceEnd);
  // The host before the path and the query or fragment after it stay.
  if (subject.compare(0, start, once, 0, onceStart) != 0 ||
      subject.compare(end, std::wstring::npos, once, onceEnd, std::wstring::npos) != 0)
    std::abort();
}

// The first entry matching subject, by a walk over every entry; -1 for none.
long FirstMatch(CPhishListEntries& list, const std::wstring& subject) {
  for (std::size_t i = 0;; ++i) {
    const CPhishListItem* entry = list.GetEntry(i);
    if (!entry) return -1;
    if (entry->Matches(subject)) return static_cast<long>(i);
  }
}

ListKind KindAt(CPhishListEntries& list, long index) {
  return index < 0 ? LIST_KIND_NONE : list.GetEntry(static_cast<std::size_t>(index))->GetKind();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  const std::wstring text = ostrel::fuzz::WideFromBytes(data, size);

  std::vector<std::wstring> lines;
  for (std::size_t start = 0; lines.size() < 4 && start < text.size();) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  for (const std::wstring& line : lines) CheckNormalised(line);

  CPhishListEntries list;
  const std::string container = CEncrypt(body).GetResult();
  std::wistringstream stream(ostrel::fuzz::CharsFromBytes(
      reinterpret_cast<const std::uint8_t*>(container.data()), container.size()));
  try {
    list.Load(stream);
  } catch (const CException&) {
  }
  for (const std::wstring& line : lines) {
    const CUri uri(L"http://" + line.substr(0, 300));
    const std::wstring subject = uri.GetSchemelessUri();
    CheckNormalised(subject);
    const std::wstring normalised = NormalisedSubject(subject);
    ListKind expected = KindAt(list, FirstMatch(list, normalised));
    if (expected == LIST_KIND_NONE && normalised != subject)
      expected = KindAt(list, FirstMatch(list, subject));
    if (list.LookUp(uri) != expected) std::abort();
    if (list.FindIndex(uri) != list.FindIndexLinear(uri)) std::abort();
  }
  return 0;
}
