// The host parser of http and https addresses: percent-decoding, the code
// points no host may hold, and the dispatch to IDNA (UrlIdna.cpp) and to
// the IPv4 and IPv6 parsers (UrlIpAddress.cpp).
#include "platform/UrlHost.h"

#include <utility>

#include "platform/UrlSyntax.h"
#include "platform/Utf8.h"

namespace ostrel::platform {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes %XX in the UTF-8 form of text, then reads the bytes as UTF-8; a
// byte sequence that is not UTF-8 becomes U+FFFD, which IDNA refuses.
std::wstring PercentDecode(std::wstring_view text) {
  bool plain = true;  // ASCII without escapes comes back as it is
  for (wchar_t c : text) plain = plain && c != L'%' && c < 0x80;
  if (plain) return std::wstring(text);
  const std::string bytes = ToUtf8(std::wstring(text));
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '%' && i + 2 < bytes.size() && HexValue(bytes[i + 1]) >= 0 &&
        HexValue(bytes[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(bytes[i + 1]) * 16 + HexValue(bytes[i + 2]));
      i += 2;
    } else {
      out += bytes[i];
    }
  }
  return FromUtf8(out);
}

// Code points no host name may hold after IDNA, ASCII from a table: this
// runs for every character of every host.
struct ForbiddenTable {
  bool forbidden[128] = {};
  constexpr ForbiddenTable() {
    for (int i = 0; i <= 0x20; ++i) forbidden[i] = true;
    for (char f : {'#', '%', '/', ':', '<', '>', '?', '@', '[', '\\', ']', '^', '|', '\x7F'})
      forbidden[static_cast<int>(f)] = true;
  }
};
constexpr ForbiddenTable kForbidden;

bool IsForbidden(wchar_t c) {
  return ostrel::platform::IsNegativeChar(c) || (c < 0x80 && kForbidden.forbidden[c]);
}

// What the one pass over a plain host does with each ASCII code point: most
// are copied as they are, so that case costs a load and a branch.
enum PlainClass : unsigned char { kCopy, kUpper, kMaybeALabel, kRefused, kNotPlain };
struct PlainClassTable {
  PlainClass of[128] = {};
  constexpr PlainClassTable() {
    for (int c = 0; c < 128; ++c) {
      if (c == '%')
        of[c] = kNotPlain;  // escapes are decoded by the full path
      else if (kForbidden.forbidden[c])
        of[c] = kRefused;
      else if (c == 'x' || c == 'X')
        of[c] = kMaybeALabel;
      else if (c >= 'A' && c <= 'Z')
        of[c] = kUpper;
    }
  }
};
constexpr PlainClassTable kPlainClass;

bool IsLabelSeparator(wchar_t c) { return c == L'.' || c == 0x3002 || c == 0xFF0E || c == 0xFF61; }

}  // namespace

bool ParseBrowserHost(std::wstring_view text, std::wstring* host) {
  if (!text.empty() && text[0] == L'[') {
    if (text.size() < 2 || text.back() != L']') return false;
    return ParseIpv6(text.substr(1, text.size() - 2), host);
  }
  // The usual host, ASCII without escapes or A-labels ("xn--" at the start
  // of a label), maps to itself lower-cased: checked and written in one
  // pass (an address may hold a host of 64k characters, cracked several
  // times per scan), with no IDNA.
  bool plain = !text.empty();
  std::wstring ascii(text);
  for (std::size_t i = 0; plain && i < text.size(); ++i) {
    const wchar_t c = text[i];
    const PlainClass kind = IsNegativeChar(c) || c >= 0x80 ? kNotPlain : kPlainClass.of[c];
    if (kind == kCopy) continue;
    if (kind == kUpper) {
      ascii[i] = c - L'A' + L'a';
    } else if (kind == kRefused) {
      return false;  // escapes aside, decoding would leave it
    } else if (kind == kNotPlain) {
      plain = false;
    } else if ((i == 0 || text[i - 1] == L'.') && text.size() - i >= 4 &&
               (text[i + 1] | 0x20) == L'n' && text[i + 2] == L'-' && text[i + 3] == L'-') {
      plain = false;  // an A-label
    } else {
      ascii[i] = L'x';
    }
  }
  if (plain) {
    if (EndsInNumber(ascii)) return ParseIpv4(ascii, host);
    *host = std::move(ascii);
    return true;
  }
  const std::wstring domain = PercentDecode(text);
  // ASCII passes IDNA unchanged but for case, so a forbidden ASCII code point
  // (a decoded %00 among them) refuses the host before any label is mapped.
  for (wchar_t c : domain)
    if (c < 0x80 && IsForbidden(c)) return false;
  ascii.clear();
  if (!DomainToAscii(domain, &ascii)) return false;
  if (ascii.empty()) return false;
  for (wchar_t c : ascii)
    if (c >= 0x80 || IsForbidden(c)) return false;
  if (EndsInNumber(ascii)) return ParseIpv4(ascii, host);
  *host = ascii;
  return true;
}

bool DomainToAscii(const std::wstring& domain, std::wstring* ascii) {
  ascii->clear();
  ascii->reserve(domain.size());
  std::size_t start = 0;
  for (;;) {
    std::size_t end = start;
    while (end < domain.size() && !IsLabelSeparator(domain[end])) ++end;
    const std::wstring_view text(domain.data() + start, end - start);
    bool plain = !(text.size() >= 4 && (text[0] | 0x20) == L'x' && (text[1] | 0x20) == L'n' &&
                   text[2] == L'-' && text[3] == L'-');
    for (std::size_t i = 0; plain && i < text.size(); ++i) plain = text[i] < 0x80;
    if (plain) {  // ASCII that is no A-label maps to itself, lower-cased
      const std::size_t at = ascii->size();
      ascii->append(text);
      for (auto c = ascii->begin() + at; c != ascii->end(); ++c)
        if (*c >= L'A' && *c <= L'Z') *c = *c - L'A' + L'a';
    } else {
      std::wstring label;
      if (!LabelToAscii(std::wstring(text), &label)) return false;
      *ascii += label;
    }
    if (end == domain.size()) return true;
    *ascii += L'.';
    start = end + 1;
  }
}

}  // namespace ostrel::platform
