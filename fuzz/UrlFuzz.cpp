// The URL cracker and canonicaliser, and every form and key of CUri built
// on them, over arbitrary text. The first half of the input is the address;
// the rest is a second address to compare sites with. Cracking into buffers
// both ample and small exercises the size checks.
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "common/FuzzInput.h"
#include "uri/Uri.h"
#include "platform/WinInet.h"

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
  // A click-through address built from this one verifies and comes back as it was.
  if (uri.HasHttpScheme() && !uri.GetHashKey().empty()) {
    const CUri back(uri.GetUri() + uri.GetHashKeyMarker());
    (void)back.HasValidHashKey();
  }
  (void)CUri::Canonicalise(url, true, true);
  (void)CUri::Canonicalise(url, false, false);
  (void)CUri::PercentEncode(url);
  (void)CUri::MakeBare(url);
  (void)CUri::GenerateHash(CUri::MakeHashInput(url));
  return 0;
}
