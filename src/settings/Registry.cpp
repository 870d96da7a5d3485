#include "settings/Registry.h"

#include <cstring>
#include <memory>

#include "platform/Utf16.h"
#include "support/Exception.h"
#include "support/KernelObjects.h"
#include "support/Trace.h"

namespace {

constexpr std::size_t kReadBufferSize = 131072;

// The read buffer, one per thread and reused: allocating and freeing 128 KiB
// on every read can make the heap give memory back and take it again.
BYTE* ReadBuffer() {
  thread_local std::unique_ptr<BYTE[]> buffer(new BYTE[kReadBufferSize]);
  return buffer.get();
}

[[noreturn]] void RaiseAccessError() { CException::Raise(L"Registry access exception", 0); }

// Runs one operation on the opened key under the registry mutex; false when
// the mutex cannot be had, the key cannot be opened or the operation fails.
template <typename Operation>
bool WithKey(HKEY root, const std::wstring& key, Operation operation) {
  CMutex* mutex = nullptr;
  try {
    mutex = &CRegistry::RegistryMutex();
  } catch (const CException&) {
    return false;
  }
  CMutexLock lock(*mutex);
  const HKEY opened = CRegistry::OpenKey(root, key);
  if (!opened) return false;
  const bool done = operation(opened);
  CRegistry::CloseKey(opened);
  return done;
}

}  // namespace

CRegistry::~CRegistry() = default;

CMutex& CRegistry::RegistryMutex() {
  static CMutex mutex(FALSE, L"_OSTREL_ANTIPHISH_BHO_REGISTRY_ACCESS_MUTEX", TRUE, nullptr);
  return mutex;
}

HKEY CRegistry::OpenKey(HKEY root, const std::wstring& key) {
  HKEY opened = nullptr;
  DWORD disposition = 0;
  wchar_t noClass[] = L"";
  if (RegCreateKeyExW(root, key.c_str(), 0, noClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &opened, &disposition) != ERROR_SUCCESS)
    return nullptr;
  return opened;
}

void CRegistry::CloseKey(HKEY key) { RegCloseKey(key); }

bool CRegistry::SetValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type,
                         const BYTE* data, DWORD size) {
  return WithKey(root, key, [&](HKEY opened) {
    return RegSetValueExW(opened, name.c_str(), 0, type, data, size) == ERROR_SUCCESS;
  });
}

bool CRegistry::QueryValue(HKEY root, const std::wstring& key, const std::wstring& name,
                           DWORD* type, BYTE* data, DWORD* size) {
  return WithKey(root, key, [&](HKEY opened) {
    return RegQueryValueExW(opened, name.c_str(), nullptr, type, data, size) == ERROR_SUCCESS;
  });
}

void CRegistry::WriteString(const std::wstring& value, const std::wstring& name,
                            const std::wstring& key, HKEY root) {
  const std::string bytes = ostrel::platform::ToUtf16Le(value);
  if (bytes.size() > 0xFFFFFFFFu ||
      !SetValue(root, key, name, REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                static_cast<DWORD>(bytes.size())))
    RaiseAccessError();
}

void CRegistry::WriteDword(DWORD value, const std::wstring& name, const std::wstring& key,
                           HKEY root) {
  const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                         static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
  if (!SetValue(root, key, name, REG_DWORD, bytes, sizeof bytes)) RaiseAccessError();
}

std::wstring CRegistry::ReadString(const std::wstring& name, const std::wstring& key, HKEY root) {
  // The zero fill ends data stored without a terminator. Beyond the read
  // limit there is room for one unit more, which only a terminator may fill:
  // Windows stores one the writer did not count after a value, so a value
  // of the full length must still read.
  // Only the bytes after the data are zeroed (the buffer is 128 KiB; a
  // read writes no further than the size it reports).
  BYTE* buffer = ReadBuffer();
  DWORD type = REG_SZ;
  DWORD size = ReadLimit + 2;
  if (!QueryValue(root, key, name, &type, buffer, &size) || size > ReadLimit + 2)
    RaiseAccessError();
  std::memset(buffer + size, 0, 4);
  if (size > ReadLimit && (buffer[ReadLimit - 1] != 0 || buffer[ReadLimit] != 0))
    RaiseAccessError();  // longer than the limit
  std::size_t units = 0;
  while (buffer[2 * units] != 0 || buffer[2 * units + 1] != 0) ++units;
  const std::wstring result = ostrel::platform::FromUtf16Le(buffer, 2 * units);
  TraceMessage(L"Read registry value '%s' = '%s'\r\n", name.c_str(), result.c_str());
  return result;
}

DWORD CRegistry::ReadDword(const std::wstring& name, const std::wstring& key, HKEY root) {
  BYTE* buffer = ReadBuffer();
  std::memset(buffer, 0, 4);  // a shorter value reads as its bytes, then zeros
  DWORD type = REG_DWORD;
  DWORD size = ReadLimit;
  if (!QueryValue(root, key, name, &type, buffer, &size)) RaiseAccessError();
  const DWORD value = static_cast<DWORD>(buffer[0]) | static_cast<DWORD>(buffer[1]) << 8 |
                      static_cast<DWORD>(buffer[2]) << 16 | static_cast<DWORD>(buffer[3]) << 24;
  TraceMessage(L"Read registry value '%s' = '%lu'\r\n", name.c_str(), value);
  return value;
}
