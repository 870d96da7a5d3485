// ostrel-chromium-host as Chromium runs it: a process spoken to in native
// messaging over pipes, with the real module registered and its list
// downloaded from ostrel-serve on 127.0.0.1. What the filter asks of a tab
// comes back as one message; anything the host cannot read ends it with a
// line on standard error and never a partial message on standard output.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "chromium/MessageReader.h"
#include "chromium/MessageWriter.h"
#include "common/ChildProcess.h"
#include "common/TestEnv.h"
#include "host/FilterSite.h"
#include "host/Programs.h"
#include "platform/WinReg.h"
#include "settings/Settings.h"

using namespace ostrel::test;
using namespace ostrel::chromium;
using nlohmann::json;

namespace {

// The host with its standard input and output on pipes and its standard
// error in a file, spoken to in whole messages.
class HostProcess {
 public:
  HostProcess()
      : m_errors(TestRoot() + "/host-stderr.txt"),
        m_program({OSTREL_CHROMIUM_HOST, "chrome-extension://kkbbcamifbbpgpliadehmfpboejmedcg/"},
                  m_errors) {}

  void SendRaw(const std::string& bytes) { m_program.Write(bytes); }
  void Send(const json& message) { SendRaw(Frame(message.dump())); }
  void CloseInput() { m_program.CloseInput(); }

  // The next whole message other than the list's rules (kept in rules), or
  // nothing at the end of the output, after a timeout, or when what came is
  // not a whole JSON object.
  std::optional<json> Receive(int timeoutMs = 20000) {
    for (;;) {
      std::optional<json> message = ReceiveAny(timeoutMs);
      if (!message || message->value("type", "") != "rules") return message;
      rules.push_back(std::move(*message));
    }
  }

  std::vector<json> rules;  // the "rules" messages so far, in order

  std::optional<json> ReceiveAny(int timeoutMs) {
    const auto deadline = Program::Deadline(timeoutMs);
    CMessageReader reader([&](char* into, std::size_t size) {
      return m_program.ReadSome(into, size, deadline);
    });
    std::string body;
    if (reader.Next(&body) != ReadResult::Message) return std::nullopt;
    json message = json::parse(body, nullptr, false);
    if (!message.is_object()) return std::nullopt;
    return message;
  }

  int Wait() { return m_program.Wait(); }
  // What it wrote to standard error; call after Wait.
  std::string Errors() const { return ReadFileBytes(m_errors); }
  // Whatever is left on standard output; call after Wait.
  std::string Rest() { return m_program.ReadAll(); }

 private:
  std::string m_errors;
  Program m_program;
};

json BeforeNavigate(int tab, const std::string& url) {
  return {{"type", "before-navigate"}, {"tabId", tab}, {"url", url}};
}

json NavigateTo(int tab, const std::string& url) {
  return {{"type", "navigate"}, {"tabId", tab}, {"url", url}};
}

class ChromiumHost : public testing::Test {
 protected:
  void SetUp() override {
    const ProgramRun registered = RunProgram(OSTREL_REGSVR, {OSTREL_MODULE});
    ASSERT_EQ(registered.status, 0) << registered.err;
    CSettings::SetBHOVersion(CSettings::BuildNumber);  // no first-run reset to the public server
  }

  // The warning pages served with a list naming black and grey sites.
  void ServeList() {
    site = std::make_unique<FilterSite>();
    ASSERT_FALSE(site->Base().empty());
  }

  // The filter polls nothing but a closed port of this machine.
  static void UpdatesGoNowhere() {
    CSettings::SetMDRemoteUri(L"http://127.0.0.1:9/md");
    CSettings::SetDBRemoteUpdUri(L"http://127.0.0.1:9/db");
  }

  // Started, greeted, and (when serving) its filter's list downloaded.
  std::unique_ptr<HostProcess> Start(bool withList) {
    auto host = std::make_unique<HostProcess>();
    const std::optional<json> hello = host->Receive();
    EXPECT_TRUE(hello && hello->value("type", "") == "hello" && hello->value("helpers", 0) == 1 &&
                hello->value("pid", 0) > 0)
        << (hello ? hello->dump() : "no hello");
    if (withList) {
      EXPECT_TRUE(Eventually([] { return CSettings::GetPDBUN(-1) >= 0; }, 30000))
          << "the filter never downloaded its list";
    }
    host->Send({{"type", "window"}, {"windowId", 4}});
    return host;
  }

