// The URL cracker and canonicaliser, and every form and key of CUri built
// on them, over arbitrary text. The first line of the input is the address;
// the rest is a second address to compare sites with, and a key to try.
// Cracking into buffers both ample and small exercises the size checks.
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "common/FuzzInput.h"
#include "uri/Uri.h"
#include "platform/WinInet.h"
#include "support/StringCase.h"

namespace {

void Crack(const std::wstring& url, DWORD flags, DWORD room) {
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof(parts);
  const std::pair<LPWSTR*, DWORD*> fields[] = {
      {&parts.lpszScheme, &parts.dwSchemeLength},     {&parts.lpszHostName, &parts.dwHostNameLength},
      {&parts.lpszUserName, &parts.dwUserNameLength}, {&parts.lpszPassword, &parts.dwPasswordLength},
      {&parts.lpszUrlPath, &parts.dwUrlPathLength},   {&parts.lpszExtraInfo, &parts.dwExtraInfoLength}};
  std::vector<std::vector<wchar_t>> buffers(std::size(fields), std::vector<wchar_t>(room));
  for (std::size_t i = 0; i < std::size(fields); ++i) {
    *fields[i].first = buffers[i].data();
    *fields[i].second = room;
  }
  InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), flags, &parts);
}

void Canonicalize(const std::wstring& url, DWORD room) {
  std::vector<wchar_t> out(room + 1);
  DWORD length = room;
  if (!InternetCanonicalizeUrlW(url.c_str(), out.data(), &length, 0) && length > room) {
    out.resize(length + 1);
    InternetCanonicalizeUrlW(url.c_str(), out.data(), &length, 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring all = ostrel::fuzz::WideFromBytes(data, size);
  const std::wstring::size_type cut = all.find(L'\n');
  const std::wstring url = all.substr(0, cut);
  const std::wstring other = cut == std::wstring::npos ? L"http://a.test/" : all.substr(cut + 1);

  const DWORD ample = static_cast<DWORD>(url.size() + 1);
  Crack(url, 0, ample);
  Crack(url, ICU_DECODE, ample);
  Crack(url, 0, 4);
  Canonicalize(url, ample * 3);
  Canonicalize(url, 2);

  const CUri uri(url);
  (void)uri.GetUri();
  (void)uri.HasHttpScheme();
  (void)uri.GetSchemelessUri();
  (void)uri.GetPath();
  (void)uri.GetHost();
  (void)uri.GetBareUri();
  (void)uri.GetBareHost();
  (void)uri.GetHashKey();
  (void)uri.GetFoundHashKey();
  (void)uri.HasValidHashKey();
  (void)uri.IsSameSite(CUri(other));
  (void)uri.IsSameSite(other);
  // Click-through keys. This address's key, put back in a marker, verifies
  // wherever removing the marker leaves the host as it was, and the address
  // comes back without it; a marker the input wrote never verifies, as only
  // this process's secret makes keys.
  if (uri.HasHttpScheme()) {
    const std::wstring held = uri.GetUri();
    const std::wstring key = uri.GetHashKey();
    if (!key.empty() && (key.size() != 64 || key.find_first_not_of(L"0123456789abcdef") !=
                                                 std::wstring::npos))
      std::abort();
    std::wstring stripped = held;
    if (!stripped.empty() && stripped.back() == L'/') stripped.pop_back();
    const CUri back(held + uri.GetHashKeyMarker());
    if (!key.empty() && CUri::MakeHashInput(stripped) == CUri::MakeHashInput(held) &&
        (!back.HasValidHashKey() || back.GetUri() != stripped || back.GetHashKey() != key))
      std::abort();
    if (!key.empty() && !CUri::VerifyHash(CUri::MakeHashInput(held), key)) std::abort();

    const CUri forged(held + L"(" + other + L")");
    if (forged.HasValidHashKey() &&
        ToLowerAscii(other).find(forged.GetHashKey()) == std::wstring::npos)
      std::abort();
    // The input's last bytes, last first, as 64 hexadecimal digits: a
    // guess in the form of a real key.
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring guess;
    for (std::size_t i = 0; guess.size() < 64; ++i) {
      const unsigned byte = i < size ? data[size - 1 - i] : 0u;
      guess += kHex[byte >> 4];
      guess += kHex[byte & 0xF];
    }
    if (guess != key && CUri(held + L"(" + guess + L")").HasValidHashKey()) std::abort();
  }
  (void)CUri::Canonicalise(url, true, true);
  (void)CUri::Canonicalise(url, false, false);
  (void)CUri::PercentEncode(url);
  (void)CUri::MakeBare(url);
  (void)CUri::GenerateHash(CUri::MakeHashInput(url));
  return 0;
}
