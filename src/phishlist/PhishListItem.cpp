#include "phishlist/PhishListItem.h"

#include <boost/iterator/iterator_adaptor.hpp>

#include <algorithm>
#include <cstring>
#include <string>

#include "phishlist/LiteralAnalysis.h"
#include "support/Trace.h"

namespace {

// A pointer into the subject under a type of its own. The library ships a
// compiled matcher for the standard iterator types, whose state budget grows
// with the square of the pattern's length; for this type the matcher is
// compiled here, with the budget below.
class SubjectIterator : public boost::iterator_adaptor<SubjectIterator, const wchar_t*> {
 public:
  SubjectIterator() = default;
  explicit SubjectIterator(const wchar_t* p) : iterator_adaptor(p) {}
};

// Whether text ends in what could be a hash-key marker, "(key)" or
// "(key)/" with a key of 64 hexadecimal digits: only such a text can hold
// another text as a CUri (CUri cuts a marker that verifies).
bool MayEndInHashKey(const std::wstring& text) {
  constexpr std::size_t kKeyDigits = 64;
  std::size_t end = text.size();
  if (end > 0 && text[end - 1] == L'/') --end;
  if (end < kKeyDigits + 2 || text[end - 1] != L')' || text[end - kKeyDigits - 2] != L'(')
    return false;
  return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(end - kKeyDigits - 1),
                     text.begin() + static_cast<std::ptrdiff_t>(end - 1), [](wchar_t c) {
                       return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
                     });
}

constexpr std::ptrdiff_t kBaseStates = 10000;
constexpr std::ptrdiff_t kStatesPerCharacter = 6;
constexpr std::ptrdiff_t kPatternCharactersPerShare = 32;

std::ptrdiff_t StateBudget(std::ptrdiff_t subjectLength, std::ptrdiff_t patternLength) {
  const std::ptrdiff_t shares = 1 + patternLength / kPatternCharactersPerShare;
  return (kBaseStates + kStatesPerCharacter * subjectLength) / shares;
}

}  // namespace

namespace boost {
namespace BOOST_REGEX_DETAIL_NS {

// The number of states a search of SubjectIterator may visit before the
// matcher gives up (error_complexity).
template <>
void perl_matcher<SubjectIterator, std::allocator<sub_match<SubjectIterator>>,
                  wregex::traits_type>::estimate_max_state_count(std::random_access_iterator_tag*) {
  max_state_count = StateBudget(last - base, static_cast<std::ptrdiff_t>(re.size()));
}

}  // namespace BOOST_REGEX_DETAIL_NS
}  // namespace boost

CPhishListItem::CPhishListItem() : m_kind(LIST_KIND_NONE) {}

CPhishListItem::~CPhishListItem() = default;

void CPhishListItem::SetKind(ListKind kind) { m_kind = kind; }

void CPhishListItem::SetKindFromChar(wchar_t c) {
  if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  switch (c) {
    case L'b':
      m_kind = LIST_KIND_BLACK;
      break;
    case L'g':
      m_kind = LIST_KIND_GREY;
      break;
    case L'w':
      m_kind = LIST_KIND_WHITE;
      break;
    default:
      m_kind = LIST_KIND_NONE;
      break;
  }
}

ListKind CPhishListItem::GetKind() const { return m_kind; }

wchar_t CPhishListItem::GetKindChar() const {
  switch (m_kind) {
    case LIST_KIND_WHITE:
      return L'w';
    case LIST_KIND_GREY:
      return L'g';
    case LIST_KIND_BLACK:
      return L'b';
    default:
      return L'u';
  }
}

const CUri* CPhishListItem::GetUriObject() const {
  if (!m_uri && m_set) m_uri = std::make_unique<CUri>(GetPattern());
  return m_uri.get();
}

std::wstring CPhishListItem::GetPattern() const {
  if (m_wide) {
    std::wstring text(m_text.size() / sizeof(wchar_t), L'\0');
    std::memcpy(&text[0], m_text.data(), m_text.size());
    return text;
  }
  const auto* first = reinterpret_cast<const unsigned char*>(m_text.data());
  return std::wstring(first, first + m_text.size());
}

const boost::wregex& CPhishListItem::GetRegex() const {
  CompileIfPending();
  return m_regex;
}

const std::string& CPhishListItem::GetLiterals() const { return m_literals; }

void CPhishListItem::CompileIfPending() const {
  if (!m_pending) return;
  m_pending = false;
  try {
    m_regex.assign(GetPattern(), boost::regex_constants::perl | boost::regex_constants::icase);
  } catch (const std::exception& e) {
    // Understood patterns compile (the analysis accepts only what the
    // library does); should one not, it matches nothing.
    TraceMessage(L"Pattern not compiled at first use: %hs\r\n", e.what());
  }
}

void CPhishListItem::SetPattern(std::wstring text) {
  m_uri.reset();
  if (MayEndInHashKey(text)) {  // then the CUri says what it holds
    m_uri = std::make_unique<CUri>(text);
    text = m_uri->GetUri();
  }
  m_wide = std::any_of(text.begin(), text.end(), [](wchar_t c) { return static_cast<unsigned>(c) > 0xFF; });
  if (m_wide)
    m_text.assign(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  else
    m_text.assign(text.begin(), text.end());
  m_set = true;
  if (text.size() > kMaxPatternLength) {
    throw boost::regex_error("pattern longer than " + std::to_string(kMaxPatternLength) +
                                 " characters",
                             boost::regex_constants::error_size,
                             static_cast<std::ptrdiff_t>(kMaxPatternLength));
  }
  CLiteralAnalysis::Result analysis = CLiteralAnalysis::Analyse(text);
  m_literals = std::move(analysis.literals);
  m_regex = boost::wregex();
  m_pending = analysis.understood;
  if (!m_pending)
    m_regex.assign(text, boost::regex_constants::perl | boost::regex_constants::icase);
}

bool CPhishListItem::Matches(const std::wstring& subject) const {
  CompileIfPending();
  if (m_regex.empty()) return false;
  try {
    const SubjectIterator first(subject.data()), last(subject.data() + subject.size());
    boost::match_results<SubjectIterator> ignored;
    return boost::regex_search(first, last, ignored, m_regex);
  } catch (const std::exception& e) {
    // The engine gave up (complexity or stack limit); the entry does not match.
    TraceMessage(L"Pattern search abandoned: %hs\r\n", e.what());
    return false;
  }
}
