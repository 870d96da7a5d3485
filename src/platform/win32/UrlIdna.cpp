// Windows: IDNA of one host label by the system's IdnToAscii and
// IdnToUnicode, lower-cased as browsers write hosts. An A-label ("xn--")
// stays as written only when it decodes to a name that maps to it again
// (or to plain ASCII, as browsers allow); otherwise the host is refused, as
// a browser refuses it. Where the system's mapping is stricter than a
// browser's, the host is refused too, and the filter then treats the
// address as no http address, as for any host a browser would not contact.
#include "platform/UrlHost.h"
#include "platform/WinTypes.h"

namespace ostrel::platform {
namespace {

using Convert = int(WINAPI*)(DWORD, LPCWSTR, int, LPWSTR, int);

bool Apply(Convert convert, const std::wstring& text, std::wstring* out) {
  const int length = static_cast<int>(text.size());
  const int needed = convert(IDN_ALLOW_UNASSIGNED, text.data(), length, nullptr, 0);
  if (needed <= 0) return false;
  out->assign(static_cast<std::size_t>(needed), L'\0');
  return convert(IDN_ALLOW_UNASSIGNED, text.data(), length, out->data(), needed) == needed;
}

void Lower(std::wstring* text) {
  for (wchar_t& c : *text)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
}

bool IsAscii(const std::wstring& text) {
  for (wchar_t c : text)
    if (c >= 0x80) return false;
  return true;
}

}  // namespace

bool LabelToAscii(const std::wstring& label, std::wstring* ascii) {
  if (label.empty()) {
    ascii->clear();
    return true;
  }
  if (!Apply(IdnToAscii, label, ascii)) return false;
  Lower(ascii);
  if (ascii->rfind(L"xn--", 0) != 0 || !IsAscii(label)) return true;
  std::wstring name, again;
  if (!Apply(IdnToUnicode, *ascii, &name) || name.empty() || name == *ascii) return false;
  if (IsAscii(name)) return true;
  return Apply(IdnToAscii, name, &again) && (Lower(&again), again == *ascii);
}

}  // namespace ostrel::platform