  std::string Site(const std::string& name, const std::string& path = "/") const {
    return site->Site(name, path);
  }

  std::unique_ptr<FilterSite> site;
};

}  // namespace

TEST_F(ChromiumHost, SendsTheTabToTheWarningPageAndLetsTheUserContinueOnGrey) {
  ServeList();
  std::unique_ptr<HostProcess> host = Start(true);
  const std::string black = site->Base() + "black.html";
  const std::string grey = site->Base() + "grey.html";
  // A probe with a known answer: what came before it sent nothing.
  const auto expectNothingBefore = [&](const char* what) {
    host->Send(BeforeNavigate(99, Site("evil")));
    EXPECT_EQ(host->Receive(), NavigateTo(99, black + "?var1=ZORTBHO&var2=black&var3=" +
                                                  Site("evil")))
        << what;
  };

  host->Send(BeforeNavigate(1, Site("www.evil", "/a?b=c")));
  EXPECT_EQ(host->Receive(), NavigateTo(1, black + "?var1=ZORTBHO&var2=black&var3=" +
                                               Site("www.evil", "/a%3Fb=c")));

  host->Send(BeforeNavigate(2, Site("grey", "/index.html")));
  const std::optional<json> warned = host->Receive();
  ASSERT_TRUE(warned);
  const std::string page = warned->value("url", "");
  const std::string prefix = grey + "?var1=ZORTBHO&var2=grey&var3=" + Site("grey", "/index.html") +
                             "&var4=";
  ASSERT_EQ(page.substr(0, prefix.size()), prefix);
  EXPECT_EQ(warned->value("tabId", 0), 2);
  const std::string key = page.substr(prefix.size());
  ASSERT_GT(key.size(), 2u);

  // "continue": the click-through is verified and the site reloaded without
  // its key; from then on the site passes.
  host->Send(BeforeNavigate(2, Site("grey", "/index.html") + key));
  EXPECT_EQ(host->Receive(), NavigateTo(2, Site("grey", "/index.html")));
  host->Send(BeforeNavigate(2, Site("grey", "/index.html")));
  host->Send({{"type", "committed"}, {"tabId", 2}, {"url", Site("grey", "/index.html")}});
  host->Send(BeforeNavigate(2, Site("grey", "/other.html")));
  expectNothingBefore("the grey site after continue");

  host->Send(BeforeNavigate(3, "http://clean.localhost/"));
  host->Send(BeforeNavigate(3, "chrome://newtab/"));
  host->Send(BeforeNavigate(3, "data:text/html,<b>x</b>"));
  host->Send(BeforeNavigate(3, "http://clean.localhost/" + std::string(70000, 'a')));
  host->Send({{"type", "completed"}, {"tabId", 3}, {"url", "http://clean.localhost/"}});
  expectNothingBefore("clean and non-http addresses");

  // A navigation whose first event was missed is still caught once committed.
  host->Send({{"type", "committed"}, {"tabId", 5}, {"url", Site("evil", "/late")}});
  EXPECT_EQ(host->Receive(),
            NavigateTo(5, black + "?var1=ZORTBHO&var2=black&var3=" + Site("evil", "/late")));

  // A warning address too long for a message: the tab is stopped instead.
  std::string huge = Site("evil", "/");
  huge += std::string(1024 * 1024 - 60 - huge.size(), 'a');  // its message fits
  host->Send(BeforeNavigate(6, huge));
  const std::optional<json> stopped = host->Receive();
  EXPECT_TRUE(stopped == json({{"type", "stop"}, {"tabId", 6}}))
      << (stopped ? stopped->dump().substr(0, 100) : "nothing");

  // Wrong shapes are ignored and the window stays protected; the Tools
  // command without a display fails with a line.
  host->Send({{"type", "tools"}});
  host->Send({{"type", "reload"}, {"tabId", 1}});
  host->Send({{"type", "before-navigate"}, {"tabId", "1"}, {"url", Site("evil")}});
  host->Send({{"type", "committed"}, {"tabId", 1}});
  host->Send({{"type", "tab-removed"}, {"tabId", 1}});
  expectNothingBefore("ignored messages");

  host->Send({{"type", "window-removed"}});
  EXPECT_EQ(host->Wait(), 0);
  EXPECT_EQ(host->Rest(), "");
  const std::string errors = host->Errors();
  EXPECT_NE(errors.find("ostrel-chromium-host: unknown message type \"reload\""), std::string::npos)
      << errors;
  EXPECT_NE(errors.find("without a whole-number tabId"), std::string::npos) << errors;
  EXPECT_NE(errors.find("without a url string"), std::string::npos) << errors;
  EXPECT_NE(errors.find("too long for a message"), std::string::npos) << errors;
  EXPECT_NE(errors.find("Ostrel Anti-Phishing Filter: the command failed"), std::string::npos)
      << errors;
}

