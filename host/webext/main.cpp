// ostrel-webext-host: the filter in a window of Chromium or Firefox. The
// browser starts one per window (its extension connects once per window)
// and speaks native
// messaging with it on standard input and output; the host loads the
// registered Browser Helper Objects as ostrel-browser does, sites them on a
// CWebExtWindow and turns each message into the event the browser would
// fire, on this one thread. Messages waiting together are read as a batch,
// and a tab's events that a newer navigation of the tab supersedes are not
// fired. The filter's pre-request rules go to the extension at the start
// and whenever the list changes. Diagnostics go to standard error only.
//
// Exit status: 0 when the window closed or the input ended, 1 when the
// channel broke (a malformed or oversized message, input ending inside
// one), 3 when no helper can be loaded.
#include <malloc.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "browser/Address.h"
#include "browser/Helpers.h"
#include "browser/ToolsMenu.h"
#include "webext/WebExtWindow.h"
#include "webext/HostName.h"
#include "webext/MessageBatch.h"
#include "webext/Messages.h"
#include "webext/RulesRelay.h"
#include "webext/StdioChannel.h"
#include "platform/ObjBase.h"
#include "platform/Utf8.h"

using namespace ostrel::webext;
using ostrel::platform::ToUtf8;

namespace {

const char kUsage[] =
    "usage: ostrel-webext-host [ORIGIN]...\n"
    "  The filter's native messaging host for Chromium and Firefox: started by the\n"
    "  browser for each window, once the extension is loaded and the host\n"
    "  is installed (ostrel-webext-install). It loads the registered\n"
    "  helpers (the filter: register it with ostrel-regsvr MODULE) and\n"
    "  speaks native messaging on standard input and output: a 32-bit\n"
    "  native-order length, then a JSON object. Arguments (the caller's\n"
    "  origin) are accepted and ignored. Diagnostics go to standard error.\n"
    "  Exit status: 0 at the end of the input or when the window closed,\n"
    "  1 for a malformed or oversized message, 3 when no helper can be loaded.\n";

// How long an idle host waits before it looks at the list's rules again,
// and how many waiting messages it reads before handling them.
constexpr int kRulesPollMs = 2000;
constexpr std::size_t kBatch = 1000;

void Say(const std::string& text) { std::cerr << "ostrel-webext-host: " << text << std::endl; }

class CHost {
 public:
  explicit CHost(const StdioChannel& channel)
      : m_reader(channel.in), m_writer(channel.out), m_wait(channel.wait) {}

  int Run() {
    if (!Load()) return 3;
    if (!Send(EncodeHello(ProcessId(), m_window->HelperCount()))) return Finish(0);
    for (;;) {
      // Idle, the list may still change (an update): its rules are
      // looked at between messages and every few seconds.
      const int ready = m_wait(kRulesPollMs);
      if (ready == 0) {
        if (!SendRules()) return Finish(0);
        continue;
      }
      std::vector<Message> batch;
      const std::optional<int> ended = ReadBatch(&batch);
      const std::vector<bool> superseded = Superseded(batch);
      for (std::size_t i = 0; i < batch.size(); ++i) {
        if (superseded[i]) {
          if (!Skip(batch[i])) return Finish(0);
          continue;
        }
        if (!Handle(batch[i])) return Finish(0);
      }
      if (ended) return Finish(*ended);
      if (!SendRules()) return Finish(0);
    }
  }

