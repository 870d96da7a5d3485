// Test helpers for phish databases: plain text to an enciphered container,
// containers as the one-character-per-byte streams the list reads, and the
// local database file named by the settings.
#pragma once

#include <sstream>
#include <string>

#include "common/TestEnv.h"
#include "platform/Utf8.h"
#include "settings/Settings.h"
#include "update/Cipher.h"

namespace ostrel::test {

inline std::string Container(const std::string& plain) { return CEncrypt(plain).GetResult(); }

// One character per byte, as a file or download stream yields them.
inline std::wstring Widen(const std::string& bytes) {
  std::wstring wide;
  wide.reserve(bytes.size());
  for (char b : bytes) wide += static_cast<wchar_t>(static_cast<unsigned char>(b));
  return wide;
}

inline std::wistringstream ContainerStream(const std::string& plain) {
  return std::wistringstream(Widen(Container(plain)));
}

// The local database file of this test process, named in the settings.
inline std::string LocalDatabasePath() { return TestRoot() + "/tmp/local.dat"; }

inline void UseLocalDatabase(const std::string& path = LocalDatabasePath()) {
  CSettings::SetDBFileName(platform::FromUtf8(path));
}

inline bool WriteLocalDatabase(const std::string& plain) {
  UseLocalDatabase();
  return WriteFileBytes(LocalDatabasePath(), Container(plain));
}

}  // namespace ostrel::test
