#include "platform/ObjBase.h"

#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cwchar>

#include "platform/Testing.h"

namespace {
std::atomic<bool> g_guidCreationFails{false};
}

namespace ostrel::platform::testing {
void SetGuidCreationFails(bool fails) { g_guidCreationFails = fails; }
}  // namespace ostrel::platform::testing

HRESULT CoCreateGuid(GUID* pguid) {
  if (!pguid) return E_INVALIDARG;
  if (g_guidCreationFails) return E_FAIL;
  unsigned char bytes[16];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return E_FAIL;
    }
    got += static_cast<std::size_t>(n);
  }
  GUID g;
  g.Data1 = static_cast<DWORD>(bytes[0]) << 24 | static_cast<DWORD>(bytes[1]) << 16 |
            static_cast<DWORD>(bytes[2]) << 8 | bytes[3];
  g.Data2 = static_cast<WORD>(bytes[4] << 8 | bytes[5]);
  g.Data3 = static_cast<WORD>(((bytes[6] << 8 | bytes[7]) & 0x0FFF) | 0x4000);  // version 4
  for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
  g.Data4[0] = static_cast<BYTE>((g.Data4[0] & 0x3F) | 0x80);  // RFC 4122 variant
  *pguid = g;
  return S_OK;
}

int StringFromGUID2(REFGUID g, LPOLESTR lpsz, int cchMax) {
  constexpr int kLength = 39;  // 38 characters and the terminator
  if (!lpsz || cchMax < kLength) return 0;
  std::swprintf(lpsz, static_cast<std::size_t>(cchMax),
                L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
  return kLength;
}

namespace {

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Reads `digits` hexadecimal digits at text; false at anything else.
bool ReadHex(const wchar_t* text, int digits, unsigned long* value) {
  unsigned long v = 0;
  for (int i = 0; i < digits; ++i) {
    const int d = HexDigit(text[i]);
    if (d < 0) return false;
    v = v << 4 | static_cast<unsigned long>(d);
  }
  *value = v;
  return true;
}

}  // namespace

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (!pclsid) return E_INVALIDARG;
  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": the layout is checked first,
  // so a short string is never read past its terminator.
  static const wchar_t kLayout[] = L"{........-....-....-....-............}";
  if (!lpsz) return CO_E_CLASSSTRING;
  for (int i = 0; i < 38; ++i) {
    if (lpsz[i] == L'\0') return CO_E_CLASSSTRING;
    if (kLayout[i] != L'.' ? lpsz[i] != kLayout[i] : HexDigit(lpsz[i]) < 0)
      return CO_E_CLASSSTRING;
  }
  if (lpsz[38] != L'\0') return CO_E_CLASSSTRING;
  unsigned long v = 0;
  GUID g;
  ReadHex(lpsz + 1, 8, &v);
  g.Data1 = static_cast<DWORD>(v);
  ReadHex(lpsz + 10, 4, &v);
  g.Data2 = static_cast<WORD>(v);
  ReadHex(lpsz + 15, 4, &v);
  g.Data3 = static_cast<WORD>(v);
  static const int kBytes[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    ReadHex(lpsz + kBytes[i], 2, &v);
    g.Data4[i] = static_cast<BYTE>(v);
  }
  *pclsid = g;
  return S_OK;
}

HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid) { return CLSIDFromString(lpsz, lpiid); }
