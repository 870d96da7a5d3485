// ostrel-browser: the browser stand-in. It loads the registered Browser
// Helper Objects into each window the way the browser does and drives
// navigations through them, telling for each where the window ended and why.
//
//   ostrel-browser [--json] [--fetch] [ADDRESS | continue | new-window | close-window |
//                  tools [N]]...
//   ostrel-browser --tools
//
// Without addresses on the command line it reads them from standard input,
// one a line (blank lines are skipped; lines starting with "#" are captions,
// shown as they are in the text output).
// Exit status: 0 when every navigation and Tools-menu command ended without
// error, 1 when one did not, 2 for a wrong command line, 3 when no helper
// can be loaded.
#include <cstdio>
#include <cwctype>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "browser/BrowserWindow.h"
#include "browser/Helpers.h"
#include "browser/ToolsMenu.h"
#include "browser/WindowThread.h"
#include "platform/ObjBase.h"
#include "platform/Utf8.h"

using namespace ostrel::host;
using ostrel::platform::FromUtf8;
using ostrel::platform::ToUtf8;

namespace {

const char kUsage[] =
    "usage: ostrel-browser [--json] [--fetch] [ADDRESS | continue | new-window | close-window |\n"
    "                      tools [N]]...\n"
    "       ostrel-browser --tools\n"
    "  Navigates a browser window with the registered helpers loaded (the\n"
    "  filter: register it with ostrel-regsvr MODULE) and tells, for each\n"
    "  navigation, where the window ended and why.\n"
    "  continue      follows the \"continue\" link of the warning page shown\n"
    "  new-window    opens another window (its own thread and helpers)\n"
    "  close-window  closes the current window (the helpers get OnQuit)\n"
    "  tools         lists the Tools menu (the registered command extensions)\n"
    "  tools N       runs its entry N in the current window, as when picked\n"
    "                from the menu (the filter's opens its configuration\n"
    "                dialog where a display is available)\n"
    "  --tools       lists the Tools menu and runs the entry whose number is\n"
    "                read from standard input\n"
    "  --json        one JSON object a line per navigation, for scripts\n"
    "  --fetch       loads http and https pages over the network; otherwise\n"
    "                every navigation counts as loaded\n"
    "  Without operands, reads them from standard input, one a line (a line\n"
    "  starting with # is a caption, shown with the text output).\n";

struct Window {
  int number;
  CWindowThread thread;
  CBrowserWindow* browser = nullptr;
};

class CSession {
 public:
  CSession(bool json, bool fetch) : m_json(json), m_fetch(fetch) {}

  ~CSession() {
    while (!m_windows.empty()) CloseWindow();
    CoFreeUnusedLibraries();  // the helpers' modules go, as at a browser's exit
  }

  // False, with the reason on standard error, when the helpers cannot all
  // be loaded.
  bool OpenWindow() {
    const std::vector<CLSID> helpers = RegisteredHelpers();
    if (helpers.empty()) {
      std::cerr << "ostrel-browser: no Browser Helper Object is registered; register the "
                   "filter first:\n  ostrel-regsvr OstrelAntiPhishingBHO.so\n";
      return false;
    }
    auto window = std::make_unique<Window>();
    window->number = ++m_opened;
    std::wstring error;
    const bool fetch = m_fetch;
    const int number = window->number;
    window->browser = window->thread.Call([&] {
      auto* browser = new CBrowserWindow(number, fetch);
      const bool active = FilterActive();  // as each helper reads it at its creation
      for (const CLSID& clsid : helpers) {
        IObjectWithSite* helper = CreateHelper(clsid, &error);
        if (!helper) {
          browser->Close();
          return static_cast<CBrowserWindow*>(nullptr);
        }
        browser->AddHelper(helper, active);
      }
      return browser;
    });
    if (!window->browser) {
      std::cerr << "ostrel-browser: " << ToUtf8(error) << "\n";
      return false;
    }
    m_windows.push_back(std::move(window));
    return true;
  }

  void CloseWindow() {
    Window& window = *m_windows.back();
    window.thread.Call([&] { window.browser->Close(); });
    m_windows.pop_back();
  }

  enum class Result { Done, Failed, Fatal };

  // One operand: a navigation that ends in an error is Failed; a window
  // whose helpers cannot be loaded is Fatal.
  Result Do(const std::wstring& operand) {
    if (operand == L"new-window") {
      if (!OpenWindow()) return Result::Fatal;
      if (!m_json) std::cout << "[window " << m_windows.back()->number << "] opened" << std::endl;
      return Result::Done;
    }
    if (operand == L"close-window") {
      if (m_windows.empty()) return Result::Done;
      const int number = m_windows.back()->number;
      CloseWindow();
      if (!m_json) std::cout << "[window " << number << "] closed" << std::endl;
      return Result::Done;
    }
    if (operand == L"tools") {
      ListTools();
      return Result::Done;
    }
    if (operand.rfind(L"tools ", 0) == 0) return RunTool(operand.substr(6));
    if (m_windows.empty() && !OpenWindow()) return Result::Fatal;
    Window& window = *m_windows.back();
    const NavigationReport report = window.thread.Call([&] {
      return operand == L"continue" ? window.browser->Continue() : window.browser->Go(operand);
    });
    std::cout << (m_json ? FormatJson(report) : FormatText(report)) << std::endl;
    return report.outcome == Outcome::Error ? Result::Failed : Result::Done;
  }

