#include "uri/Uri.h"

#include <memory>
#include <utility>
#include <vector>

#include "uri/SessionKey.h"
#include "uri/UriParser.h"
#include "support/StringCase.h"
#include "support/Trace.h"

namespace {

// Length of the "scheme:" prefix of uri plus the "//" after it. It is taken
// from the URI itself rather than assumed to be scheme + "://", so that a
// URI written "http:host" loses only "http:" and not part of its host.
std::size_t SchemePrefixLength(const std::wstring& uri) {
  std::size_t end = uri.find(L':') + 1;
  for (int slashes = 0; slashes < 2 && end < uri.size() && uri[end] == L'/'; ++slashes) ++end;
  return end < uri.size() ? end : uri.size();
}

// An http or https URI rebuilt from what the cracker read, so that the forms
// derived from it hold the host the browser will contact: the host as
// browsers parse it, the port only when it is not the scheme's default, the
// path with "\" as "/", the rest as written (nothing decoded). A URI that is
// already in that form comes back unchanged. The list's subject leaves out
// the scheme and the user information (which would let an entry anchored on
// the host miss, or a white entry match a name that is not the host), drops
// trailing dots of the host (a browser reaches "evil.test." as "evil.test")
// and writes an empty path as "/", so that "^host/" meets every address of
// the host. Empty when the URI is not http or https or a browser would
// refuse it.
std::wstring Rebuild(const std::wstring& uri, bool subject) {
  const CUriParser parts(uri, 0);
  const LONG scheme = parts.GetSchemeNumber();
  std::wstring host = parts.GetHost();
  if (host.empty() || (scheme != INTERNET_SCHEME_HTTP && scheme != INTERNET_SCHEME_HTTPS))
    return L"";
  std::wstring out;
  if (subject) {
    while (host.size() > 1 && host.back() == L'.') host.pop_back();
  } else {
    out = parts.GetScheme() + L"://";
    const std::wstring user = parts.GetUserName(), password = parts.GetPassword();
    if (!user.empty() || !password.empty())
      out += user + (password.empty() ? L"" : L":" + password) + L"@";
  }
  // Path and extra information are appended from the parser's buffers: a
  // long address is copied once.
  const std::wstring_view path = parts.GetUrlPathView(), extra = parts.GetExtraInfoView();
  out.reserve(out.size() + host.size() + 8 + path.size() + extra.size());
  out += host;
  const INTERNET_PORT port = parts.GetPort();
  if (port != (scheme == INTERNET_SCHEME_HTTP ? INTERNET_DEFAULT_HTTP_PORT
                                              : INTERNET_DEFAULT_HTTPS_PORT))
    out += L":" + std::to_wstring(port);
  if (subject && path.empty())
    out += L'/';
  else
    out += path;
  out += extra;
  return out;
}

// Whether PercentEncode would change the http URI uri: it escapes "&",
// "+", controls and code units from 0x7F to 0xFF after the scheme prefix.
bool NeedsPercentEncoding(const std::wstring& uri) {
  for (std::size_t i = SchemePrefixLength(uri); i < uri.size(); ++i) {
    const unsigned b = static_cast<unsigned>(uri[i]);
    if (b < 0x20 || (b >= 0x7F && b <= 0xFF) || b == L'&' || b == L'+') return true;
  }
  return false;
}

}  // namespace

// A verified marker is cut from the end, after the scheme's ":", so the
// scheme is the one found first.
CUri::CUri(std::wstring uri)
    : m_uri(std::move(uri)), m_httpScheme(CUriParser::IsHttpScheme(m_uri, ICU_DECODE)) {
  if (m_httpScheme) ExtractHashKey();
}

CUri::~CUri() = default;

const std::wstring& CUri::GetUri() const { return m_uri; }

template <class Derive>
const std::wstring& CUri::Cached(CachedForm& form, Derive derive) const {
  if (form.forLength != m_uri.size()) {
    form.text = derive();
    form.forLength = m_uri.size();
  }
  return form.text;
}

bool CUri::HasHttpScheme() const { return m_httpScheme; }

std::wstring CUri::GetSchemelessUri() const {
  const std::wstring subject = Rebuild(m_uri, true);
  return subject.empty() ? StripScheme(m_uri) : subject;
}

const std::wstring& CUri::GetCanonicalUri() const {
  return Cached(m_canonical, [this] { return Canonicalise(m_uri, true, false); });
}