// Chromium is handed the address whose host the filter reads, not a
// setting's text as written; an address a browser refuses stops the tab.
TEST_F(ChromiumHost, HandsChromiumTheCanonicalAddress) {
  ServeList();
  const std::string port = site->Base().substr(site->Base().rfind(':') + 1);  // "PORT/"
  const struct {
    std::wstring blackPage;  // as the setting holds it
    json answer;
  } rows[] = {
      {L"HTTP://127.0.0.1:" + ostrel::platform::FromUtf8(port) + L"sub\\..\\black.html",
       NavigateTo(1, site->Base() + "black.html?var1=ZORTBHO&var2=black&var3=" + Site("evil"))},
      {L"http://[::1/black.html", {{"type", "stop"}, {"tabId", 1}}},
  };
  std::unique_ptr<HostProcess> host = Start(true);
  for (const auto& row : rows) {
    CSettings::SetBlackRedirectUri(row.blackPage);
    host->Send(BeforeNavigate(1, Site("evil")));
    EXPECT_EQ(host->Receive(), row.answer);
  }
  host->CloseInput();
  EXPECT_EQ(host->Wait(), 0);
  EXPECT_NE(host->Errors().find("an address a browser refuses"), std::string::npos)
      << host->Errors();
}

TEST_F(ChromiumHost, ABrokenChannelEndsTheHostWithALineAndNoPartialMessage) {
  UpdatesGoNowhere();
  struct Case {
    std::string input;  // after the window message
    int status;
    std::string says;
  };
  const std::uint32_t over = 1024 * 1024 + 1;
  const Case cases[] = {
      {"", 0, ""},
      {Frame(json{{"type", "window-removed"}}.dump()) + Frame("{not json"), 0, ""},
      {Frame("{not json"), 1, "not valid JSON"},
      {Frame("[\"type\",\"tools\"]"), 1, "not a JSON object"},
      {std::string(reinterpret_cast<const char*>(&over), 4) + "{}", 1, "over the limit"},
      {"\x02\x00", 1, "ended inside a message"},
      {Frame("{\"type\":\"tools\"}").substr(0, 9), 1, "ended inside a message"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<HostProcess> host = Start(false);
    host->SendRaw(c.input);
    host->CloseInput();
    EXPECT_EQ(host->Wait(), c.status) << testing::PrintToString(c.input);
    EXPECT_EQ(host->Rest(), "") << "only whole messages, and none here";
    const std::string errors = host->Errors();
    if (c.says.empty()) {
      EXPECT_EQ(errors, "");
    } else {
      EXPECT_EQ(errors.rfind("ostrel-chromium-host: ", 0), 0u) << errors;
      EXPECT_NE(errors.find(c.says), std::string::npos) << errors;
    }
  }
}

TEST_F(ChromiumHost, RefusesToRunUnprotectedAndAnswersHelp) {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                 L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects");
  HostProcess host;
  host.CloseInput();
  EXPECT_EQ(host.Wait(), 3);
  EXPECT_EQ(host.Rest(), "");
  EXPECT_NE(host.Errors().find("ostrel-regsvr"), std::string::npos) << host.Errors();

  const ProgramRun help = RunProgram(OSTREL_CHROMIUM_HOST, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: ostrel-chromium-host"), std::string::npos);
}
