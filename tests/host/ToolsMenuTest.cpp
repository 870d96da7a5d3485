// The browser stand-in's Tools menu: the entries it lists from the registry
// (command extensions only), and the filter's entry run through Exec: with
// no display the dialog cannot open and the command reports failure; on a
// virtual display (Xvfb) the dialog opens on the screen and closes again.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/TestEnv.h"
#include "platform/WinReg.h"
#include "settings/Settings.h"

using namespace ostrel::test;

namespace {

const wchar_t kExtensions[] = L"SOFTWARE\\Microsoft\\Internet Explorer\\Extensions";

void RegisterFilter() {
  CSettings::SetBHOVersion(CSettings::BuildNumber);  // the filter polls a closed local port
  CSettings::SetMDRemoteUri(L"http://127.0.0.1:9/md");
  CSettings::SetDBRemoteUpdUri(L"http://127.0.0.1:9/db");
  const ProgramRun registered = RunProgram(OSTREL_REGSVR, {OSTREL_MODULE});
  ASSERT_EQ(registered.status, 0) << registered.err;
}

void SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
  std::u16string units(text.begin(), text.end());
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(units.data()),
                 static_cast<DWORD>(units.size() * 2));
}

}  // namespace

TEST(ToolsMenu, ListsCommandExtensionsOnlyAndRunsTheChosenOne) {
  RegisterFilter();
  // A toolbar-button extension (another class) is no Tools-menu command.
  HKEY button = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                            (std::wstring(kExtensions) + L"\\{00000000-0000-0000-0000-0000000000B1}")
                                .c_str(),
                            0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &button, nullptr),
            ERROR_SUCCESS);
  SetText(button, L"CLSID", L"{E0DD6CAB-2D10-11D2-8F1A-0000F87ABD16}");
  SetText(button, L"ClsidExtension", L"{00000000-0000-0000-0000-0000000000B2}");
  SetText(button, L"MenuText", L"A button");
  RegCloseKey(button);

  // No display here: the dialog fails to open, so the command fails.
  const ProgramRun run = RunProgram(OSTREL_BROWSER, {"tools", "tools 1", "tools 2", "tools x"});
  EXPECT_EQ(run.out,
            "[tools] 1  Ostrel Anti-Phishing Filter\n"
            "[tools] Ostrel Anti-Phishing Filter: failed: the command failed (0x80004005)\n"
            "[tools] failed: no such entry in the Tools menu: 2\n"
            "[tools] failed: no such entry: x\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(RunProgram(OSTREL_BROWSER, {"--tools", "tools"}).status, 2) << run.err;
}

TEST(ToolsMenu, TheFiltersEntryOpensItsDialogOnAVirtualDisplay) {
  if (std::system("command -v xvfb-run > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "SKIPPED LOUDLY: xvfb-run is not installed, so no dialog was shown on a screen";
  RegisterFilter();
  // The dialog writes its image here once drawn, then closes as with its
  // close box; timeout bounds a dialog that never would.
  const std::string image = TestRoot() + "/dialog.png";
  setenv("OSTREL_DIALOG_SNAPSHOT", image.c_str(), 1);
  // In a sanitizer build, what the toolkit and the libraries under it keep
  // until exit is theirs, not a leak of ours.
  const std::string suppressions = TestRoot() + "/toolkit.supp";
  std::FILE* file = std::fopen(suppressions.c_str(), "w");
  ASSERT_TRUE(file);
  for (const char* library : {"libgtk-3", "libgdk-3", "libglib-2.0", "libgobject-2.0", "libgio-2.0",
                              "libpango", "libfontconfig", "libdbus-1", "libcairo", "libX11"})
    std::fprintf(file, "leak:%s\n", library);
  std::fclose(file);
  const char* lsan = std::getenv("LSAN_OPTIONS");
  setenv("LSAN_OPTIONS",
         ((lsan && *lsan ? std::string(lsan) + ":" : "") + "suppressions=" + suppressions).c_str(), 1);
  const ProgramRun run =
      RunProgram("/usr/bin/timeout", {"60", "xvfb-run", "-a", OSTREL_BROWSER, "tools 1"});
  EXPECT_EQ(run.out, "[tools] Ostrel Anti-Phishing Filter: done\n") << run.err;
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(image).substr(0, 8), "\x89PNG\r\n\x1a\n");
}