std::wstring CUri::GetPath() const { return CUriParser::GetUrlPath(GetCanonicalUri(), ICU_DECODE); }

std::wstring CUri::GetHost() const {
  return Cached(m_host, [this] { return CUriParser::GetHost(GetCanonicalUri(), ICU_DECODE); });
}

const std::wstring& CUri::GetBareUri() const {
  return Cached(m_bare, [this] {
    // With a known scheme, MakeBare's canonical form is the one held.
    if (m_uri.empty() || !CUriParser::IsKnownScheme(m_uri, ICU_DECODE))
      return ToLowerAscii(MakeBare(m_uri));
    std::wstring t = StripScheme(GetCanonicalUri());
    if (!t.empty() && t.back() == L'/') t.pop_back();
    return ToLowerAscii(std::move(t));
  });
}

const std::wstring& CUri::GetBareHost() const {
  return Cached(m_bareHost, [this] { return ToLowerAscii(MakeBare(GetHost())); });
}

bool CUri::IsSameSite(const CUri& other) const {
  // An http address a browser refuses has no host: it is no site, so it is
  // never taken for the flagged site or the warning pages' own.
  if ((HasHttpScheme() && GetHost().empty()) || (other.HasHttpScheme() && other.GetHost().empty()))
    return false;
  const std::wstring &host = GetBareHost(), &otherHost = other.GetBareHost();
  const std::wstring &bare = GetBareUri(), &otherBare = other.GetBareUri();
  auto same = [](const std::wstring& a, const std::wstring& b) {
    return !a.empty() && !b.empty() && a == b;
  };
  return same(host, otherHost) || same(bare, otherBare) || same(host, otherBare) ||
         same(bare, otherHost);
}

bool CUri::IsSameSite(const std::wstring& other) const { return IsSameSite(CUri(other)); }

std::wstring CUri::Canonicalise(const std::wstring& uri, bool addScheme, bool addSlash) {
  const std::size_t enteredLength = uri.size();
  std::wstring t = uri;
  if (addScheme && !CUriParser::IsKnownScheme(t, ICU_DECODE)) t = L"http://" + t;
  if (!CUriParser::IsHttpScheme(t, ICU_DECODE)) return t;

  // The platform's form is adopted only when it is shorter than the URI was
  // on entry: the capacity offered is that length, terminator included.
  // Otherwise the URI is kept as written but for its host and port, which
  // are always the ones the browser reads.
  bool adopted = false;
  if (enteredLength > 0) {
    const std::unique_ptr<wchar_t[]> buffer(new wchar_t[enteredLength]);
    DWORD capacity = static_cast<DWORD>(enteredLength);
    // The canonicaliser reads a C string: a URI holding a NUL would reach it
    // cut short, so it is not asked.
    adopted = capacity == enteredLength && t.find(L'\0') == std::wstring::npos &&
              InternetCanonicalizeUrlW(t.c_str(), buffer.get(), &capacity, 0);
    if (adopted) t.assign(buffer.get(), capacity);
  }
  if (!adopted) {
    std::wstring rebuilt = Rebuild(t, false);
    if (!rebuilt.empty()) t = std::move(rebuilt);
  }
  if (addSlash && (t.empty() || t.back() != L'/')) t += L'/';
  if (!NeedsPercentEncoding(t)) return t;  // the usual case: no copy
  return PercentEncode(t);
}

std::wstring CUri::PercentEncode(const std::wstring& uri) {
  if (!CUriParser::IsHttpScheme(uri, ICU_DECODE)) return uri;
  const std::size_t prefix = SchemePrefixLength(uri);
  std::wstring out;
  out.reserve(uri.size() + 16);
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  std::size_t run = 0;  // characters kept as they are are appended as runs
  for (std::size_t i = prefix; i < uri.size(); ++i) {
    // Code units above 0xFF pass unchanged: cutting them to their low byte
    // would turn one character into another.
    const unsigned b = static_cast<unsigned>(uri[i]);
    if (b < 0x20 || (b >= 0x7F && b <= 0xFF) || b == L'&' || b == L'+') {
      out.append(uri, run, i - run);
      out += L'%';
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
      run = i + 1;
    }
  }
  out.append(uri, run, uri.size() - run);
  return out;
}

