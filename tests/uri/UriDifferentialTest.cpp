// The host the scan sees against Node.js's URL (UrlOracle.js beside this
// file, one process for the batch) over hand-written tricky addresses and
// thousands of seeded random mutations: for each http address it accepts,
// our host is its hostname and our subject starts with that host (no
// trailing dot), port and "/"; one it refuses is still scanned by us.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "uri/Uri.h"

namespace {

using Strings = std::vector<std::wstring>;
const Strings kPrefixes = {L"http://", L"https://", L"HTTP://", L"hTtPs://", L"http:",
                           L"http:\\\\", L"http:/\\/", L"https:///", L" \x01http://", L"\thttp://"};
const Strings kUsers = {L"", L"", L"", L"user@", L"u:p@", L"evil.test\\@", L"a@b@", L"@", L":@"};
const Strings kHosts = {L"evil.test", L"antiphish.ostrel.example", L"www.Example.COM",
                        L"a-b.c_d.test", L"b\u00fccher.example", L"evil\u3002test",
                        L"fa\u00df.example",
                        L"\uff45\uff56\uff49\uff4c\uff0e\uff54\uff45\uff53\uff54",
                        L"xn--bcher-kva.example", L"\u4f8b\u3048.\u30c6\u30b9\u30c8", L"a..b",
                        L"\u00e9vil.test.", L"%65vil.test", L"ev%49l.test", L"\u00adevil.test",
                        L"\ufeffevil.test", L"\u2603.example", L"\u0661\u0662.example",
                        L"evil.test..", L"1.2.3.4.5", L"foo.0x10", L"0x", L"[::1]"};
const Strings kPorts = {L"", L"", L":80", L":443", L":8080", L":0080", L":", L":65536", L":8x"};
const Strings kRests = {L"", L"/", L"/login", L"\\x\\y", L"?q=a@b", L"#f\\g", L"/a/../b"};
const Strings kInserts = {L"\t", L"\n", L"\r", L"\\", L".", L"@", L":", L"%00", L"%2e", L"%25",
                          L"7", L"0x", L"\u00ad", L"\u3002", L"\uff0e", L"\u00df", L"\u200d",
                          L"\ufeff", L"\u00e9", L"\u2488", L"\u0661", L"\U0001d400", L" "};

struct Random {
  std::mt19937 rng;  // its sequence is fixed by the standard: the cases are the same everywhere
  std::size_t Below(std::size_t n) { return n ? rng() % n : 0; }
  const std::wstring& Pick(const Strings& v) { return v[Below(v.size())]; }
  // v in decimal, "0x" hex or "0" octal.
  std::wstring Number(unsigned long v) {
    wchar_t text[24];
    std::swprintf(text, 24, Below(3) == 0 ? L"0x%lx" : Below(2) ? L"%lu" : L"0%lo", v);
    return text;
  }
  // An IPv4 address in one to four parts, or an IPv6 one with a zero run as "::".
  std::wstring Address() {
    const unsigned long v = rng();
    std::wstring out;
    if (Below(2)) {
      const std::size_t parts = 1 + Below(4);
      for (std::size_t i = 0; i + 1 < parts; ++i) out += Number((v >> (24 - 8 * i)) & 0xFF) + L".";
      return out + Number(v & ((1ul << (8 * (5 - parts))) - 1));
    }
    for (std::size_t i = 0, cut = Below(8); i < 8; ++i) {
      wchar_t piece[8];
      std::swprintf(piece, 8, Below(2) ? L"%x" : L"%04X", Below(2) ? 0u : rng() % 65536);
      out += i == cut ? L"::" : (i && i != cut + 1 ? L":" : L"") + std::wstring(piece);
    }
    return L"[" + out + L"]";
  }
  std::wstring Mutate(std::wstring s) {
    for (std::size_t n = Below(4); n > 0; --n) {
      const std::size_t at = Below(s.size() + 1);
      const wchar_t c = at < s.size() ? s[at] : 0;
      if (Below(4) || c <= 0x20 || c >= 0x7F || c == L'%') {
        s.insert(at, Pick(kInserts));
      } else {  // percent-encoded, full-width or case-swapped
        wchar_t hex[4];
        std::swprintf(hex, 4, L"%%%02X", static_cast<unsigned>(c));
        const Strings forms = {hex, std::wstring(1, c + 0xFEE0),
                               std::wstring(1, std::isalpha(c) ? c ^ 0x20 : c)};
        s.replace(at, 1, Pick(forms));
      }
    }
    return s;
  }
};

// Texts as a JSON array, every code unit outside printable ASCII escaped.
std::string Json(const Strings& texts) {
  std::string out;
  char unit[16];
  for (const std::wstring& text : texts) {
    out += out.empty() ? "[\"" : ",\"";
    for (wchar_t c : text) {
      if (c > 0xFFFF)  // as a surrogate pair
        for (unsigned u : {0xD800 + ((c - 0x10000) >> 10), 0xDC00 + ((c - 0x10000) & 0x3FF)})
          out += (std::snprintf(unit, sizeof unit, "\\u%04x", u), unit);
      else if (c < 0x20 || c >= 0x7F || c == L'"' || c == L'\\')
        out += (std::snprintf(unit, sizeof unit, "\\u%04x", static_cast<unsigned>(c)), unit);
      else
        out += static_cast<char>(c);
    }
    out += "\"";
  }
  return out + "]";
}

}  // namespace

