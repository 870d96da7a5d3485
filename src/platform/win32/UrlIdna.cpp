// Windows: IDNA of one host label by the system's IdnToAscii (UTS #46 on
// current Windows), lower-cased as browsers write hosts. Stricter than the
// browser-faithful mapping of the Linux build in a few corners (a label
// with a hyphen in the third and fourth places, over-long labels): such a
// host is refused, and the filter then treats the address as no http
// address, as for any host a browser would not contact.
#include "platform/UrlHost.h"
#include "platform/WinTypes.h"

namespace ostrel::platform {

bool LabelToAscii(const std::wstring& label, std::wstring* ascii) {
  if (label.empty()) {
    ascii->clear();
    return true;
  }
  const int length = static_cast<int>(label.size());
  const int needed = IdnToAscii(IDN_ALLOW_UNASSIGNED, label.data(), length, nullptr, 0);
  if (needed <= 0) return false;
  ascii->assign(static_cast<std::size_t>(needed), L'\0');
  if (IdnToAscii(IDN_ALLOW_UNASSIGNED, label.data(), length, ascii->data(), needed) != needed)
    return false;
  for (wchar_t& c : *ascii)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return true;
}

}  // namespace ostrel::platform
