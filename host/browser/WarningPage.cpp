#include "browser/WarningPage.h"

#include "platform/Utf8.h"

namespace ostrel::host {

namespace {

int Hex(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

}  // namespace

std::wstring PercentDecode(const std::wstring& value) {
  std::string bytes;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == L'%' && i + 2 < value.size() && Hex(value[i + 1]) >= 0 &&
        Hex(value[i + 2]) >= 0) {
      bytes += static_cast<char>(Hex(value[i + 1]) << 4 | Hex(value[i + 2]));
      i += 2;
    } else {
      bytes += platform::ToUtf8(std::wstring(1, value[i]));
    }
  }
  return platform::FromUtf8(bytes);
}

std::optional<WarningPage> ParseWarningPage(const std::wstring& address) {
  const std::size_t question = address.find(L'?');
  if (question == std::wstring::npos) return std::nullopt;
  const std::size_t hash = address.find(L'#', question);
  const std::wstring query = address.substr(
      question + 1, hash == std::wstring::npos ? std::wstring::npos : hash - question - 1);
  std::optional<std::wstring> var1, var2, var3, var4;
  for (std::size_t start = 0; start <= query.size();) {
    std::size_t end = query.find(L'&', start);
    if (end == std::wstring::npos) end = query.size();
    const std::wstring field = query.substr(start, end - start);
    const std::size_t equals = field.find(L'=');
    const std::wstring name = field.substr(0, equals);
    const std::wstring value = equals == std::wstring::npos ? L"" : field.substr(equals + 1);
    if (name == L"var1") var1 = value;
    if (name == L"var2") var2 = value;
    if (name == L"var3") var3 = PercentDecode(value);
    if (name == L"var4") var4 = PercentDecode(value);
    start = end + 1;
  }
  if (var1 != L"ZORTBHO" || !var2 || (*var2 != L"grey" && *var2 != L"black") || !var3)
    return std::nullopt;
  return WarningPage{*var2, *var3, var4};
}

std::optional<std::wstring> ContinueAddress(const WarningPage& page) {
  // As the page's script decides: only an http or https address, and only
  // a key of hexadecimal digits in parentheses, make a link.
  const std::wstring& key = page.key ? *page.key : std::wstring();
  bool wellFormed = key.size() > 2 && key.front() == L'(' && key.back() == L')';
  for (std::size_t i = 1; wellFormed && i + 1 < key.size(); ++i) wellFormed = Hex(key[i]) >= 0;
  std::wstring scheme = page.blocked.substr(0, page.blocked.find(L':') + 1);
  for (wchar_t& c : scheme) c = (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c;
  const bool web = (scheme == L"http:" || scheme == L"https:") &&
                   page.blocked.compare(scheme.size(), 2, L"//") == 0;
  if (!wellFormed || !web) return std::nullopt;
  return page.blocked + key;
}

}  // namespace ostrel::host
