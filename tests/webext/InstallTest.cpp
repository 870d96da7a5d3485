// ostrel-webext-install: the manifest lands where the browser reads it
// (Chromium: a profile folder, or the user's configuration folder; Firefox:
// ~/.mozilla/native-messaging-hosts), names the host beside the installer
// and the filter's extension as the only one allowed (Chromium's origin,
// Firefox's add-on id), is replaced whole on a second run and removed by
// --uninstall; without the host program beside it, nothing is written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "common/TestEnv.h"

using namespace ostrel::test;
namespace fs = std::filesystem;

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

TEST(WebExtInstall, WritesReplacesAndRemovesTheManifest) {
  const fs::path profile = TestRoot() + "/profile";
  const fs::path user = fs::path(std::getenv("XDG_CONFIG_HOME")) / "chromium";
  const fs::path mozilla = fs::path(std::getenv("HOME")) / ".mozilla";
  const nlohmann::json chromium = {
      {"allowed_origins", {"chrome-extension://kkbbcamifbbpgpliadehmfpboejmedcg/"}}};
  const nlohmann::json firefox = {{"allowed_extensions", {"antiphish@ostrel.org"}}};
  struct Case {
    std::vector<std::string> args;
    fs::path folder;
    nlohmann::json allowed;  // the manifest's one field naming who may start the host
  };
  const Case cases[] = {
      {{"--user-data-dir", profile.string()}, profile / "NativeMessagingHosts", chromium},
      {{}, user / "NativeMessagingHosts", chromium},
      {{"--browser", "chromium"}, user / "NativeMessagingHosts", chromium},
      {{"--browser=firefox"}, mozilla / "native-messaging-hosts", firefox},
  };
  for (const Case& c : cases) {
    const fs::path file = c.folder / "org.ostrel.antiphish.json";
    ProgramRun run = RunProgram(OSTREL_WEBEXT_INSTALL, c.args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "installed " + file.string())) << run.out;
    const nlohmann::json manifest = nlohmann::json::parse(ReadFileBytes(file), nullptr, false);
    ASSERT_TRUE(manifest.is_object()) << file;
    EXPECT_EQ(manifest.value("name", ""), "org.ostrel.antiphish");
    EXPECT_EQ(manifest.value("type", ""), "stdio");
    EXPECT_EQ(fs::path(manifest.value("path", "")), fs::canonical(OSTREL_WEBEXT_HOST));
    const std::string field = c.allowed.begin().key();
    EXPECT_EQ(manifest[field], c.allowed[field]) << manifest.dump();
    EXPECT_EQ(manifest.size(), 5u) << "name, description, path, type and " << field;
    const std::string browser = field == "allowed_extensions" ? "firefox" : "chromium";
    EXPECT_TRUE(Contains(run.out, (fs::path(OSTREL_WEBEXT_INSTALL).parent_path() /
                                   (browser + "-extension")).string()))
        << "names the extension folder the build put beside it: " << run.out;

    WriteFileBytes(file.string(), "{\"name\":\"stale");
    run = RunProgram(OSTREL_WEBEXT_INSTALL, c.args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "replaced " + file.string())) << run.out;
    EXPECT_TRUE(nlohmann::json::parse(ReadFileBytes(file), nullptr, false).is_object());
    EXPECT_EQ(std::distance(fs::directory_iterator(c.folder), fs::directory_iterator()), 1)
        << "nothing left beside the manifest";

    std::vector<std::string> remove = c.args;
    remove.push_back("--uninstall");
    run = RunProgram(OSTREL_WEBEXT_INSTALL, remove);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "removed " + file.string())) << run.out;
    EXPECT_FALSE(fs::exists(file));
    run = RunProgram(OSTREL_WEBEXT_INSTALL, remove);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "nothing to remove")) << run.out;
  }
}

TEST(WebExtInstall, RefusesWithoutTheHostOrWithAWrongCommandLine) {
  // The installer alone in a folder: no host beside it.
  const fs::path alone = TestRoot() + "/alone";
  fs::create_directories(alone);
  const fs::path installer = alone / "ostrel-webext-install";
  fs::copy_file(OSTREL_WEBEXT_INSTALL, installer);
  const fs::path profile = TestRoot() + "/profile";
  ProgramRun run = RunProgram(installer.string(), {"--user-data-dir", profile.string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(Contains(run.err, (alone / "ostrel-webext-host").string() + " is missing"))
      << run.err;
  EXPECT_FALSE(fs::exists(profile / "NativeMessagingHosts" / "org.ostrel.antiphish.json"));

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--user-data-dir"}, {"--bogus"}, {"extra"}, {"--browser"}}) {
    run = RunProgram(OSTREL_WEBEXT_INSTALL, args);
    EXPECT_EQ(run.status, 2) << args[0];
    EXPECT_TRUE(Contains(run.err, "usage:")) << run.err;
  }
  run = RunProgram(OSTREL_WEBEXT_INSTALL, {"--browser", "opera"});
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(Contains(run.err, "unknown browser opera")) << run.err;
  // Firefox reads the manifest per user only: a profile folder is refused,
  // not silently ignored.
  run = RunProgram(OSTREL_WEBEXT_INSTALL, {"--browser", "firefox", "--user-data-dir", profile.string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(Contains(run.err, "Firefox reads the host manifest per user")) << run.err;
  EXPECT_FALSE(fs::exists(fs::path(std::getenv("HOME")) / ".mozilla"));
}
