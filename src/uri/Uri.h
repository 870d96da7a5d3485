// CUri: one URI and the forms derived from it (schemeless, canonical, bare,
// host, path), site comparison, and the hash key that proves a click-through
// came from this process's own warning-page redirect. A value: the
// constructor does all that changes it (removing a hash-key marker that
// verifies); every other operation reads it and returns copies. The
// canonical, host and bare forms and the hash key are derived once, at
// first use, since a scan asks for some of them several times and each
// costs passes over the whole address (the key also a MAC). Used on the
// thread that built it (the forms are cached without a lock); the only
// process-wide state behind it is the secret of the keys (uri/SessionKey.h).
#pragma once

#include <string>

class CUri {
 public:
  explicit CUri(std::wstring uri);
  virtual ~CUri();

  // The URI as held: as given, less a hash-key marker that verified.
  const std::wstring& GetUri() const;
  // True for http and https, also when a browser would refuse the address
  // (it is then scanned, not passed).
  bool HasHttpScheme() const;
  // The subject the list is searched in: for http and https, the host the
  // browser contacts (no trailing dot), a port other than the default, and
  // the path ("/" when empty), query and fragment as written; otherwise, or
  // when a browser would refuse the address, the held URI without
  // "scheme://".
  std::wstring GetSchemelessUri() const;
  // URL path and host (no port, no user information) of the canonical form;
  // for http and https the host as the browser reads it, empty when it
  // would refuse the address.
  std::wstring GetPath() const;
  std::wstring GetHost() const;
  // Lower-cased bare forms: no scheme, no single trailing "/".
  const std::wstring& GetBareUri() const;
  const std::wstring& GetBareHost() const;

  // True when the bare host or bare URI of one equals either of the other's
  // (empty forms never match); an http address a browser would refuse is
  // the same site as nothing.
  bool IsSameSite(const CUri& other) const;
  bool IsSameSite(const std::wstring& other) const;

  // The hash key computed for the held URI's host (empty unless http/https;
  // the MAC of the host under this process's secret, 64 lower-case hex
  // digits), the key the URI carried when it verified, and "(" key ")".
  std::wstring GetHashKey() const;
  std::wstring GetFoundHashKey() const;
  std::wstring GetHashKeyMarker() const;
  bool HasValidHashKey() const;

  // The recipes behind the forms; they read nothing of an object.
  static std::wstring Canonicalise(const std::wstring& uri, bool addScheme, bool addSlash);
  static std::wstring PercentEncode(const std::wstring& uri);
  static std::wstring StripScheme(const std::wstring& uri);
  static std::wstring MakeBare(const std::wstring& uri);
  // The host form a key covers: the cracker's host, bare, lower-cased.
  static std::wstring MakeHashInput(const std::wstring& uri);
  // The key of a hash input, and whether key (either case) is that key.
  static std::wstring GenerateHash(const std::wstring& hashInput);
  static bool VerifyHash(const std::wstring& hashInput, const std::wstring& key);

 private:
  const std::wstring& GetCanonicalUri() const;
  void ExtractHashKey();

  // A form derived from m_uri at first use. m_uri changes only in the
  // constructor (a verified marker is cut off its end), so a form is used
  // only while m_uri has the length it was derived for.
  struct CachedForm {
    std::wstring text;
    std::size_t forLength = std::wstring::npos;
  };
  template <class Derive>
  const std::wstring& Cached(CachedForm& form, Derive derive) const;

  std::wstring m_uri;
  bool m_httpScheme;  // asked at every step of a scan, so asked once
  mutable CachedForm m_canonical, m_host, m_bare, m_bareHost, m_hashKey;
  std::wstring m_foundHashKey;  // carried by the URI and equal to the computed one
};
