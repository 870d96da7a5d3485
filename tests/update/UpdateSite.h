// An update server for the update and publisher tests: a TestHttpServer
// that the settings point at (metadata at /md, database at /db), with the
// settings, the local database file and the last download of this
// process cleared first, so every test starts as a new installation
// whatever ran before it.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "common/Database.h"
#include "common/HttpServer.h"
#include "platform/Testing.h"
#include "platform/WinReg.h"
#include "settings/Settings.h"
#include "update/AutoUpdate.h"

namespace ostrel::test {

struct UpdateSite {
  TestHttpServer server;
  UpdateSite() {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Ostrel\\AntiPhish");
    std::remove(LocalDatabasePath().c_str());
    CSettings::SetBHOVersion(CSettings::BuildNumber);  // not a first run: no reset
    CSettings::SetMDRemoteUri(server.WideUrl("/md"));
    CSettings::SetDBRemoteUpdUri(server.WideUrl("/db"));
    UseLocalDatabase();
    ForgetThisProcessDownload();
  }
  // Serves plain text enciphered, as the publisher does.
  void Publish(const std::string& plain, const std::string& path = "/md") {
    server.Serve(path, Container(plain));
  }
};

// Makes the shell's "open" run this script body, the address as $1.
inline void UseOpener(const std::string& body) {
  const std::string script = TestRoot() + "/opener.sh";
  WriteFileBytes(script, "#!/bin/sh\n" + body);
  chmod(script.c_str(), 0700);
  platform::testing::SetShellOpenCommand(script);
}

}  // namespace ostrel::test
