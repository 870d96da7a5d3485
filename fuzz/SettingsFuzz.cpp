// Settings reads from a registry store holding arbitrary bytes: the input
// is stored, with a type taken from its first byte, as a string, a number
// and a time stamp setting, and their getters read it back. Each getter must
// give a value or its default, never a crash or an overrun.
#include <cstdint>
#include <string>

#include "platform/WinReg.h"
#include "settings/Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 200000) return 0;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Ostrel\\AntiPhish", 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return 0;
  // One value of each shape a getter reads: a string, a number, and a
  // 64-bit stamp kept as two numbers (each half of the input).
  const DWORD type = data[0] % 12;
  const BYTE* bytes = data + 1;
  const DWORD length = static_cast<DWORD>(size - 1);
  RegSetValueExW(key, L"GreyRedirectUri", 0, type, bytes, length);
  RegSetValueExW(key, L"PollInterval", 0, type, bytes, length);
  RegSetValueExW(key, L"TTNUPHI", 0, type, bytes, length / 2);
  RegSetValueExW(key, L"TTNUPLO", 0, type, bytes + length / 2, length - length / 2);
  RegCloseKey(key);

  (void)CSettings::GetGreyRedirectUri(CSettings::DefaultGreyRedirectUri);
  (void)CSettings::GetPollInterval(CSettings::DefaultPollInterval);
  (void)CSettings::GetPollIntervalMillis();
  (void)CSettings::GetTTNUP(CSettings::DefaultTTNUP);
  return 0;
}
