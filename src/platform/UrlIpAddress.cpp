// IPv4 and IPv6 addresses in hosts, step by step as the URL Standard reads
// them, and their serial forms.
#include <cstdint>
#include <vector>

#include "platform/UrlHost.h"

namespace ostrel::platform {
namespace {

int DigitValue(wchar_t c, int radix) {
  int v = -1;
  if (c >= L'0' && c <= L'9') v = c - L'0';
  if (c >= L'a' && c <= L'f') v = c - L'a' + 10;
  if (c >= L'A' && c <= L'F') v = c - L'A' + 10;
  return v < radix ? v : -1;
}

// One part: decimal, "0x" hex or "0" octal; "0x" alone is 0. Values
// saturate far above 2^32, which every caller refuses.
bool ParseNumber(std::wstring_view s, std::uint64_t* value) {
  if (s.empty()) return false;
  int radix = 10;
  if (s.size() >= 2 && s[0] == L'0' && (s[1] == L'x' || s[1] == L'X')) {
    s.remove_prefix(2);
    radix = 16;
  } else if (s.size() >= 2 && s[0] == L'0') {
    s.remove_prefix(1);
    radix = 8;
  }
  std::uint64_t v = 0;
  for (wchar_t c : s) {
    const int d = DigitValue(c, radix);
    if (d < 0) return false;
    v = v * radix + d;
    if (v > (std::uint64_t{1} << 40)) v = std::uint64_t{1} << 40;
  }
  *value = v;
  return true;
}

std::vector<std::wstring_view> Labels(std::wstring_view name) {
  std::vector<std::wstring_view> labels;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = name.find(L'.', start);
    labels.push_back(name.substr(start, dot == std::wstring_view::npos ? dot : dot - start));
    if (dot == std::wstring_view::npos) return labels;
    start = dot + 1;
  }
}

void AppendHex(std::wstring& out, unsigned value) {
  static const wchar_t kHex[] = L"0123456789abcdef";
  bool started = false;
  for (int shift = 12; shift >= 0; shift -= 4) {
    const unsigned d = (value >> shift) & 0xF;
    if (d || started || shift == 0) {
      out += kHex[d];
      started = true;
    }
  }
}

}  // namespace

bool EndsInNumber(std::wstring_view name) {
  // Only the last label counts: found from the end, so a name of many
  // labels costs no list of them.
  if (!name.empty() && name.back() == L'.') {
    if (name.size() == 1) return false;
    name.remove_suffix(1);
  }
  const std::size_t dot = name.rfind(L'.');
  const std::wstring_view last = dot == std::wstring_view::npos ? name : name.substr(dot + 1);
  bool digits = !last.empty();
  for (wchar_t c : last) digits = digits && c >= L'0' && c <= L'9';
  std::uint64_t ignored;
  return digits || ParseNumber(last, &ignored);
}

bool ParseIpv4(std::wstring_view text, std::wstring* address) {
  std::vector<std::wstring_view> parts = Labels(text);
  if (parts.back().empty() && parts.size() > 1) parts.pop_back();
  if (parts.size() > 4) return false;
  std::vector<std::uint64_t> numbers;
  for (std::wstring_view part : parts) {
    std::uint64_t n;
    if (!ParseNumber(part, &n)) return false;
    numbers.push_back(n);
  }
  for (std::size_t i = 0; i + 1 < numbers.size(); ++i)
    if (numbers[i] > 255) return false;
  // The last part fills every byte the others left.
  if (numbers.back() >= (std::uint64_t{1} << (8 * (5 - numbers.size())))) return false;
  std::uint64_t ipv4 = numbers.back();
  for (std::size_t i = 0; i + 1 < numbers.size(); ++i) ipv4 += numbers[i] << (8 * (3 - i));
  address->clear();
  for (int shift = 24; shift >= 0; shift -= 8) {
    *address += std::to_wstring((ipv4 >> shift) & 0xFF);
    if (shift) *address += L'.';
  }
  return true;
}

bool ParseIpv6(std::wstring_view s, std::wstring* address) {
  unsigned pieces[8] = {};
  int piece = 0, compress = -1;
  std::size_t p = 0;
  const auto at = [&](std::size_t i) { return i < s.size() ? s[i] : L'\0'; };
  if (at(p) == L':') {
    if (at(p + 1) != L':') return false;
    p += 2;
    compress = ++piece;
  }
  while (p < s.size()) {
    if (piece == 8) return false;
    if (s[p] == L':') {
      if (compress >= 0) return false;
      ++p;
      compress = ++piece;
      continue;
    }
    unsigned value = 0;
    int length = 0;
    while (length < 4 && DigitValue(at(p), 16) >= 0) {
      value = value * 16 + DigitValue(at(p), 16);
      ++p;
      ++length;
    }
    if (at(p) == L'.') {  // an embedded IPv4 address fills the last two pieces
      if (length == 0 || piece > 6) return false;
      p -= length;
      int numbersSeen = 0;
      while (p < s.size()) {
        if (numbersSeen > 0) {
          if (s[p] != L'.' || numbersSeen >= 4) return false;
          ++p;
        }
        if (DigitValue(at(p), 10) < 0) return false;
        int part = -1;
        while (DigitValue(at(p), 10) >= 0) {
          const int d = DigitValue(at(p), 10);
          if (part == 0) return false;
          part = part < 0 ? d : part * 10 + d;
          if (part > 255) return false;
          ++p;
        }
        pieces[piece] = pieces[piece] * 0x100 + part;
        if (++numbersSeen == 2 || numbersSeen == 4) ++piece;
      }
      if (numbersSeen != 4) return false;
      break;
    }
    if (at(p) == L':') {
      ++p;
      if (p == s.size()) return false;
    } else if (p < s.size()) {
      return false;
    }
    pieces[piece++] = value;
  }
  if (compress >= 0) {
    int swaps = piece - compress;
    for (piece = 7; piece != 0 && swaps > 0; --piece, --swaps)
      std::swap(pieces[piece], pieces[compress + swaps - 1]);
  } else if (piece != 8) {
    return false;
  }
  // The first longest run of two or more zero pieces is written "::".
  int bestStart = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && pieces[j] == 0) ++j;
    if (j - i > bestLength) bestStart = i, bestLength = j - i;
    i = j == i ? i + 1 : j;
  }
  *address = L"[";
  for (int i = 0; i < 8; ++i) {
    if (i == bestStart) {
      *address += i == 0 ? L"::" : L":";
      i += bestLength - 1;
      continue;
    }
    AppendHex(*address, pieces[i]);
    if (i != 7) *address += L':';
  }
  *address += L']';
  return true;
}

}  // namespace ostrel::platform
