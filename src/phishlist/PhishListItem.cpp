#include "phishlist/PhishListItem.h"

#include <boost/iterator/iterator_adaptor.hpp>

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

const CUri* CPhishListItem::GetUriObject() const { return m_uri.get(); }

const boost::wregex& CPhishListItem::GetRegex() const {
  CompileIfPending();
  return m_regex;
}

const std::string& CPhishListItem::GetLiterals() const { return m_literals; }

void CPhishListItem::CompileIfPending() const {
  if (!m_pending) return;
  m_pending = false;
  try {
    m_regex.assign(m_uri->GetUri(), boost::regex_constants::perl | boost::regex_constants::icase);
  } catch (const std::exception& e) {
    // Understood patterns compile (the analysis accepts only what the
    // library does); should one not, it matches nothing.
    TraceMessage(L"Pattern not compiled at first use: %hs\r\n", e.what());
  }
}

void CPhishListItem::SetPattern(const std::wstring& text) {
  if (text.size() > kMaxPatternLength) {
    throw boost::regex_error("pattern longer than " + std::to_string(kMaxPatternLength) +
                                 " characters",
                             boost::regex_constants::error_size,
                             static_cast<std::ptrdiff_t>(kMaxPatternLength));
  }
  m_uri = std::make_unique<CUri>(text);
  const CLiteralAnalysis::Result analysis = CLiteralAnalysis::Analyse(m_uri->GetUri());
  m_literals = analysis.literals;
  m_regex = boost::wregex();
  m_pending = analysis.understood;
  if (!m_pending)
    m_regex.assign(m_uri->GetUri(), boost::regex_constants::perl | boost::regex_constants::icase);
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
