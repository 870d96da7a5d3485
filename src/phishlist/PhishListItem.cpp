#include "phishlist/PhishListItem.h"

#include "support/Trace.h"

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

const boost::wregex& CPhishListItem::GetRegex() const { return m_regex; }

void CPhishListItem::SetPattern(const std::wstring& text) {
  m_uri = std::make_unique<CUri>(text);
  m_regex.assign(m_uri->GetUri(), boost::regex_constants::perl | boost::regex_constants::icase);
}

bool CPhishListItem::Matches(const std::wstring& subject) const {
  if (m_regex.empty()) return false;
  try {
    boost::wsmatch ignored;
    return boost::regex_search(subject, ignored, m_regex);
  } catch (const std::exception& e) {
    // The engine gave up (complexity or stack limit); the entry does not match.
    TraceMessage(L"Pattern search abandoned: %hs\r\n", e.what());
    return false;
  }
}
