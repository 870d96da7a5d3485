#include "platform/UrlSyntax.h"

#include <algorithm>

#include "platform/WinError.h"

namespace ostrel::platform {
namespace {

bool IsAlpha(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// The first position in [pos, end) holding a or b, or end: a vectorised
// search for each (find_first_of would search the set at every character).
std::size_t FindEither(std::wstring_view s, std::size_t pos, std::size_t end, wchar_t a, wchar_t b) {
  if (pos >= end) return end;
  const std::wstring_view range = s.substr(0, end);
  const std::size_t first = range.find(a, pos);
  const std::size_t last = first == std::wstring_view::npos ? end : first;
  const std::size_t second = range.substr(0, last).find(b, pos);
  return second == std::wstring_view::npos ? last : second;
}

// The last position of c in s, or npos: a view's rfind looks at one
// character at a time, so blocks from the end are searched with the
// vectorised forward search and only the block holding c backwards.
std::size_t FindLast(std::wstring_view s, wchar_t c) {
  constexpr std::size_t kBlock = 256;
  for (std::size_t end = s.size(); end > 0;) {
    const std::size_t begin = end > kBlock ? end - kBlock : 0;
    const std::wstring_view block = s.substr(begin, end - begin);
    if (block.find(c) != std::wstring_view::npos) return begin + block.rfind(c);
    end = begin;
  }
  return std::wstring_view::npos;
}

bool EqualsIgnoringCase(std::wstring_view a, const wchar_t* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (AsciiLower(a[i]) != b[i]) return false;
  return i == a.size() && !b[i];
}

}  // namespace

INTERNET_SCHEME SchemeNumber(std::wstring_view scheme) {
  static const struct {
    const wchar_t* name;
    INTERNET_SCHEME number;
  } kSchemes[] = {
      {L"ftp", INTERNET_SCHEME_FTP},       {L"gopher", INTERNET_SCHEME_GOPHER},
      {L"http", INTERNET_SCHEME_HTTP},     {L"https", INTERNET_SCHEME_HTTPS},
      {L"file", INTERNET_SCHEME_FILE},     {L"news", INTERNET_SCHEME_NEWS},
      {L"mailto", INTERNET_SCHEME_MAILTO}, {L"socks", INTERNET_SCHEME_SOCKS},
      {L"javascript", INTERNET_SCHEME_JAVASCRIPT}, {L"vbscript", INTERNET_SCHEME_VBSCRIPT},
      {L"res", INTERNET_SCHEME_RES},
  };
  for (const auto& s : kSchemes)
    if (EqualsIgnoringCase(scheme, s.name)) return s.number;
  return INTERNET_SCHEME_UNKNOWN;
}

INTERNET_PORT DefaultPort(INTERNET_SCHEME scheme) {
  switch (scheme) {
    case INTERNET_SCHEME_FTP:
      return INTERNET_DEFAULT_FTP_PORT;
    case INTERNET_SCHEME_GOPHER:
      return INTERNET_DEFAULT_GOPHER_PORT;
    case INTERNET_SCHEME_HTTP:
      return INTERNET_DEFAULT_HTTP_PORT;
    case INTERNET_SCHEME_HTTPS:
      return INTERNET_DEFAULT_HTTPS_PORT;
    case INTERNET_SCHEME_SOCKS:
      return INTERNET_DEFAULT_SOCKS_PORT;
    default:
      return 0;
  }
}

std::wstring_view CleanUrl(std::wstring_view url, std::wstring* storage) {
  std::size_t begin = 0, end = url.size();
  while (begin < end && static_cast<unsigned>(url[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned>(url[end - 1]) <= 0x20) --end;
  const std::wstring_view trimmed = url.substr(begin, end - begin);
  const std::size_t i = std::min({trimmed.find(L'\t'), trimmed.find(L'\n'), trimmed.find(L'\r')});
  if (i == std::wstring_view::npos) return trimmed;
  storage->assign(trimmed.substr(0, i));
  storage->reserve(trimmed.size());
  for (std::size_t k = i; k < trimmed.size(); ++k)
    if (trimmed[k] != L'\t' && trimmed[k] != L'\n' && trimmed[k] != L'\r') *storage += trimmed[k];
  return *storage;
}

bool SplitUrl(std::wstring_view url, UrlSpans* spans, DWORD* error) {
  *spans = UrlSpans{};
  // Scheme: a letter, then letters, digits, '+', '-' or '.', then ':'.
  std::size_t i = 0;
  if (url.empty() || !IsAlpha(url[0])) {
    *error = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    return false;
  }
  while (i < url.size() && (IsAlpha(url[i]) || IsDigit(url[i]) || url[i] == L'+' ||
                            url[i] == L'-' || url[i] == L'.'))
    ++i;
  if (i >= url.size() || url[i] != L':') {
    *error = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    return false;
  }
  spans->scheme = url.substr(0, i);
  const INTERNET_SCHEME number = SchemeNumber(spans->scheme);
  spans->special = number == INTERNET_SCHEME_HTTP || number == INTERNET_SCHEME_HTTPS;
  std::size_t pos = i + 1;

  const std::size_t end = FindEither(url, pos, url.size(), L'?', L'#');

  if (spans->special || url.substr(pos, 2) == L"//") {
    spans->hasAuthority = true;
    if (spans->special) {
      while (pos < end && (url[pos] == L'/' || url[pos] == L'\\')) ++pos;
    } else {
      pos += 2;
    }
    const std::size_t authorityEnd =
        FindEither(url, pos, end, L'/', spans->special ? L'\\' : L'/');
    std::wstring_view authority = url.substr(pos, authorityEnd - pos);
    const std::size_t at = FindLast(authority, L'@');
    if (at != std::wstring_view::npos) {
      spans->hasUserInfo = true;
      spans->userInfo = authority.substr(0, at);
      authority.remove_prefix(at + 1);
    }
    std::size_t colon = std::wstring_view::npos;
    if (spans->special) {
      // The host ends at the first ':' that is not inside brackets; with no
      // "[" before the first ':', that is the one.
      colon = authority.find(L':');
      if (authority.substr(0, colon).find(L'[') != std::wstring_view::npos) {
        colon = std::wstring_view::npos;
        bool inBrackets = false;
        for (std::size_t k = 0; k < authority.size() && colon == std::wstring_view::npos; ++k) {
          if (authority[k] == L'[') inBrackets = true;
          if (authority[k] == L']') inBrackets = false;
          if (authority[k] == L':' && !inBrackets) colon = k;
        }
      }
    } else if (!authority.empty() && authority[0] == L'[') {
      const std::size_t close = authority.find(L']');
      if (close != std::wstring_view::npos && close + 1 < authority.size() &&
          authority[close + 1] == L':')
        colon = close + 1;
    } else {
      colon = authority.rfind(L':');
    }
    if (colon != std::wstring_view::npos) {
      spans->hasPort = true;
      spans->port = authority.substr(colon + 1);
      authority = authority.substr(0, colon);
    }
    spans->host = authority;
    pos = authorityEnd;
  }
  spans->path = url.substr(pos, end - pos);
  spans->extra = url.substr(end);
  return true;
}

bool ParsePort(std::wstring_view digits, INTERNET_SCHEME scheme, INTERNET_PORT* port) {
  if (digits.empty()) {
    *port = DefaultPort(scheme);
    return true;
  }
  unsigned long value = 0;
  for (wchar_t c : digits) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<unsigned long>(c - L'0');
    if (value > 65535) return false;
  }
  *port = static_cast<INTERNET_PORT>(value);
  return true;
}

}  // namespace ostrel::platform
