// ostrel-chromium-install: tells Chromium where the filter's native
// messaging host is, by writing the host's manifest where Chromium reads
// it: per user ($XDG_CONFIG_HOME/chromium/NativeMessagingHosts/), or inside
// a given profile folder (DIR/NativeMessagingHosts/). The manifest names
// ostrel-chromium-host beside this program and the filter's extension as
// the only origin allowed to start it. --uninstall removes the manifest.
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

#include "chromium/HostName.h"

namespace fs = std::filesystem;
using namespace ostrel::chromium;

namespace {

const char kUsage[] =
    "usage: ostrel-chromium-install [--user-data-dir DIR] [--uninstall]\n"
    "  Installs the filter's native messaging host for Chromium: writes\n"
    "  org.ostrel.antiphish.json, naming ostrel-chromium-host beside this\n"
    "  program, into the folder Chromium reads for the user\n"
    "  ($XDG_CONFIG_HOME/chromium/NativeMessagingHosts, or\n"
    "  ~/.config/chromium/NativeMessagingHosts), or with --user-data-dir\n"
    "  into DIR/NativeMessagingHosts for that profile folder.\n"
    "  --uninstall  removes the file again.\n"
    "  It prints the extension folder the build put beside it, to load in\n"
    "  chrome://extensions.\n";

int Fail(int status, const std::string& text) {
  std::cerr << "ostrel-chromium-install: " << text << "\n";
  return status;
}

// The per-user folder Chromium reads; empty when no home can be told.
fs::path UserFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config && fs::path(config).is_absolute())
    return fs::path(config) / "chromium" / "NativeMessagingHosts";
  const char* home = std::getenv("HOME");
  if (home && *home) return fs::path(home) / ".config" / "chromium" / "NativeMessagingHosts";
  return {};
}

std::string Manifest(const fs::path& host) {
  const nlohmann::json manifest = {
      {"name", kHostName},
      {"description", kHostDescription},
      {"path", host.string()},
      {"type", "stdio"},
      {"allowed_origins", nlohmann::json::array({kAllowedOrigin})},
  };
  return manifest.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

int Install(const fs::path& folder, const fs::path& file) {
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
  // Written beside the old one and renamed over it, so Chromium never reads
  // half a manifest.
  const bool existed = fs::exists(file, error);
  const fs::path fresh = folder / (std::string(".") + kHostName + ".json.new");
  {
    std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
    out << Manifest(host);
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
  const fs::path extension = self.parent_path() / kExtensionFolder;
  if (fs::is_regular_file(extension / "manifest.json", error))
    std::cout << "the extension to load (chrome://extensions, Developer mode, Load unpacked): "
              << extension.string() << "\n";
  else
    std::cout << "no extension folder beside the installer (" << extension.string()
              << "); load host/chromium/extension from the sources\n";
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
  fs::path profile;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--uninstall") {
      uninstall = true;
    } else if (arg == "--user-data-dir" && i + 1 < argc && *argv[i + 1]) {
      profile = argv[++i];
    } else if (arg.rfind("--user-data-dir=", 0) == 0 && arg.size() > 16) {
      profile = arg.substr(16);
    } else {
      std::cerr << "ostrel-chromium-install: unexpected argument " << arg << "\n" << kUsage;
      return 2;
    }
  }
  std::error_code error;
  const fs::path folder =
      profile.empty() ? UserFolder() : fs::absolute(profile, error) / "NativeMessagingHosts";
  if (folder.empty()) return Fail(2, "HOME is not set: name the profile with --user-data-dir");
  const fs::path file = folder / (std::string(kHostName) + ".json");
  return uninstall ? Uninstall(file) : Install(folder, file);
}