 private:
  // The messages waiting now, at least one (it blocks for the first), at
  // most kBatch. When the input ends or breaks, what was read before is
  // still handled and the exit status is given back.
  std::optional<int> ReadBatch(std::vector<Message>* batch) {
    do {
      std::string body;
      switch (m_reader.Next(&body)) {
        case ReadResult::Message:
          break;
        case ReadResult::End:
          return 0;
        case ReadResult::Truncated:
          Say("the input ended inside a message");
          return 1;
        case ReadResult::TooLong:
          Say("a message of " + std::to_string(m_reader.AnnouncedLength()) +
              " bytes is over the limit of " + std::to_string(kMaxMessageBytes));
          return 1;
        case ReadResult::Failed:
          Say("standard input cannot be read");
          return 1;
      }
      Message message;
      std::string why;
      switch (Decode(body, &message, &why)) {
        case DecodeResult::NotAnObject:
          Say(why);
          return 1;
        case DecodeResult::Ignored:
          Say(why + "; ignored");
          continue;
        case DecodeResult::Ok:
          batch->push_back(std::move(message));
          // Nothing after the window's end is read.
          if (batch->back().type == MessageType::WindowRemoved) return std::nullopt;
          break;
      }
    } while (batch->size() < kBatch && m_wait(0) > 0);
    return std::nullopt;
  }

  // A superseded event is not fired; only the tab's location is kept, and
  // a request waiting for its answer is told it will not be shown.
  bool Skip(const Message& message) {
    if ((message.type == MessageType::Committed || message.type == MessageType::Completed) &&
        message.frameId == 0)
      m_window->SetLocation(message.tabId, message.url);
    if (message.type == MessageType::Request) return Send(EncodeSuperseded(message.requestId));
    return true;
  }

  // Every registered helper created and sited, as ostrel-browser's window
  // does; none at all, or one that fails, and the host does not run.
  bool Load() {
    const std::vector<CLSID> helpers = ostrel::host::RegisteredHelpers();
    if (helpers.empty()) {
      Say("no Browser Helper Object is registered; register the filter first: "
          "ostrel-regsvr OstrelAntiPhishingBHO.so");
      return false;
    }
    m_window = new CWebExtWindow();
    for (const CLSID& clsid : helpers) {
      std::wstring error;
      IObjectWithSite* helper = ostrel::host::CreateHelper(clsid, &error);
      if (!helper) {
        Say(ToUtf8(error));
        m_window->Close();
        m_window = nullptr;
        return false;
      }
      m_modules.push_back(ostrel::host::ModuleOf(clsid));
      IPhishListRules* rules = nullptr;
      if (!m_rules.HasSource() &&
          SUCCEEDED(helper->QueryInterface(IID_IPhishListRules, reinterpret_cast<void**>(&rules))))
        m_rules.SetSource(rules);  // takes the reference
      m_window->AddHelper(helper);
    }
    return true;
  }

  // False when the window is done with.
  bool Handle(const Message& message) {
    switch (message.type) {
      case MessageType::Window:
        m_window->SetWindowId(message.windowId);
        if (message.wantsRules) m_rules.SetExtensionDigest(message.rulesDigest);
        return true;
      case MessageType::BeforeNavigate:
        return Answer(m_window->BeforeNavigate(message.tabId, message.url));
      case MessageType::Committed:
        // A frame's document is scanned as its navigation would be: the
        // window's location stays the tab's.
        if (message.frameId != 0) return Answer(m_window->BeforeNavigate(message.tabId, message.url));
        return Answer(m_window->Committed(message.tabId, message.url));
      case MessageType::Completed:
        if (message.frameId != 0) return true;
        return Answer(m_window->Completed(message.tabId, message.url));
      case MessageType::Blocked:
      case MessageType::Request: {
        // Stopped before it left (by a rule, or waiting for this answer):
        // the filter decides as for any navigation, and what it lets
        // through is handed back to go on. A cut address is never let
        // through: a waiting request is stopped.
        TabAnswer answer = m_window->BeforeNavigate(message.tabId, message.url);
        if (answer.kind == TabAnswer::Kind::None && message.truncated && !message.requestId.empty())
          answer.kind = TabAnswer::Kind::Stop;
        if (answer.kind != TabAnswer::Kind::None || message.truncated)
          return Answer(answer, message.requestId);
        return Send(EncodeAllow(message.tabId, message.frameId, message.url, message.requestId));
      }
      case MessageType::TabRemoved:
        m_window->ForgetTab(message.tabId);
        return true;
      case MessageType::Tools:
        RunTools();
        return true;
      case MessageType::WindowRemoved:
        return false;
    }
    return true;
  }

