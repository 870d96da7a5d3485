// ostrel-webext-install: tells a browser where the filter's native
// messaging host is, by writing the host's manifest where the browser reads
// it. Chromium: per user ($XDG_CONFIG_HOME/chromium/NativeMessagingHosts/),
// or inside a given profile folder (DIR/NativeMessagingHosts/), naming the
// filter's extension as the only origin allowed to start the host.
// Firefox: per user (~/.mozilla/native-messaging-hosts/), naming the
// filter's add-on as the only one allowed. The manifest names
// ostrel-webext-host beside this program. --uninstall removes it.
//
// Exit status: 0 when done (also when there was nothing to remove), 1 when
// the file cannot be written or removed, 2 for a wrong command line or a
// missing host program.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>

#include <nlohmann/json.hpp>

#include "webext/HostName.h"

namespace fs = std::filesystem;
using namespace ostrel::webext;

namespace {

const char kUsage[] =
    "usage: ostrel-webext-install [--browser chromium|firefox] [--user-data-dir DIR] [--uninstall]\n"
    "  Installs the filter's native messaging host for a browser (chromium\n"
    "  unless named): writes org.ostrel.antiphish.json, naming\n"
    "  ostrel-webext-host beside this program, into the folder the browser\n"
    "  reads for the user: Chromium's $XDG_CONFIG_HOME/chromium/NativeMessagingHosts\n"
    "  (or ~/.config/chromium/NativeMessagingHosts), or with --user-data-dir\n"
    "  DIR/NativeMessagingHosts for that profile folder; Firefox's\n"
    "  ~/.mozilla/native-messaging-hosts.\n"
    "  --uninstall  removes the file again.\n"
    "  It prints the extension folder the build put beside it, to load in\n"
    "  the browser.\n";

int Fail(int status, const std::string& text) {
  std::cerr << "ostrel-webext-install: " << text << "\n";
  return status;
}

// The per-user folder the browser reads; empty when no home can be told.
fs::path UserFolder(bool firefox) {
  const char* home = std::getenv("HOME");
  if (firefox)
    return home && *home ? fs::path(home) / ".mozilla" / "native-messaging-hosts" : fs::path();
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config && fs::path(config).is_absolute())
    return fs::path(config) / "chromium" / "NativeMessagingHosts";
  if (home && *home) return fs::path(home) / ".config" / "chromium" / "NativeMessagingHosts";
  return {};
}

std::string Manifest(const fs::path& host, bool firefox) {
  nlohmann::json manifest = {
      {"name", kHostName},
      {"description", kHostDescription},
      {"path", host.string()},
      {"type", "stdio"},
  };
  if (firefox)
    manifest["allowed_extensions"] = nlohmann::json::array({kFirefoxAddonId});
  else
    manifest["allowed_origins"] = nlohmann::json::array({kAllowedOrigin});
  return manifest.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

int Install(const fs::path& folder, const fs::path& file, bool firefox) {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  const fs::path host = self.parent_path() / kHostProgram;
  const fs::file_status status = fs::status(host, error);
  if (self.empty() || !fs::is_regular_file(status) ||
      (status.permissions() & fs::perms::owner_exec) == fs::perms::none)
    return Fail(2, "the host program " + host.string() +
                       " is missing; build it, or run the installer from the folder that "
                       "holds it");
  fs::create_directories(folder, error);
  if (error) return Fail(1, "cannot create " + folder.string() + ": " + error.message());
  // Written beside the old one and renamed over it, so a browser never reads
  // half a manifest.
  const bool existed = fs::exists(file, error);
  const fs::path fresh = folder / (std::string(".") + kHostName + ".json.new");
  {
    std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
    out << Manifest(host, firefox);
    out.close();
    if (!out) {
      fs::remove(fresh, error);
      return Fail(1, "cannot write " + fresh.string());
    }
  }
  fs::rename(fresh, file, error);
  if (error) {
    const std::string why = error.message();
    fs::remove(fresh, error);
    return Fail(1, "cannot replace " + file.string() + ": " + why);
  }
  std::cout << (existed ? "replaced " : "installed ") << file.string() << " (host "
            << host.string() << ")\n";
  const std::string browser = firefox ? "firefox" : "chromium";
  const fs::path extension = self.parent_path() / (browser + "-extension");
  if (!fs::is_regular_file(extension / "manifest.json", error))
    std::cout << "no extension folder beside the installer (" << extension.string()
              << "); build the project, whose build folder has it\n";
  else if (firefox)
    std::cout << "the add-on to load (about:debugging, This Firefox, Load Temporary Add-on, "
                 "its manifest.json; see the README for a permanent install): "
              << extension.string() << "\n";
  else
    std::cout << "the extension to load (chrome://extensions, Developer mode, Load unpacked): "
              << extension.string() << "\n";
  return 0;
}

int Uninstall(const fs::path& file) {
  std::error_code error;
  if (!fs::remove(file, error)) {
    if (error) return Fail(1, "cannot remove " + file.string() + ": " + error.message());
    std::cout << "nothing to remove: " << file.string() << " is not there\n";
    return 0;
  }
  std::cout << "removed " << file.string() << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool uninstall = false;
  bool firefox = false;
  fs::path profile;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--uninstall") {
      uninstall = true;
    } else if ((arg == "--browser" && i + 1 < argc) || arg.rfind("--browser=", 0) == 0) {
      const std::string name = arg == "--browser" ? argv[++i] : arg.substr(10);
      if (name != "chromium" && name != "firefox") {
        std::cerr << "ostrel-webext-install: unknown browser " << name << " (chromium or firefox)\n";
        return 2;
      }
      firefox = name == "firefox";
    } else if (arg == "--user-data-dir" && i + 1 < argc && *argv[i + 1]) {
      profile = argv[++i];
    } else if (arg.rfind("--user-data-dir=", 0) == 0 && arg.size() > 16) {
      profile = arg.substr(16);
    } else {
      std::cerr << "ostrel-webext-install: unexpected argument " << arg << "\n" << kUsage;
      return 2;
    }
  }
  if (firefox && !profile.empty())
    return Fail(2, "--user-data-dir is Chromium's; Firefox reads the host manifest per user");
  std::error_code error;
  const fs::path folder =
      profile.empty() ? UserFolder(firefox) : fs::absolute(profile, error) / "NativeMessagingHosts";
  if (folder.empty())
    return Fail(2, firefox ? "HOME is not set" : "HOME is not set: name the profile with --user-data-dir");
  const fs::path file = folder / (std::string(kHostName) + ".json");
  return uninstall ? Uninstall(file) : Install(folder, file, firefox);
}
