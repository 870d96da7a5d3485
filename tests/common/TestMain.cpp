// Test entry point: isolates this process's registry, kernel objects and
// temporary folder before any test or static object can touch them (the
// module-wide defaults are built during static initialisation, so the
// isolation runs as an early constructor, ahead of them), gives every test
// an empty registry store, so tests stand alone when a whole program runs
// as one process, and keeps HTTP fetches on the loopback interface.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/TestEnv.h"
#include "platform/Testing.h"

namespace {

__attribute__((constructor(101))) void Isolate() {
  const std::string& root = ostrel::test::TestRoot();
  const char* names[][2] = {{"HOME", "/home"},
                            {"XDG_CONFIG_HOME", "/config"},
                            {"XDG_RUNTIME_DIR", "/runtime"},
                            {"TMPDIR", "/tmp"}};
  for (auto& n : names) {
    std::string dir = root + n[1];
    mkdir(dir.c_str(), 0700);
    setenv(n[0], dir.c_str(), 1);
  }
  // No test opens a window on the developer's screen: dialogs run scripted.
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
}

// Each test starts with no registry store, whatever the one before wrote.
class FreshRegistryPerTest : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override {
    const std::string config = std::getenv("XDG_CONFIG_HOME");
    std::error_code ec;
    std::filesystem::remove_all(config, ec);
    mkdir(config.c_str(), 0700);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // Nothing a test does reaches past this machine, not even a name lookup
  // for a list's default update address.
  ostrel::platform::testing::ConfineHttpToLoopback(true);
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new FreshRegistryPerTest);
  return RUN_ALL_TESTS();
}
