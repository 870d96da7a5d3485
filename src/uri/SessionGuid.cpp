#include "uri/SessionGuid.h"

#include <cwchar>

namespace {

struct SessionGuid {
  bool created;
  GUID guid;
};

// Created once, at the first request; a function-local static makes creation
// and the created flag one step for every thread.
const SessionGuid& Session() {
  static const SessionGuid session = [] {
    SessionGuid s{false, GUID{}};
    s.created = SUCCEEDED(CoCreateGuid(&s.guid));
    return s;
  }();
  return session;
}

}  // namespace

const wchar_t* const CSessionGuid::FallbackGuidText = L"{6f3c2a91-0d5e-4b7a-9c18-e2f4a7b30d56}";

CSessionGuid::~CSessionGuid() = default;

std::wstring CSessionGuid::GetGuidText() {
  const SessionGuid& session = Session();
  return session.created ? FormatGuid(session.guid) : std::wstring(FallbackGuidText);
}

std::wstring CSessionGuid::FormatGuid(const GUID& guid) {
  wchar_t buffer[256] = {};
  if (StringFromGUID2(guid, buffer, 255) == 0) std::wcsncpy(buffer, FallbackGuidText, 255);
  // From the last character to the first: upper-case, and number the
  // punctuation "0", "1", ... so the text is all hexadecimal digits.
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::size_t next = 0;
  for (std::size_t i = std::wcslen(buffer); i-- > 0;) {
    wchar_t& c = buffer[i];
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    if ((c == L'{' || c == L'}' || c == L'-') && next < 16) c = kDigits[next++];
  }
  return buffer;
}

std::wstring CSessionGuid::TextGuidText(const std::wstring& s) { return s + GetGuidText() + s; }

std::wstring CSessionGuid::GuidTextGuid(const std::wstring& s) {
  const std::wstring guid = GetGuidText();
  return guid + s + guid;
}