  // The list's rules, when they changed and the extension lacks them.
  bool SendRules() {
    for (const std::string& part : m_rules.Poll())
      if (!Send(part)) return false;
    return true;
  }

  // requestId: the waiting request this answers, if any.
  bool Answer(const TabAnswer& answer, const std::string& requestId = "") {
    switch (answer.kind) {
      case TabAnswer::Kind::None:
        return true;
      case TabAnswer::Kind::Navigate: {
        // The browser gets the canonical form, whose host the filter reads,
        // never the helper's text as it came (a setting's address, say).
        const std::optional<std::wstring> address = ostrel::host::CanonicalAddress(answer.url);
        if (!address) {
          Say("tab " + std::to_string(answer.tabId) +
              " was to be sent to an address a browser refuses; the tab is stopped instead");
          return Send(EncodeStop(answer.tabId, requestId));
        }
        const std::string navigate = EncodeNavigate(answer.tabId, *address, requestId);
        if (navigate.size() <= kMaxMessageBytes) return Send(navigate);
        Say("the address tab " + std::to_string(answer.tabId) +
            " was sent to is too long for a message; the tab is stopped instead");
        return Send(EncodeStop(answer.tabId, requestId));
      }
      case TabAnswer::Kind::Stop:
        return Send(EncodeStop(answer.tabId, requestId));
    }
    return true;
  }

  bool Send(const std::string& body) {
    if (m_writer.Write(body) == WriteResult::Sent) return true;
    Say("the extension closed the channel");
    return false;
  }

  // The filter's Tools-menu entry: the command served by a helper's module.
  void RunTools() {
    for (const ostrel::host::ToolsEntry& entry : ostrel::host::RegisteredToolsEntries()) {
      const std::wstring module = ostrel::host::ModuleOf(entry.command);
      bool ours = false;
      for (const std::wstring& m : m_modules) ours = ours || (!module.empty() && m == module);
      if (!ours) continue;
      std::wstring error;
      const HRESULT hr = ostrel::host::RunToolsEntry(entry, &error);
      if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
        Say(ToUtf8(entry.menuText) + ": " +
            (error.empty() ? std::string("the command failed") : ToUtf8(error)) + " (" + code +
            ")");
      }
      return;
    }
    Say("the filter has no Tools-menu entry registered");
  }

  // OnQuit, the helpers released and their modules unloaded, as at a
  // browser window's close.
  int Finish(int status) {
    m_rules.Close();
    if (m_window) m_window->Close();
    m_window = nullptr;
    CoFreeUnusedLibraries();
    return status;
  }

  CMessageReader m_reader;
  CMessageWriter m_writer;
  std::function<int(int)> m_wait;     // input ready within so many ms
  CRulesRelay m_rules;                // the list's rules, toward the extension
  CWebExtWindow* m_window = nullptr;  // the creator's reference, given up by Close
  std::vector<std::wstring> m_modules;  // the helpers' module files
};

}  // namespace

int main(int argc, char** argv) {
  // A long address passes through many copies of itself (wide text of up
  // to 4 MB). Left to glibc, each copy over 128 KB is a fresh mapping whose
  // pages fault in one by one, which made a 65,536-character address cost
  // 80 ms; kept on the heap, a few.
  mallopt(M_MMAP_THRESHOLD, 8 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
  }
  const StdioChannel channel = OpenStdioChannel();
  if (!channel.ok) {
    Say("standard output cannot be set aside for the protocol");
    return 1;
  }
  if (InputIsTerminal())
    Say("waiting for native messages from a browser on standard input (see --help)");
  return CHost(channel).Run();
}
