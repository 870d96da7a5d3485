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
