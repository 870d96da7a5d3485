// Test helpers for phish databases: plain text to an enciphered container,
// containers as the one-character-per-byte streams the list reads, and the
// local database file named by the settings, with its mutex.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>

#include "common/TestEnv.h"
#include "platform/Utf8.h"
#include "settings/Settings.h"
#include "support/KernelObjects.h"
#include "update/Cipher.h"
#include "update/LocalDB.h"

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

// The rest of an open local database, one byte per character.
inline std::string ReadAll(CLocalDB& db) {
  std::string bytes;
  for (wchar_t c; db.GetStream().get(c);) bytes += static_cast<char>(c & 0xFF);
  return bytes;
}

// Whether another thread could take the local database's mutex at once (a
// mutex is its owning thread's; a thread rather than a child process,
// because a list under test may run its update thread, and forking beside
// a running thread can leave the child stuck on a lock that thread held).
inline bool LocalDBMutexFreeForAnotherThread() {
  DWORD result = WAIT_FAILED;
  std::thread([&result] {
    CMutex mutex(false, L"_OSTREL_ANTIPHISH_BHO_LOCAL_DB_MUTEX", true);
    result = mutex.Lock(0);
    if (result == WAIT_OBJECT_0) mutex.Unlock();
  }).join();
  return result == WAIT_OBJECT_0;
}

}  // namespace ostrel::test
