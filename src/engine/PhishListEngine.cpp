#include "engine/PhishListEngine.h"

#include "platform/Utf8.h"
#include "settings/Settings.h"
#include "support/Trace.h"

namespace {

// Where the authority of an http or https URI ends: after "scheme:" and
// any run of "/" and "\", at the first "/", "\", "?" or "#".
std::size_t AuthorityEnd(const std::wstring& uri) {
  const std::size_t colon = uri.find(L':');
  if (colon == std::wstring::npos) return 0;
  std::size_t at = colon + 1;
  while (at < uri.size() && (uri[at] == L'/' || uri[at] == L'\\')) ++at;
  const std::size_t end = uri.find_first_of(L"/\\?#", at);
  return end == std::wstring::npos ? uri.size() : end;
}

void AppendEscape(std::wstring& out, unsigned byte) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  out += L'%';
  out += kHex[(byte >> 4) & 0xF];
  out += kHex[byte & 0xF];
}

// The blocked URI as the value of var3, written so that a warning page gets
// it back whole by standard percent-decoding (UTF-8). Canonicalise alone
// would let "%" and "#" through (an escape in the address would come back
// decoded, and a fragment would end the warning page's query, taking var4
// with it) and would write a character from 0x80 to 0xFF as one escape of
// its low byte, which cannot be told from the UTF-8 escapes of a canonical
// form. So after the host, "%" and every character outside ASCII are
// escaped (UTF-8) before canonicalisation, and "#" and "?" after it (a
// second "?" in a query is legal, but some servers refuse the request).
std::wstring QueryValue(const CUri& uri) {
  const std::wstring raw = uri.GetUri();
  const std::size_t hostEnd = AuthorityEnd(raw);
  std::wstring prepared = raw.substr(0, hostEnd);
  for (std::size_t i = hostEnd; i < raw.size(); ++i) {
    const wchar_t c = raw[i];
    if (c == L'%') {
      AppendEscape(prepared, '%');
    } else if (static_cast<unsigned>(c) >= 0x80) {
      for (unsigned char byte : ostrel::platform::ToUtf8(std::wstring(1, c)))
        AppendEscape(prepared, byte);
    } else {
      prepared += c;
    }
  }
  const std::wstring canonical = CUri::Canonicalise(prepared, false, uri.GetPath().empty());
  std::wstring value = canonical.substr(0, AuthorityEnd(canonical));
  for (std::size_t i = value.size(); i < canonical.size(); ++i) {
    if (canonical[i] == L'#' || canonical[i] == L'?')
      AppendEscape(value, canonical[i]);
    else
      value += canonical[i];
  }
  return value;
}

// A key proves only that this process once warned about the host, so a
// black address is let through by one only while black click-through is
// allowed: a key covers the whole host, so one shown on a grey warning also
// fits a black address of that host, and the setting may have been turned
// off since a key was shown.
bool ClickThroughRefused(CPhishList& list, const CUri& uri) {
  if (CSettings::GetACTBlack(CSettings::DefaultACTBlack) != 0) return false;
  list.EnsureLoaded();
  if (list.LookUp(uri) != LIST_KIND_BLACK) return false;
  TraceMessage(L"Pre-scan refuses the hash key: the URI is black listed and black click-through "
               L"is off\r\n");
  return true;
}

}  // namespace

// Built in this order at module load: the prefix first.
const std::wstring CPhishListEngine::QueryPrefix = L"?var1=ZORTBHO";
const std::wstring CPhishListEngine::BlackQueryPrefix = QueryPrefix + L"&var2=black";
const std::wstring CPhishListEngine::GreyQueryPrefix = QueryPrefix + L"&var2=grey";
const std::wstring CPhishListEngine::UriParameter = L"&var3=";
const std::wstring CPhishListEngine::HashKeyParameter = L"&var4=";

CPhishListEngine::CPhishListEngine(IWebBrowser2* browser)
    : m_list(), m_browser(browser), m_flaggedSite(), m_allowClickThrough(FALSE) {}

CPhishListEngine::~CPhishListEngine() = default;

CPhishList& CPhishListEngine::GetList() { return m_list; }

std::wstring CPhishListEngine::GetFlaggedSite() const { return m_flaggedSite; }

HRESULT CPhishListEngine::Scan(const std::wstring& url) { return ScanUri(CUri(url)); }

HRESULT CPhishListEngine::ScanUri(const CUri& uri) {
  TraceMessage(L"Scanning engine has recieved URI '%s'\r\n", uri.GetUri().c_str());
  return ProcessUri(uri);
}