std::wstring CUri::StripScheme(const std::wstring& uri) {
  if (uri.empty() || !CUriParser::IsHttpScheme(uri, ICU_DECODE)) return uri;
  return uri.substr(SchemePrefixLength(uri));
}

std::wstring CUri::MakeBare(const std::wstring& uri) {
  if (uri.empty()) return uri;
  std::wstring t = StripScheme(Canonicalise(uri, false, false));
  if (!t.empty() && t.back() == L'/') t.pop_back();
  return t;
}

std::wstring CUri::MakeHashInput(const std::wstring& uri) {
  return ToLowerAscii(MakeBare(CUriParser::GetHost(uri, ICU_DECODE)));
}

std::wstring CUri::GenerateHash(const std::wstring& hashInput) {
  TraceMessage(L"Generating hash for '%s'\r\n", hashInput.c_str());
  const std::wstring key = CSessionKey::ForProcess().Sign(MakeBare(hashInput));
  TraceMessage(L"Post hash key '%s'\r\n", key.c_str());
  return key;
}

bool CUri::VerifyHash(const std::wstring& hashInput, const std::wstring& key) {
  return CSessionKey::ForProcess().Verify(MakeBare(hashInput), key);
}

void CUri::ExtractHashKey() {
  const std::wstring& u = m_uri;
  TraceMessage(L"Looking for an existing hash key in '%s'\r\n", u.c_str());
  if (u.empty()) return;
  std::size_t end = u.size() - 1;
  TraceMessage(L"URI len %ld, URI end %ld'\r\n", static_cast<LONG>(u.size()),
               static_cast<LONG>(end));
  TraceMessage(L"Looking for URI end marker\r\n");
  if (u[end] == L'/') {
    TraceMessage(L"Found URI end marker\r\n");
    if (end == 0) return;
    --end;
  }
  TraceMessage(L"Looking for URI end of hash marker\r\n");
  if (end == 0 || u[end] != L')') return;
  TraceMessage(L"Found URI end of hash marker\r\n");
  TraceMessage(L"Looking for URI start of hash marker\r\n");
  const std::size_t start = u.rfind(L'(', end - 1);
  if (start == std::wstring::npos) return;
  TraceMessage(L"Found URI start of hash marker\r\n");

  const std::wstring foundKey = ToLowerAscii(u.substr(start + 1, end - start - 1));
  TraceMessage(L"Extracted hash key '%s'\r\n", foundKey.c_str());
  std::size_t newLength = start;
  TraceMessage(L"New URI len %ld, new URI end %ld'\r\n", static_cast<LONG>(start),
               static_cast<LONG>(start) - 1);
  TraceMessage(L"Looking for new URI end marker\r\n");
  if (start > 0 && u[start - 1] == L'/') {
    TraceMessage(L"Found new URI end marker\r\n");
    newLength = start - 1;
  }
  TraceMessage(L"Extracting new URI\r\n");
  const std::wstring newUri = u.substr(0, newLength);
  TraceMessage(L"New raw URI is '%s'\r\n", newUri.c_str());
  TraceMessage(L"Extracting new prehash URI\r\n");
  const std::wstring hashInput = MakeHashInput(newUri);
  TraceMessage(L"New prehash URI is '%s'\r\n", hashInput.c_str());
  TraceMessage(L"Extracting new hash\r\n");
  // Compared inside the key's owner, in constant time.
  TraceMessage(L"Check to see if existing and new hash keys match\r\n");
  if (VerifyHash(hashInput, foundKey)) {
    TraceMessage(L"Hash keys match\r\n");
    m_uri = newUri;
    m_foundHashKey = foundKey;
  } else {
    TraceMessage(L"Hash keys do not match\r\n");
  }
}

std::wstring CUri::GetHashKey() const {
  return Cached(m_hashKey, [this] {
    return HasHttpScheme() ? GenerateHash(MakeHashInput(m_uri)) : std::wstring();
  });
}

std::wstring CUri::GetFoundHashKey() const { return m_foundHashKey; }

std::wstring CUri::GetHashKeyMarker() const { return L"(" + GetHashKey() + L")"; }

bool CUri::HasValidHashKey() const {
  if (m_foundHashKey.empty()) return false;  // the usual case: no key asked for
  const std::wstring key = GetHashKey();
  return !key.empty() && m_foundHashKey == key;
}