  // The Tools menu, numbered from 1.
  void ListTools() {
    const std::vector<ToolsEntry> entries = RegisteredToolsEntries();
    if (entries.empty() && !m_json) std::cout << "[tools] the Tools menu has no entries" << std::endl;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (m_json)
        std::cout << "{\"tool\":" << i + 1 << ",\"menuText\":" << JsonText(entries[i].menuText)
                  << "}" << std::endl;
      else
        std::cout << "[tools] " << i + 1 << "  " << ToUtf8(entries[i].menuText) << std::endl;
    }
  }

  // Runs Tools-menu entry number (from 1) on the current window's thread,
  // which the command's dialog belongs to, as the browser would.
  Result RunTool(const std::wstring& number) {
    const std::vector<ToolsEntry> entries = RegisteredToolsEntries();
    std::size_t chosen = 0;
    for (wchar_t c : number) {
      if (std::iswspace(c)) continue;
      if (c < L'0' || c > L'9' || chosen > entries.size()) return ToolFailed(L"", L"no such entry: " + number);
      chosen = chosen * 10 + static_cast<std::size_t>(c - L'0');
    }
    if (chosen == 0 || chosen > entries.size())
      return ToolFailed(L"", L"no such entry in the Tools menu: " + number);
    if (m_windows.empty() && !OpenWindow()) return Result::Fatal;
    Window& window = *m_windows.back();
    const ToolsEntry& entry = entries[chosen - 1];
    std::wstring error;
    const HRESULT hr = window.thread.Call([&] { return RunToolsEntry(entry, &error); });
    if (FAILED(hr)) {
      wchar_t code[16];
      std::swprintf(code, 16, L"0x%08X", static_cast<unsigned>(hr));
      return ToolFailed(entry.menuText, (error.empty() ? L"the command failed" : error) +
                                            L" (" + code + L")");
    }
    if (m_json)
      std::cout << "{\"tool\":" << chosen << ",\"menuText\":" << JsonText(entry.menuText)
                << ",\"result\":\"done\"}" << std::endl;
    else
      std::cout << "[tools] " << ToUtf8(entry.menuText) << ": done" << std::endl;
    return Result::Done;
  }

 private:
  Result ToolFailed(const std::wstring& menuText, const std::wstring& why) {
    if (m_json)
      std::cout << "{\"menuText\":" << JsonText(menuText) << ",\"result\":\"failed\",\"error\":"
                << JsonText(why) << "}" << std::endl;
    else
      std::cout << "[tools] " << (menuText.empty() ? "" : ToUtf8(menuText) + ": ") << "failed: "
                << ToUtf8(why) << std::endl;
    return Result::Failed;
  }

  static std::string JsonText(const std::wstring& text) {
    std::string out = "\"";
    for (char c : ToUtf8(text)) {
      if (c == '"' || c == '\\') {
        out += '\\';
        out += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
        out += escaped;
      } else {
        out += c;
      }
    }
    return out + "\"";
  }

  bool m_json;
  bool m_fetch;
  int m_opened = 0;
  std::vector<std::unique_ptr<Window>> m_windows;
};

}  // namespace

int main(int argc, char** argv) {
  bool json = false, fetch = false, tools = false;
  std::vector<std::wstring> operands;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--fetch") {
      fetch = true;
    } else if (arg == "--tools") {
      tools = true;
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
      std::cerr << "ostrel-browser: unknown option " << arg << "\n" << kUsage;
      return 2;
    } else {
      operands.push_back(FromUtf8(arg));
    }
  }

  if (tools && !operands.empty()) {
    std::cerr << "ostrel-browser: --tools takes no operands\n" << kUsage;
    return 2;
  }
  CSession session(json, fetch);
  if (!session.OpenWindow()) return 3;
  if (tools) {  // the menu, then the user's pick
    session.ListTools();
    if (!json) std::cout << "[tools] entry to run: " << std::flush;
    std::string pick;
    std::getline(std::cin, pick);
    if (!json) std::cout << std::endl;
    return session.RunTool(FromUtf8(pick)) == CSession::Result::Done ? 0 : 1;
  }
  bool failed = false;
  auto run = [&](const std::wstring& operand) {
    const CSession::Result result = session.Do(operand);
    failed = failed || result != CSession::Result::Done;
    return result != CSession::Result::Fatal;
  };
  if (!operands.empty()) {
    for (const std::wstring& operand : operands)
      if (!run(operand)) return 3;
  } else {
    std::string line;
    while (std::getline(std::cin, line)) {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      const std::size_t start = line.find_first_not_of(" \t");
      if (start == std::string::npos) continue;
      if (line[start] == '#') {  // a caption: shown with the text output
        if (!json) std::cout << line.substr(start) << std::endl;
        continue;
      }
      if (!run(FromUtf8(line.substr(start)))) return 3;
    }
  }
  return failed ? 1 : 0;
}
