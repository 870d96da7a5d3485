// The update site the hosts' end-to-end tests browse against: the warning
// pages and a list served by ostrel-serve on 127.0.0.1, with the filter's
// settings pointing at it and its own local database. The list, unless a
// test serves its own (the entries' plain text, one a line):
//   black  the warning pages' own server (were the pages scanned, every
//          warning would send the window on again)
//   grey   grey.localhost and every name under it
//   black  evil.localhost and every name under it
// Lives for one test; the server stops with it.
#pragma once

#include <filesystem>
#include <string>

#include "common/Database.h"
#include "common/TestEnv.h"
#include "host/Programs.h"
#include "platform/Utf8.h"
#include "settings/Settings.h"

namespace ostrel::test {

class FilterSite {
 public:
  static constexpr char kList[] =
      "b ^127\\.0\\.0\\.1(:|/)\n"
      "g ^([a-z]+\\.)*grey\\.localhost(:|/|$)\n"
      "b ^([a-z]+\\.)*evil\\.localhost(:|/|$)\n";

  explicit FilterSite(const std::string& list = kList)
      : m_server(Prepare(TestRoot() + "/site", list)) {
    const std::string& base = m_server.Base();
    if (base.empty()) return;
    m_port = base.substr(std::string("http://127.0.0.1:").size());
    m_port.pop_back();
    const std::wstring wide = ostrel::platform::FromUtf8(base);
    CSettings::SetMDRemoteUri(wide + L"md?");
    CSettings::SetDBRemoteUpdUri(wide + L"db?");
    CSettings::SetGreyRedirectUri(wide + L"grey.html");
    CSettings::SetBlackRedirectUri(wide + L"black.html");
    UseLocalDatabase();
  }

  // "http://127.0.0.1:PORT/", empty when the server did not start.
  const std::string& Base() const { return m_server.Base(); }
  // An address on the served port under NAME.localhost.
  std::string Site(const std::string& name, const std::string& path = "/") const {
    return "http://" + name + ".localhost:" + m_port + path;
  }

 private:
  static std::string Prepare(const std::string& folder, const std::string& list) {
    namespace fs = std::filesystem;
    fs::create_directories(folder);
    for (const char* page : {"grey.html", "black.html", "warning.js", "index.html"})
      fs::copy_file(fs::path(OSTREL_WEB_DIR) / page, fs::path(folder) / page,
                    fs::copy_options::overwrite_existing);
    const bool written =
        WriteFileBytes(folder + "/db", Container(list)) &&
        WriteFileBytes(folder + "/md", Container("DB_VERSION=1\n"));
    return written ? folder : std::string();  // ostrel-serve refuses an empty folder name
  }

  StaticServer m_server;
  std::string m_port;
};

}  // namespace ostrel::test