HRESULT CPhishListEngine::ProcessUri(const CUri& uri) {
  TraceMessage(L"Processing '%s'\r\n", uri.GetUri().c_str());
  switch (PreScan(uri)) {
    case OURURI:
      TraceMessage(L"OURURI\r\n");
      break;
    case RELOAD:
      TraceMessage(L"RELOAD\r\n");
      m_browser.Navigate(uri);
      break;
    case NOHTTP:
      TraceMessage(L"NOHTTP\r\n");
      break;
    case NOSCAN:
      TraceMessage(L"NOSCAN\r\n");
      break;
    default:
      TraceMessage(L"DOSCAN\r\n");
      LookUpAndRedirect(uri);
      break;
  }
  TraceMessage(L"Scanning for '%s' complete\r\n", uri.GetUri().c_str());
  return S_OK;
}

PreScanResult CPhishListEngine::PreScan(const CUri& uri) {
  TraceMessage(L"Pre-scanning '%s'\r\n", uri.GetUri().c_str());
  PreScanResult result;
  if (!uri.HasHttpScheme()) {
    TraceMessage(
        L"Pre-scan indicates this URI does not have a valid HTTP scheme therefore it will not be "
        L"scanned\r\n");
    result = NOHTTP;
  } else if (uri.HasValidHashKey() && !ClickThroughRefused(m_list, uri)) {
    TraceMessage(L"Pre-scan indicates this URI should be white listed\r\n");
    m_list.WhiteListTemporarily(uri);
    TraceMessage(
        L"Flagging site as current white listed domain to prevent further scans during this "
        L"visit\r\n");
    m_flaggedSite = uri.GetBareUri();
    result = RELOAD;
  } else if (!m_flaggedSite.empty() && uri.IsSameSite(m_flaggedParsed.For(m_flaggedSite))) {
    TraceMessage(
        L"Pre-scan indicates this URI should not be scanned as we are currently navigating a "
        L"white listed domain\r\n");
    result = NOSCAN;
  } else if (IsOurUri(uri)) {
    TraceMessage(
        L"Pre-scan indicates this URI is registered as our 'safe' site and as such should not be "
        L"scanned\r\n");
    result = OURURI;
  } else {
    TraceMessage(L"Pre-scan indicates this URI should be scanned\r\n");
    result = DOSCAN;
  }
  TraceMessage(L"Pre-scan checks complete\r\n");
  return result;
}

const CUri& CPhishListEngine::ParsedSite::For(const std::wstring& text) {
  if (!m_uri || m_text != text) {
    m_uri = std::make_unique<CUri>(text);
    m_text = text;
  }
  return *m_uri;
}

bool CPhishListEngine::IsOurUri(const CUri& uri) {
  const CUri& black = m_blackSite.For(GetBlackRedirectBase());
  const CUri& grey = m_greySite.For(GetGreyRedirectBase());
  const bool onBlack = uri.IsSameSite(black);
  const bool onGrey = uri.IsSameSite(grey);
  return onBlack || onGrey;
}

std::wstring CPhishListEngine::GetBlackRedirectBase() {
  return CSettings::GetBlackRedirectUri(CSettings::DefaultBlackRedirectUri) + BlackQueryPrefix;
}

std::wstring CPhishListEngine::GetGreyRedirectBase() {
  return CSettings::GetGreyRedirectUri(CSettings::DefaultGreyRedirectUri) + GreyQueryPrefix;
}

HRESULT CPhishListEngine::LookUpAndRedirect(const CUri& uri) {
  m_list.EnsureLoaded();
  TraceMessage(L"Looking for '%s' in database\r\n", uri.GetUri().c_str());
  switch (m_list.LookUp(uri)) {
    case LIST_KIND_WHITE:
      TraceMessage(
          L"URI is white listed, flagging site as current white listed domain to prevent further "
          L"scans during this visit\r\n");
      m_flaggedSite = uri.GetBareUri();
      return S_OK;
    case LIST_KIND_GREY:
      TraceMessage(L"URI is grey listed, redirecting accordingly\r\n");
      return RedirectGrey(uri);
    case LIST_KIND_BLACK:
      TraceMessage(L"URI is black listed, redirecting accordingly\r\n");
      return RedirectBlack(uri);
    default:
      TraceMessage(L"Unknown scan result\r\n");
      return S_OK;
  }
}

HRESULT CPhishListEngine::RedirectBlack(const CUri& uri) {
  m_allowClickThrough = CSettings::GetACTBlack(CSettings::DefaultACTBlack) != 0;
  Redirect(m_blackSite.Text(), uri);
  return S_OK;
}

HRESULT CPhishListEngine::RedirectGrey(const CUri& uri) {
  m_allowClickThrough = CSettings::GetACTGrey(CSettings::DefaultACTGrey) != 0;
  Redirect(m_greySite.Text(), uri);
  return S_OK;
}

HRESULT CPhishListEngine::Redirect(const std::wstring& base, const CUri& uri) {
  std::wstring address = base;
  address += UriParameter;
  address += QueryValue(uri);
  if (m_allowClickThrough) {
    address += HashKeyParameter;
    address += uri.GetHashKeyMarker();
  }
  TraceMessage(L"Redirecting to '%s'\r\n", address.c_str());
  return m_browser.Navigate(address);
}
