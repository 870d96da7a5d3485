// Test helpers for phish databases: plain text to an enciphered container,
// containers as the one-character-per-byte streams the list reads, and the
// local database file named by the settings.
#pragma once

#include <gtest/gtest.h>

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

// The local database file of the running test, named in the settings: one
// per test, so a file an earlier test left behind in the same process
// cannot change another's outcome.
inline std::string LocalDatabasePath() {
  const auto* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "local";
  for (char& c : name)
    if (c == '/') c = '_';
  return TestRoot() + "/tmp/" + name + ".dat";
}

inline void UseLocalDatabase(const std::string& path = LocalDatabasePath()) {
  CSettings::SetDBFileName(platform::FromUtf8(path));
}

inline bool WriteLocalDatabase(const std::string& plain) {
  UseLocalDatabase();
  return WriteFileBytes(LocalDatabasePath(), Container(plain));
}

}  // namespace ostrel::test
