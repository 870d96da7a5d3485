// CPhishListEngine: the decision for every navigation of one browser
// window. A URI is pre-scanned without the list (wrong scheme, verified
// click-through, the site the user is already visiting, the warning pages'
// own site); anything else is looked up, and a grey or black hit stops the
// browser and sends it to the warning page named by the settings, with the
// blocked URI and, when click-through is allowed, its hash key in the query.
// A white hit or a verified click-through flags the site so the rest of the
// visit is not scanned. Settings are read at each scan (a hit goes to the
// warning page its own pre-scan read, not read again). Called only on the
// browser window's thread; the list it owns is shared with that list's
// update thread and locks itself.
#pragma once

#include <memory>
#include <string>

#include "uri/Uri.h"
#include "engine/WebBrowser.h"
#include "phishlist/PhishList.h"

enum PreScanResult { DOSCAN = 0, OURURI = 1, RELOAD = 2, NOHTTP = 3, NOSCAN = 4 };

class CPhishListEngine {
 public:
  // Builds the list (which may load at once and starts its update service)
  // and the browser wrapper; their failures propagate as CException.
  explicit CPhishListEngine(IWebBrowser2* browser);
  CPhishListEngine(const CPhishListEngine&) = delete;
  CPhishListEngine& operator=(const CPhishListEngine&) = delete;
  virtual ~CPhishListEngine();

  // Scans the URL the browser gave; always S_OK (failures leave as
  // CException).
  HRESULT Scan(const std::wstring& url);
  HRESULT ScanUri(const CUri& uri);

  // The query parts of the warning-page address, built at module load.
  static const std::wstring QueryPrefix;       // "?var1=ZORTBHO"
  static const std::wstring BlackQueryPrefix;  // ... "&var2=black"
  static const std::wstring GreyQueryPrefix;   // ... "&var2=grey"
  static const std::wstring UriParameter;      // "&var3="
  static const std::wstring HashKeyParameter;  // "&var4="

  // For tests and tools: the window's list and flagged site.
  CPhishList& GetList();
  std::wstring GetFlaggedSite() const;

 private:
  HRESULT ProcessUri(const CUri& uri);
  PreScanResult PreScan(const CUri& uri);
  bool IsOurUri(const CUri& uri);
  HRESULT LookUpAndRedirect(const CUri& uri);
  // A hit goes to the warning page the pre-scan of the same scan read (the
  // lookup follows only a pre-scan that compared the address with both).
  HRESULT RedirectBlack(const CUri& uri);
  HRESULT RedirectGrey(const CUri& uri);
  HRESULT Redirect(const std::wstring& base, const CUri& uri);
  static std::wstring GetBlackRedirectBase();
  static std::wstring GetGreyRedirectBase();

  // A site compared with at every scan, parsed again only when its text
  // differs from the last one's: the settings behind the warning pages are
  // read at each scan, but rarely change.
  class ParsedSite {
   public:
    const CUri& For(const std::wstring& text);
    const std::wstring& Text() const { return m_text; }

   private:
    std::wstring m_text;
    std::unique_ptr<CUri> m_uri;
  };

  CPhishList m_list;
  CWebBrowser m_browser;
  ParsedSite m_blackSite, m_greySite, m_flaggedParsed;
  std::wstring m_flaggedSite;  // bare form of the last white-listed site; never cleared
  BOOL m_allowClickThrough;    // set before each redirect is composed
};