TEST(UriDifferentialTest, OurHostIsTheHostABrowserContacts) {
  if (std::system("node --version > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "SKIPPED LOUDLY: node is not installed, so no host was compared";
  Random r{std::mt19937(20240607)};
  Strings addresses;
  for (const auto& host : kHosts) addresses.push_back(L"http://" + host + L"/");
  while (addresses.size() < 6000) {
    const std::wstring host = r.Below(4) ? r.Pick(kHosts) : r.Address();
    addresses.push_back(
        r.Mutate(r.Pick(kPrefixes) + r.Pick(kUsers) + host + r.Pick(kPorts) + r.Pick(kRests)));
  }
  const std::filesystem::path input = std::filesystem::temp_directory_path() / "addresses.json";
  std::ofstream(input) << Json(addresses);
  const std::string script = std::filesystem::path(OSTREL_TEST_SOURCE_DIR) / "UrlOracle.js";
  FILE* node = popen(("node '" + script + "' '" + input.string() + "'").c_str(), "r");
  ASSERT_NE(node, nullptr);
  std::vector<std::string> lines;
  for (char line[4096]; std::fgets(line, sizeof line, node);)
    lines.emplace_back(line, std::strcspn(line, "\n"));
  ASSERT_EQ(pclose(node), 0);
  ASSERT_EQ(lines.size(), addresses.size());

  int accepted = 0, mismatches = 0;
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    std::istringstream fields(lines[i]);  // accepted, http, protocol, hostname, port
    std::string ok, http, protocol, hostname, port;
    fields >> ok >> http >> protocol >> hostname >> port;
    const CUri uri(addresses[i]);
    const std::wstring host = uri.GetHost(), subject = uri.GetSchemelessUri();
    bool agrees = http != "1" || uri.HasHttpScheme();  // refused or not, it is scanned
    if (ok == "1" && (protocol == "http:" || protocol == "https:")) {
      ++accepted;
      std::wstring prefix(hostname.begin(), hostname.end());
      agrees = agrees && host == prefix;
      while (prefix.size() > 1 && prefix.back() == L'.') prefix.pop_back();
      prefix += (port.empty() ? L"" : L":" + std::wstring(port.begin(), port.end())) + L"/";
      agrees = agrees && subject.rfind(prefix, 0) == 0;
    }
    if (!agrees && ++mismatches <= 20)
      ADD_FAILURE() << "address #" << i << " " << Json({addresses[i]}) << ": node says " << lines[i]
                    << "; our host and subject " << Json({host, subject});
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(accepted, 2000);  // most of the batch is accepted, so hosts are compared
}
