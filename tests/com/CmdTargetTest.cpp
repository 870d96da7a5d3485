// The Tools-menu command of the real module: Exec runs the configuration
// dialog (played here by a script), and nothing raised in it reaches the
// browser.
#include <gtest/gtest.h>

#include <stdexcept>

#include "com/Interfaces.h"
#include "com/ModuleHost.h"
#include "platform/DialogManager.h"
#include "platform/DocObj.h"
#include "platform/Testing.h"
#include "settings/Settings.h"

using namespace ostrel::test;
namespace t = ostrel::platform::testing;

namespace {

IOleCommandTarget* NewCommand() {
  IOleCommandTarget* command = nullptr;
  CoCreateInstance(CLSID_MyCfgDlgCmdTarget, nullptr, CLSCTX_INPROC_SERVER, IID_IOleCommandTarget,
                   reinterpret_cast<void**>(&command));
  return command;
}

}  // namespace

TEST(CmdTargetTest, ExecShowsTheDialogEachTimeAndRaisesNothing) {
  ASSERT_EQ(CallModule("DllRegisterServer"), S_OK);
  IOleCommandTarget* command = NewCommand();
  ASSERT_NE(command, nullptr);

  OLECMD commands[1] = {{7, 9}};
  EXPECT_EQ(command->QueryStatus(nullptr, 1, commands, nullptr), S_OK);
  EXPECT_EQ(commands[0].cmdID * 10 + commands[0].cmdf, 79u);

  // With nothing to show it on, the user saw no dialog: a failure.
  EXPECT_EQ(command->Exec(nullptr, 0, 0, nullptr, nullptr), E_FAIL);

  int shown = 0;
  t::ScriptDialogs([&](HWND dialog) {
    ++shown;
    EXPECT_EQ(GetActiveWindow(), dialog);
    if (shown == 1) t::Press(dialog, IDOK);  // the second is cancelled
  });
  EXPECT_EQ(command->Exec(nullptr, 0, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(CSettings::GetPollInterval(7), 0xFFFFFFFFu);  // OK saved
  EXPECT_EQ(command->Exec(nullptr, 42, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(shown, 2);

  // Whatever is raised while the dialog runs stays inside.
  for (int kind = 0; kind < 2; ++kind) {
    t::ScriptDialogs([kind](HWND) {
      if (kind == 0) throw std::runtime_error("raised in the dialog");
      throw 5;
    });
    EXPECT_EQ(command->Exec(nullptr, 0, 0, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(GetActiveWindow(), nullptr);
  }
  t::ScriptDialogs(nullptr);
  EXPECT_EQ(command->Release(), 0u);
}
