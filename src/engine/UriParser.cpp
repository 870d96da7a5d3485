#include "engine/UriParser.h"

CUriParser::CUriParser(const std::wstring& uri, DWORD flags)
    : m_uri(uri), m_flags(flags), m_components(new URL_COMPONENTSW{}) {
  // Every buffer can hold the whole URI and its terminator, so no component
  // can be refused for size; the record announces the URI's length.
  // (Left uninitialised but for the terminator: only what the cracker
  // writes is ever read.)
  const std::size_t n = m_uri.size();
  const DWORD announced = static_cast<DWORD>(n);
  for (Buffer* buffer : {&m_scheme, &m_host, &m_userName, &m_password, &m_urlPath, &m_extraInfo}) {
    buffer->reset(new wchar_t[n + 1]);
    (*buffer)[0] = L'\0';
  }
  URL_COMPONENTSW& c = *m_components;
  c.dwStructSize = sizeof(URL_COMPONENTSW);
  c.lpszScheme = m_scheme.get();
  c.dwSchemeLength = announced;
  c.lpszHostName = m_host.get();
  c.dwHostNameLength = announced;
  c.lpszUserName = m_userName.get();
  c.dwUserNameLength = announced;
  c.lpszPassword = m_password.get();
  c.dwPasswordLength = announced;
  c.lpszUrlPath = m_urlPath.get();
  c.dwUrlPathLength = announced;
  c.lpszExtraInfo = m_extraInfo.get();
  c.dwExtraInfoLength = announced;
  // A URI longer than a DWORD can announce is no URI the cracker accepts.
  if (n == 0 || n != announced ||
      !InternetCrackUrlW(m_uri.c_str(), announced, m_flags, m_components.get())) {
    for (Buffer* buffer : {&m_scheme, &m_host, &m_userName, &m_password, &m_urlPath, &m_extraInfo})
      (*buffer)[0] = L'\0';
    c.nScheme = INTERNET_SCHEME_DEFAULT;
    c.nPort = 0;
  }
}

CUriParser::~CUriParser() = default;

// Each component is its buffer's text up to the terminator.
std::wstring CUriParser::GetScheme() const { return m_scheme.get(); }
std::wstring CUriParser::GetHost() const { return m_host.get(); }
std::wstring CUriParser::GetUserName() const { return m_userName.get(); }
std::wstring CUriParser::GetPassword() const { return m_password.get(); }
std::wstring CUriParser::GetUrlPath() const { return m_urlPath.get(); }
std::wstring CUriParser::GetExtraInfo() const { return m_extraInfo.get(); }
LONG CUriParser::GetSchemeNumber() const { return m_components->nScheme; }
INTERNET_PORT CUriParser::GetPort() const { return m_components->nPort; }

bool CUriParser::IsKnownScheme(const std::wstring& uri, DWORD flags) {
  return CUriParser(uri, flags).GetSchemeNumber() > 0;
}

bool CUriParser::IsHttpScheme(const std::wstring& uri, DWORD flags) {
  const LONG scheme = CUriParser(uri, flags).GetSchemeNumber();
  return scheme == INTERNET_SCHEME_HTTP || scheme == INTERNET_SCHEME_HTTPS;
}

std::wstring CUriParser::GetScheme(const std::wstring& uri, DWORD flags) {
  return CUriParser(uri, flags).GetScheme();
}

std::wstring CUriParser::GetHost(const std::wstring& uri, DWORD flags) {
  return CUriParser(uri, flags).GetHost();
}

std::wstring CUriParser::GetUrlPath(const std::wstring& uri, DWORD flags) {
  return CUriParser(uri, flags).GetUrlPath();
}
