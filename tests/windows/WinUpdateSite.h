// An update server for the Windows update tests: a LoopbackHttpServer the
// filter's settings point at (metadata at /md, database at /db), with a
// local database file of the test's own in the temporary folder and this
// process's last download forgotten, so every test starts as a fresh
// installation. Child roles (WinTestEnv.h) inherit the settings, so lists
// in other processes use the same server and file. Used by the test's
// thread; the server itself is thread-safe.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "phishlist/PhishList.h"
#include "settings/Settings.h"
#include "update/AutoUpdate.h"
#include "update/Cipher.h"
#include "windows/LoopbackHttpServer.h"

namespace ostrel::test {

// Plain list text enciphered, as the publisher serves it.
inline std::string Container(const std::string& plain) { return CEncrypt(plain).GetResult(); }

// Polls condition every 20 ms until it holds or timeoutMs pass.
inline bool Eventually(const std::function<bool()>& condition, int timeoutMs = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

inline long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

inline std::string ReadFileBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  return static_cast<bool>(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
}

inline bool IsBlack(CPhishList& list, const wchar_t* url) {
  return list.LookUp(CUri(url)) == LIST_KIND_BLACK;
}

struct WinUpdateSite {
  static constexpr LONGLONG kOldUpdate = 20000101000000;

  LoopbackHttpServer server;
  std::wstring localFile;

  WinUpdateSite() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    localFile = std::wstring(folder, length) + L"local-" +
                std::wstring(test->name(), test->name() + std::strlen(test->name())) + L".dat";
    DeleteFileW(localFile.c_str());
    CSettings::SetBHOVersion(CSettings::BuildNumber);  // not a first run: no reset
    CSettings::SetMDRemoteUri(server.Url("/md"));
    CSettings::SetDBRemoteUpdUri(server.Url("/db"));
    CSettings::SetDBFileName(localFile);
    ForgetThisProcessDownload();
  }

  void Publish(const std::string& plain, const std::string& path = "/md") {
    server.Serve(path, Container(plain));
  }

  // Version 1 of the database installed (plain as its list), recorded long
  // ago and loaded at a list's creation.
  bool InstallVersionOne(const std::string& plain) {
    CSettings::SetPDBUN(1);
    CSettings::SetTTNUP(-1);
    CSettings::SetLSTUD(kOldUpdate);
    CSettings::SetDBLoadOnDemand(0);
    return WriteFileBytes(localFile, Container(plain));
  }
};

}  // namespace ostrel::test
