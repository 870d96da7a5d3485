// IDNA of host names as browsers apply it (UTS #46, non-transitional, no
// hyphen or length rules, no IDNA2008 validity), over libidn2: libidn2 maps
// and validates; where it refuses a label only for a rule browsers leave
// out, the label is mapped again with those rules out of play and encoded
// here with Punycode.
#include <idn2.h>

#include <memory>
#include <string>

#include "platform/UrlHost.h"
#include "platform/Utf8.h"

namespace ostrel::platform {
namespace {

constexpr int kNonTransitional = IDN2_NONTRANSITIONAL | IDN2_NFC_INPUT;
constexpr int kTransitional = IDN2_TRANSITIONAL | IDN2_NFC_INPUT;

struct IdnFree {
  void operator()(char* p) const { idn2_free(p); }
};

bool ToAscii(const std::wstring& label, int flags, std::wstring* ascii) {
  char* out = nullptr;
  const int rc = idn2_to_ascii_8z(ToUtf8(label).c_str(), &out, flags);
  const std::unique_ptr<char, IdnFree> owned(out);
  if (rc != IDN2_OK || !out) return false;
  *ascii = FromUtf8(out);
  return true;
}

bool ToUnicode(const std::wstring& ascii, std::wstring* label) {
  char* out = nullptr;
  const int rc = idn2_to_unicode_8z8z(ToUtf8(ascii).c_str(), &out, 0);
  const std::unique_ptr<char, IdnFree> owned(out);
  if (rc != IDN2_OK || !out) return false;
  *label = FromUtf8(out);
  return true;
}

bool IsAscii(const std::wstring& s) {
  for (wchar_t c : s)
    if (c >= 0x80) return false;
  return true;
}

// RFC 3492 Punycode of one label (code points, not yet known to be ASCII).
std::wstring Punycode(const std::wstring& input) {
  constexpr unsigned long kBase = 36, kTMin = 1, kTMax = 26, kSkew = 38, kDamp = 700;
  const auto digit = [](unsigned long d) {
    return static_cast<wchar_t>(d < 26 ? L'a' + d : L'0' + d - 26);
  };
  const auto adapt = [&](unsigned long delta, unsigned long points, bool first) {
    delta = first ? delta / kDamp : delta / 2;
    delta += delta / points;
    unsigned long k = 0;
    for (; delta > ((kBase - kTMin) * kTMax) / 2; k += kBase) delta /= kBase - kTMin;
    return k + (kBase - kTMin + 1) * delta / (delta + kSkew);
  };
  std::wstring out;
  for (wchar_t c : input)
    if (c < 0x80) out += c;
  const unsigned long basic = out.size();
  if (basic) out += L'-';
  unsigned long n = 0x80, delta = 0, bias = 72;
  for (unsigned long h = basic; h < input.size(); ++delta, ++n) {
    unsigned long m = ~0ul;
    for (wchar_t c : input)
      if (static_cast<unsigned long>(c) >= n && static_cast<unsigned long>(c) < m) m = c;
    delta += (m - n) * (h + 1);
    n = m;
    for (wchar_t c : input) {
      if (static_cast<unsigned long>(c) < n) ++delta;
      if (static_cast<unsigned long>(c) != n) continue;
      unsigned long q = delta;
      for (unsigned long k = kBase;; k += kBase) {
        const unsigned long t = k <= bias ? kTMin : k >= bias + kTMax ? kTMax : k - bias;
        if (q < t) break;
        out += digit(t + (q - t) % (kBase - t));
        q = (q - t) / (kBase - t);
      }
      out += digit(q);
      bias = adapt(delta, h + 1, h == basic);
      delta = 0;
      ++h;
    }
  }
  return out;
}

// Maps a label that libidn2 refused as a browser maps it. Hyphens (and what
// maps to one), and the two characters ("ß", final "ς") that transitional
// mapping would change, are held aside as digits the label does not use, so
// that neither the hyphen rules nor the transitional changes apply; the
// rest is mapped transitionally (for every other code point the same
// mapping as non-transitional, without IDNA2008 validity). Joiners, which
// browsers accept only in contexts libidn2 checks, stay refused.
bool MapLeniently(const std::wstring& label, std::wstring* mapped) {
  std::wstring text = label;
  std::wstring standIns, restores;  // a digit, and what it comes back as
  for (wchar_t& c : text) {
    if (c == 0x200C || c == 0x200D || c == 0x1E9E) return false;
    std::wstring alone;
    wchar_t restore = 0;
    if (c == L'-' || c == 0xDF || c == 0x3C2)
      restore = c;
    else if (c >= 0x80 && ToAscii({L'0', c, L'0'}, kTransitional, &alone) && alone == L"0-0")
      restore = L'-';
    if (!restore) continue;
    const std::size_t known = restores.find(restore);
    if (known != std::wstring::npos) {
      c = standIns[known];
      continue;
    }
    wchar_t digit = standIns.empty() ? L'0' : standIns.back() + 1;
    while (digit <= L'9' && label.find(digit) != std::wstring::npos) ++digit;
    if (digit > L'9') return false;
    standIns += digit;
    restores += restore;
    c = digit;
  }
  std::wstring ascii;
  if (!ToAscii(text, kTransitional, &ascii) || !ToUnicode(ascii, mapped)) return false;
  // Each stand-in comes back as often as it went in (no other code point
  // mapped to it), and is restored.
  for (std::size_t i = 0; i < standIns.size(); ++i) {
    std::size_t before = 0, after = 0;
    for (wchar_t c : text) before += c == standIns[i];
    for (wchar_t& c : *mapped)
      if (c == standIns[i]) ++after, c = restores[i];
    if (before != after) return false;
  }
  return true;
}

bool MapLabelToAscii(const std::wstring& label, std::wstring* ascii, bool decoded = false) {
  std::wstring mapped = label;
  if (!IsAscii(label)) {
    if (ToAscii(label, kNonTransitional, ascii)) return true;
    if (!MapLeniently(label, &mapped)) return false;
    if (!IsAscii(mapped)) {
      *ascii = L"xn--" + Punycode(mapped);
      return true;
    }
  }
  // ASCII maps to itself, lower-cased (a name with '_' or "--" stays).
  for (wchar_t& c : mapped) c = (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c;
  *ascii = mapped;
  if (decoded || mapped.rfind(L"xn--", 0) != 0) return true;
  // An A-label stays as written when it is Punycode of a name that maps to
  // it again, or, as browsers allow (libidn2 does not), of a plain ASCII
  // name: that name and a final "-".
  if (mapped.size() > 5 && mapped.back() == L'-') return true;
  std::wstring name, again;
  return ToUnicode(mapped, &name) && !name.empty() &&
         (IsAscii(name) || (MapLabelToAscii(name, &again, true) && again == mapped));
}

}  // namespace

bool LabelToAscii(const std::wstring& label, std::wstring* ascii) {
  return MapLabelToAscii(label, ascii);
}

}  // namespace ostrel::platform
