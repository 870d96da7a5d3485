#include "uri/UriParser.h"

#include "platform/WinError.h"

CUriParser::CUriParser(const std::wstring& uri, DWORD flags)
    : CUriParser(uri, uri.size(), flags, kAll) {}

CUriParser::CUriParser(const std::wstring& uri, std::size_t length, DWORD flags, unsigned wanted)
    : m_flags(flags), m_components(new URL_COMPONENTSW{}) {
  // Every buffer holds the whole URI and its terminator, and the record
  // announces the URI's length. A host can come back longer than it was
  // written (an IPv4 number, an international name in its ASCII form): a
  // component the cracker finds too big gets the room it asks for and the
  // URI is cracked again; each round grows one, so six rounds suffice.
  for (Component& part : m_parts) part.announced = static_cast<DWORD>(length);
  bool cracked = false;
  DWORD error = ERROR_SUCCESS;
  // A URI longer than a DWORD can announce is no URI the cracker accepts.
  if (length != 0 && length == static_cast<DWORD>(length)) {
    for (int round = 0; round <= kComponents && !cracked; ++round) {
      cracked = Crack(uri, length, wanted);
      error = cracked ? ERROR_SUCCESS : GetLastError();
      if (error != ERROR_INSUFFICIENT_BUFFER) break;
    }
  }
  if (!cracked) {
    for (int i = kScheme + 1; i < kComponents; ++i) m_parts[i].length = 0;
    m_components->nPort = 0;
    if (error != ERROR_INTERNET_INVALID_URL) {
      m_parts[kScheme].length = 0;
      m_components->nScheme = INTERNET_SCHEME_DEFAULT;
    }
  }
}

bool CUriParser::Crack(const std::wstring& uri, std::size_t length, unsigned wanted) {
  URL_COMPONENTSW& c = *m_components;
  c = URL_COMPONENTSW{};
  c.dwStructSize = sizeof(URL_COMPONENTSW);
  LPWSTR* texts[kComponents] = {&c.lpszScheme,   &c.lpszHostName, &c.lpszUserName,
                                &c.lpszPassword, &c.lpszUrlPath,  &c.lpszExtraInfo};
  DWORD* lengths[kComponents] = {&c.dwSchemeLength,   &c.dwHostNameLength, &c.dwUserNameLength,
                                 &c.dwPasswordLength, &c.dwUrlPathLength,  &c.dwExtraInfoLength};
  for (int i = 0; i < kComponents; ++i) {
    if (!(wanted & (1u << i))) continue;  // a null buffer of length 0: not asked for
    Component& part = m_parts[i];
    if (!part.buffer) part.buffer.reset(new wchar_t[part.announced + 1]);
    *texts[i] = part.buffer.get();
    *lengths[i] = part.announced;
  }
  const BOOL ok = InternetCrackUrlW(uri.c_str(), static_cast<DWORD>(length), m_flags, &c);
  const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  // A delivered component reports a length below what was announced; one
  // that did not fit reports the room it needs.
  for (int i = 0; i < kComponents; ++i) {
    Component& part = m_parts[i];
    if (!(wanted & (1u << i))) continue;
    part.length = *lengths[i] < part.announced ? *lengths[i] : 0;
    if (*lengths[i] > part.announced) {
      part.announced = *lengths[i];
      part.buffer.reset();
    }
  }
  SetLastError(error);
  return ok;
}

CUriParser::~CUriParser() = default;

std::wstring CUriParser::GetScheme() const { return m_parts[kScheme].Text(); }
std::wstring CUriParser::GetHost() const { return m_parts[kHost].Text(); }
std::wstring CUriParser::GetUserName() const { return m_parts[kUserName].Text(); }
std::wstring CUriParser::GetPassword() const { return m_parts[kPassword].Text(); }
std::wstring CUriParser::GetUrlPath() const { return m_parts[kUrlPath].Text(); }
std::wstring CUriParser::GetExtraInfo() const { return m_parts[kExtraInfo].Text(); }
std::wstring_view CUriParser::GetUrlPathView() const { return m_parts[kUrlPath].View(); }
std::wstring_view CUriParser::GetExtraInfoView() const { return m_parts[kExtraInfo].View(); }
LONG CUriParser::GetSchemeNumber() const { return m_components->nScheme; }
INTERNET_PORT CUriParser::GetPort() const { return m_components->nPort; }

// The scheme ends at the first ":", and nothing after it changes the number
// the cracker gives: a later part it refuses leaves the scheme standing
// (see the class comment). So only that prefix is cracked.
LONG CUriParser::SchemeNumberOf(const std::wstring& uri, DWORD flags) {
  const std::size_t colon = uri.find(L':');
  if (colon == std::wstring::npos) return INTERNET_SCHEME_DEFAULT;
  return CUriParser(uri, colon + 1, flags, 1u << kScheme).GetSchemeNumber();
}

bool CUriParser::IsKnownScheme(const std::wstring& uri, DWORD flags) {
  return SchemeNumberOf(uri, flags) > 0;
}

bool CUriParser::IsHttpScheme(const std::wstring& uri, DWORD flags) {
  const LONG scheme = SchemeNumberOf(uri, flags);
  return scheme == INTERNET_SCHEME_HTTP || scheme == INTERNET_SCHEME_HTTPS;
}

std::wstring CUriParser::GetScheme(const std::wstring& uri, DWORD flags) {
  const std::size_t colon = uri.find(L':');
  if (colon == std::wstring::npos) return std::wstring();
  return CUriParser(uri, colon + 1, flags, 1u << kScheme).GetScheme();
}

std::wstring CUriParser::GetHost(const std::wstring& uri, DWORD flags) {
  return CUriParser(uri, uri.size(), flags, 1u << kHost).GetHost();
}

std::wstring CUriParser::GetUrlPath(const std::wstring& uri, DWORD flags) {
  return CUriParser(uri, uri.size(), flags, 1u << kUrlPath).GetUrlPath();
}
