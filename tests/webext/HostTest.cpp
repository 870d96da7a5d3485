// ostrel-webext-host as a browser runs it: a process spoken to in native
// messaging over pipes, with the real module registered and its list
// downloaded from ostrel-serve on 127.0.0.1. What the filter asks of a tab
// comes back as one message, for a frame as for the tab, for a navigation
// a rule stopped as for any other, and for a tab's newest navigation only
// when many queue; the list's rules go out whenever the extension lacks
// them. Anything the host cannot read ends it with a line on standard
// error and never a partial message on standard output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "webext/MessageReader.h"
#include "webext/MessageWriter.h"
#include "common/ChildProcess.h"
#include "common/TestEnv.h"
#include "host/FilterSite.h"
#include "host/Programs.h"
#include "platform/WinReg.h"
#include "settings/Registry.h"
#include "settings/Settings.h"

using namespace ostrel::test;
using namespace ostrel::webext;
using nlohmann::json;

namespace {

// The host with its standard input and output on pipes and its standard
// error in a file, spoken to in whole messages.
class HostProcess {
 public:
  HostProcess()
      : m_errors(TestRoot() + "/host-stderr.txt"),
        m_program({OSTREL_WEBEXT_HOST, "chrome-extension://kkbbcamifbbpgpliadehmfpboejmedcg/"},
                  m_errors) {}

  void SendRaw(const std::string& bytes) { m_program.Write(bytes); }
  void Send(const json& message) { SendRaw(Frame(message.dump())); }
  void CloseInput() { m_program.CloseInput(); }

  // The next whole message other than the list's rules (kept for
  // NextRules), or nothing at the end of the output, after a timeout, or
  // when what came is not a whole JSON object.
  std::optional<json> Receive(int timeoutMs = 20000) {
    for (;;) {
      std::optional<json> message = ReceiveAny(timeoutMs);
      if (!message || message->value("type", "") != "rules") return message;
      m_rules.push_back(std::move(*message));
    }
  }

  // The "rules" messages received so far and not taken by NextRules.
  std::size_t RulesWaiting() const { return m_rules.size(); }

  // The parts of the next rule set, in order: all of one digest, numbered
  // 0 to parts-1. Nothing when another message comes between or in time.
  std::optional<std::vector<json>> NextRules(int timeoutMs = 20000) {
    std::vector<json> parts;
    do {
      if (m_rules.empty()) {
        std::optional<json> message = ReceiveAny(timeoutMs);
        if (!message || message->value("type", "") != "rules") return std::nullopt;
        m_rules.push_back(std::move(*message));
      }
      parts.push_back(std::move(m_rules.front()));
      m_rules.pop_front();
      const json& part = parts.back();
      if (part.value("part", -1) != static_cast<int>(parts.size() - 1) ||
          part.value("digest", "") != parts[0].value("digest", ""))
        return std::nullopt;
    } while (static_cast<int>(parts.size()) < parts[0].value("parts", 0));
    return parts;
  }

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
  std::deque<json> m_rules;
};

json BeforeNavigate(int tab, const std::string& url) {
  return {{"type", "before-navigate"}, {"tabId", tab}, {"url", url}};
}

// A navigation event of the tab (frame 0) or one of its frames.
json Event(const char* type, int tab, int frame, const std::string& url) {
  return {{"type", type}, {"tabId", tab}, {"frameId", frame}, {"url", url}};
}

json Allow(int tab, int frame, const std::string& url) {
  return {{"type", "allow"}, {"tabId", tab}, {"frameId", frame}, {"url", url}};
}

json NavigateTo(int tab, const std::string& url) {
  return {{"type", "navigate"}, {"tabId", tab}, {"url", url}};
}

class WebExtHost : public testing::Test {
 protected:
  void SetUp() override {
    const ProgramRun registered = RunProgram(OSTREL_REGSVR, {OSTREL_MODULE});
    ASSERT_EQ(registered.status, 0) << registered.err;
    CSettings::SetBHOVersion(CSettings::BuildNumber);  // no first-run reset to the public server
  }

  // The warning pages served with a list naming a white, a grey and a
  // black site the way imported feeds name hosts, and a black entry no
  // host rule can express.
  void ServeList() {
    site = std::make_unique<FilterSite>(
        "w ^([a-z0-9-]+\\.)*good\\.localhost(:|/|$)\n"
        "g ^([a-z0-9-]+\\.)*grey\\.localhost(:|/|$)\n"
        "b ^([a-z0-9-]+\\.)*evil\\.localhost(:|/|$)\n"
        "b /paypa1-login\n");
    ASSERT_FALSE(site->Base().empty());
  }

  // The filter polls nothing but a closed port of this machine.
  static void UpdatesGoNowhere() {
    CSettings::SetMDRemoteUri(L"http://127.0.0.1:9/md");
    CSettings::SetDBRemoteUpdUri(L"http://127.0.0.1:9/db");
  }

  // Started, greeted, and (when serving) its filter's list downloaded; the
  // window's message says which rules the extension has in place.
  // (nullopt: an extension that applies no rules, as Firefox's).
  std::unique_ptr<HostProcess> Start(bool withList,
                                     const std::optional<std::string>& rulesDigest = "") {
    auto host = std::make_unique<HostProcess>();
    const std::optional<json> hello = host->Receive();
    EXPECT_TRUE(hello && hello->value("type", "") == "hello" && hello->value("helpers", 0) == 1 &&
                hello->value("pid", 0) > 0)
        << (hello ? hello->dump() : "no hello");
    if (withList) {
      EXPECT_TRUE(Eventually([] { return CSettings::GetPDBUN(-1) >= 0; }, 30000))
          << "the filter never downloaded its list";
    }
    json window = {{"type", "window"}, {"windowId", 4}};
    if (rulesDigest) window["rulesDigest"] = *rulesDigest;
    host->Send(window);
    return host;
  }

  std::string Site(const std::string& name, const std::string& path = "/") const {
    return site->Site(name, path);
  }

  // The answer sending the tab to the black warning page about url.
  json Warning(int tab, const std::string& url) const {
    return NavigateTo(tab, site->Base() + "black.html?var1=ZORTBHO&var2=black&var3=" + url);
  }

  // The click-through key of the grey warning the tab was sent to about
  // url; a failure and "" when the answer is anything else.
  std::string GreyKey(const std::optional<json>& answer, int tab, const std::string& url) const {
    const std::string prefix =
        site->Base() + "grey.html?var1=ZORTBHO&var2=grey&var3=" + url + "&var4=";
    const std::string page = answer ? answer->value("url", "") : "";
    const bool warned = answer && answer->value("type", "") == "navigate" &&
                        answer->value("tabId", 0) == tab && page.rfind(prefix, 0) == 0 &&
                        page.size() > prefix.size() + 2;
    EXPECT_TRUE(warned) << (answer ? answer->dump() : "no answer") << " for " << url;
    return warned ? page.substr(prefix.size()) : std::string();
  }

  // A probe with a known answer: what was sent before it got none.
  void ExpectNothingBefore(HostProcess& host, const std::string& what) {
    host.Send(BeforeNavigate(99, Site("evil")));
    EXPECT_EQ(host.Receive(), Warning(99, Site("evil"))) << what;
  }

  std::unique_ptr<FilterSite> site;
};

// A rule set as the extension puts it in place: every part's entries.
struct RuleSet {
  std::string digest;
  std::vector<std::string> hosts;  // sorted
  json paths = json::array();
  std::string marker;
};

RuleSet Gather(const std::vector<json>& parts) {
  RuleSet set;
  set.digest = parts.at(0).value("digest", "");
  set.marker = parts.at(0).value("marker", "");
  for (const json& part : parts) {
    for (const json& host : part.value("hosts", json::array())) 
      set.hosts.push_back(host.is_string() ? host.get<std::string>() : host.dump());
    for (const json& path : part.value("paths", json::array())) set.paths.push_back(path);
  }
  std::sort(set.hosts.begin(), set.hosts.end());
  return set;
}

// The next rule set other than the one the extension has (`have`): the
// same rules again are passed over (a list loaded anew before the window
// said what it had is sent once more).
std::optional<RuleSet> NextChange(HostProcess& host, const std::string& have, int timeoutMs) {
  const auto deadline = Program::Deadline(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    const std::optional<std::vector<json>> parts = host.NextRules(static_cast<int>(left.count()));
    if (!parts) return std::nullopt;
    RuleSet set = Gather(*parts);
    if (set.digest != have) return set;
  }
}

void SetPaused(DWORD paused) {
  CRegistry::WriteDword(paused, L"BHOPaused", L"SOFTWARE\\Ostrel\\AntiPhish", HKEY_CURRENT_USER);
}

}  // namespace

TEST_F(WebExtHost, SendsTheTabToTheWarningPageAndLetsTheUserContinueOnGrey) {
  ServeList();
  std::unique_ptr<HostProcess> host = Start(true);
  host->Send(BeforeNavigate(1, Site("www.evil", "/a?b=c")));
  EXPECT_EQ(host->Receive(), Warning(1, Site("www.evil", "/a%3Fb=c")));

  host->Send(BeforeNavigate(2, Site("grey", "/index.html")));
  const std::string key = GreyKey(host->Receive(), 2, Site("grey", "/index.html"));
  ASSERT_FALSE(key.empty());

  // "continue": the click-through is verified and the site reloaded without
  // its key; from then on the site passes.
  host->Send(BeforeNavigate(2, Site("grey", "/index.html") + key));
  EXPECT_EQ(host->Receive(), NavigateTo(2, Site("grey", "/index.html")));
  host->Send(BeforeNavigate(2, Site("grey", "/index.html")));
  host->Send({{"type", "committed"}, {"tabId", 2}, {"url", Site("grey", "/index.html")}});
  host->Send(BeforeNavigate(2, Site("grey", "/other.html")));
  ExpectNothingBefore(*host, "the grey site after continue");

  host->Send(BeforeNavigate(3, "http://clean.localhost/"));
  host->Send(BeforeNavigate(3, "chrome://newtab/"));
  host->Send(BeforeNavigate(3, "data:text/html,<b>x</b>"));
  host->Send(BeforeNavigate(3, "http://clean.localhost/" + std::string(70000, 'a')));
  host->Send({{"type", "completed"}, {"tabId", 3}, {"url", "http://clean.localhost/"}});
  ExpectNothingBefore(*host, "clean and non-http addresses");

  // A navigation whose first event was missed is still caught once committed.
  host->Send({{"type", "committed"}, {"tabId", 5}, {"url", Site("evil", "/late")}});
  EXPECT_EQ(host->Receive(), Warning(5, Site("evil", "/late")));

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
  ExpectNothingBefore(*host, "ignored messages");

  host->Send({{"type", "window-removed"}});
  EXPECT_EQ(host->Wait(), 0);
  EXPECT_EQ(host->Rest(), "");
  const std::string errors = host->Errors();
  EXPECT_NE(errors.find("ostrel-webext-host: unknown message type \"reload\""), std::string::npos)
      << errors;
  EXPECT_NE(errors.find("without a whole-number tabId"), std::string::npos) << errors;
  EXPECT_NE(errors.find("without a url string"), std::string::npos) << errors;
  EXPECT_NE(errors.find("too long for a message"), std::string::npos) << errors;
  EXPECT_NE(errors.find("Ostrel Anti-Phishing Filter: the command failed"), std::string::npos)
      << errors;
}

// Chromium is handed the address whose host the filter reads, not a
// setting's text as written; an address a browser refuses stops the tab.
TEST_F(WebExtHost, HandsTheBrowserTheCanonicalAddress) {
  ServeList();
  const std::string port = site->Base().substr(site->Base().rfind(':') + 1);  // "PORT/"
  const struct {
    std::wstring blackPage;  // as the setting holds it
    json answer;
  } rows[] = {
      {L"HTTP://127.0.0.1:" + ostrel::platform::FromUtf8(port) + L"sub\\..\\black.html",
       Warning(1, Site("evil"))},
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

TEST_F(WebExtHost, ABrokenChannelEndsTheHostWithALineAndNoPartialMessage) {
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
      EXPECT_EQ(errors.rfind("ostrel-webext-host: ", 0), 0u) << errors;
      EXPECT_NE(errors.find(c.says), std::string::npos) << errors;
    }
  }
}

TEST_F(WebExtHost, RefusesToRunUnprotectedAndAnswersHelp) {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                 L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects");
  HostProcess host;
  host.CloseInput();
  EXPECT_EQ(host.Wait(), 3);
  EXPECT_EQ(host.Rest(), "");
  EXPECT_NE(host.Errors().find("ostrel-regsvr"), std::string::npos) << host.Errors();

  const ProgramRun help = RunProgram(OSTREL_WEBEXT_HOST, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: ostrel-webext-host"), std::string::npos);
}

// The extension gets the hosts a rule can stop before the request leaves:
// at the start, again whenever they change (pausing the filter lifts them),
// and not at all when it has them already (another window of the profile).
TEST_F(WebExtHost, GivesTheExtensionTheListsHostRulesWhenItLacksThem) {
  ServeList();
  std::unique_ptr<HostProcess> host = Start(true);
  const std::optional<RuleSet> full = NextChange(*host, "", 20000);
  ASSERT_TRUE(full) << "no rules after the start";
  // Black and grey hosts only: not the white one, not the entry without a host.
  EXPECT_EQ(full->hosts, (std::vector<std::string>{"evil.localhost", "grey.localhost"}));
  EXPECT_EQ(full->paths, json::array());
  EXPECT_FALSE(full->digest.empty());

  // The marker rule catches an address carrying the key a grey warning
  // gives, and not the address without it.
  host->Send(BeforeNavigate(1, Site("grey", "/a")));
  const std::string key = GreyKey(host->Receive(), 1, Site("grey", "/a"));
  const std::regex marker(full->marker);
  EXPECT_TRUE(std::regex_search(Site("grey", "/a") + key, marker)) << full->marker << " " << key;
  EXPECT_FALSE(std::regex_search(Site("grey", "/a"), marker)) << full->marker;

  // An idle host looks at the switch every few seconds.
  SetPaused(1);
  const std::optional<RuleSet> none = NextChange(*host, full->digest, 10000);
  ASSERT_TRUE(none) << "pausing left the rules in place";
  EXPECT_TRUE(none->hosts.empty());
  EXPECT_EQ(none->paths, json::array());
  SetPaused(0);
  const std::optional<RuleSet> again = NextChange(*host, none->digest, 10000);
  ASSERT_TRUE(again) << "resuming did not put the rules back";
  EXPECT_EQ(again->digest, full->digest);
  EXPECT_EQ(again->hosts, full->hosts);
  host->CloseInput();
  EXPECT_EQ(host->Wait(), 0);

  // A second window's extension has these rules in place. The first probe
  // shows the list loaded; the second comes after the host looked at the
  // rules with the list loaded.
  std::unique_ptr<HostProcess> second = Start(true, full->digest);
  ExpectNothingBefore(*second, "the list loaded");
  ExpectNothingBefore(*second, "the rules looked at");
  EXPECT_EQ(second->RulesWaiting(), 0u) << "rules the extension has were sent again";
  second->CloseInput();
  EXPECT_EQ(second->Wait(), 0);

  // An extension that applies no rules (Firefox's) is sent none.
  std::unique_ptr<HostProcess> third = Start(true, std::nullopt);
  ExpectNothingBefore(*third, "the list loaded");
  ExpectNothingBefore(*third, "the rules looked at");
  EXPECT_EQ(third->RulesWaiting(), 0u) << "rules sent to an extension that applies none";
  third->CloseInput();
  EXPECT_EQ(third->Wait(), 0);
}

// What a rule stopped before the request left is decided as any navigation:
// a listed address gets its warning, what the filter lets through is handed
// back to go on, and a click-through key is checked, never passed on.
TEST_F(WebExtHost, DecidesOnWhatARuleStoppedAndHandsBackWhatItAllows) {
  ServeList();
  std::unique_ptr<HostProcess> host = Start(true);
  host->Send(Event("blocked", 1, 0, Site("evil", "/login")));
  EXPECT_EQ(host->Receive(), Warning(1, Site("evil", "/login")));

  for (const std::string& allowed : {Site("good", "/"), std::string("http://clean.localhost/a")}) {
    host->Send(Event("blocked", 2, 7, allowed));
    EXPECT_EQ(host->Receive(), Allow(2, 7, allowed));
  }

  const std::string grey = Site("grey", "/form");
  host->Send(Event("blocked", 3, 0, grey));
  const std::string key = GreyKey(host->Receive(), 3, grey);
  ASSERT_FALSE(key.empty());
  host->Send(Event("blocked", 3, 0, grey + key));
  EXPECT_EQ(host->Receive(), NavigateTo(3, grey)) << "the key is checked and goes no further";
  host->Send(Event("blocked", 3, 0, grey));
  EXPECT_EQ(host->Receive(), Allow(3, 0, grey)) << "the site the user chose to visit";

  // The verdict on an address the extension had to cut is no verdict on
  // the address itself: it is not let through.
  json cut = Event("blocked", 4, 0, "http://clean.localhost/");
  cut["truncated"] = true;
  host->Send(cut);
  ExpectNothingBefore(*host, "a cut address");
}

// Firefox holds each request until its answer: every request is answered,
// with its id, whatever the verdict; one a newer navigation of the tab made
// pointless is told so, and a cut address never goes on.
TEST_F(WebExtHost, AnswersEveryWaitingRequestWithItsId) {
  ServeList();
  std::unique_ptr<HostProcess> host = Start(true);
  const auto request = [](int tab, int frame, const std::string& url, const std::string& id) {
    json message = Event("request", tab, frame, url);
    message["requestId"] = id;
    return message;
  };
  const auto with = [](json answer, const std::string& id) {
    answer["requestId"] = id;
    return answer;
  };
  host->Send(request(1, 0, Site("evil", "/login"), "r1"));
  EXPECT_EQ(host->Receive(), with(Warning(1, Site("evil", "/login")), "r1"));
  host->Send(request(1, 5, "http://clean.localhost/a", "r2"));
  EXPECT_EQ(host->Receive(), with(Allow(1, 5, "http://clean.localhost/a"), "r2"));
  host->Send(request(1, 0, "http://clean.localhost/paypa1-login", "r3"));
  EXPECT_EQ(host->Receive(), with(Warning(1, "http://clean.localhost/paypa1-login"), "r3"))
      << "an entry no rule expresses, decided before the request leaves";

  const std::string grey = Site("grey", "/form");
  host->Send(request(2, 0, grey, "g1"));
  std::optional<json> warned = host->Receive();
  ASSERT_TRUE(warned);
  EXPECT_EQ(warned->value("requestId", ""), "g1");
  warned->erase("requestId");
  const std::string key = GreyKey(warned, 2, grey);
  ASSERT_FALSE(key.empty());
  host->Send(request(2, 0, grey + key, "g2"));
  EXPECT_EQ(host->Receive(), with(NavigateTo(2, grey), "g2"));
  host->Send(request(2, 0, grey, "g3"));
  EXPECT_EQ(host->Receive(), with(Allow(2, 0, grey), "g3"));

  json cut = request(3, 0, "http://clean.localhost/", "c1");
  cut["truncated"] = true;
  host->Send(cut);
  EXPECT_EQ(host->Receive(), json({{"type", "stop"}, {"tabId", 3}, {"requestId", "c1"}}));

  // Read together: the first is superseded by the tab's newer request.
  host->SendRaw(Frame(request(4, 0, Site("evil", "/old"), "s1").dump()) +
                Frame(request(4, 0, "http://clean.localhost/new", "s2").dump()));
  EXPECT_EQ(host->Receive(), json({{"type", "superseded"}, {"requestId", "s1"}}));
  EXPECT_EQ(host->Receive(), with(Allow(4, 0, "http://clean.localhost/new"), "s2"));

  host->Send({{"type", "request"}, {"tabId", 5}, {"url", Site("evil")}});
  ExpectNothingBefore(*host, "a request without its id");
  host->CloseInput();
  EXPECT_EQ(host->Wait(), 0);
  EXPECT_NE(host->Errors().find("without a requestId"), std::string::npos) << host->Errors();
}

// A frame's navigation is judged by its own address, whichever of its
// events the host hears of, and a listed frame sends its tab to the warning
// page; a frame's load finishing adds nothing.
TEST_F(WebExtHost, AListedFrameSendsItsTabToTheWarningPage) {
  ServeList();
  std::unique_ptr<HostProcess> host = Start(true);
  host->Send(Event("before-navigate", 4, 3, Site("evil", "/frame")));
  EXPECT_EQ(host->Receive(), Warning(4, Site("evil", "/frame")));

  host->Send(Event("committed", 5, 0, "http://clean.localhost/"));
  host->Send(Event("committed", 5, 3, Site("evil", "/ad")));
  EXPECT_EQ(host->Receive(), Warning(5, Site("evil", "/ad")));
  // An entry no rule expresses is still caught in a frame.
  host->Send(Event("committed", 5, 3, "http://clean.localhost/paypa1-login"));
  EXPECT_EQ(host->Receive(), Warning(5, "http://clean.localhost/paypa1-login"));

  host->Send(Event("completed", 6, 3, Site("evil", "/ad")));
  ExpectNothingBefore(*host, "a frame's completed load");
}

// A page that queues navigation after navigation is answered for what the
// tab ends up loading, in order, without working through the queue: the
// host reads what is waiting (up to a thousand messages) before it answers,
// and of a tab's navigations read together answers only the newest. The
// burst is written in one go, far faster than the filter decides, so each
// read takes hundreds of messages and a few answers come for 3000.
TEST_F(WebExtHost, APageQueueingNavigationsIsAnsweredForItsNewest) {
  ServeList();
  std::unique_ptr<HostProcess> host = Start(true);
  const auto queued = [&](int i) { return Site("evil", "/queued/" + std::to_string(i)); };
  std::string burst;
  for (int i = 10000; i < 13000; ++i) burst += Frame(BeforeNavigate(1, queued(i)).dump());
  burst += Frame(BeforeNavigate(1, "http://clean.localhost/").dump());
  burst += Frame(BeforeNavigate(99, Site("evil")).dump());
  // Written beside the reading, so a host answering everything fills no pipe.
  std::thread writer([&] { host->SendRaw(burst); });
  std::vector<int> answered;
  std::optional<json> answer;
  while ((answer = host->Receive()) && answer->value("tabId", 0) == 1) {
    const std::string url = answer->value("url", "");
    const std::size_t at = url.rfind("/queued/");
    const int i = at == std::string::npos ? -1 : std::atoi(url.c_str() + at + 8);
    EXPECT_EQ(*answer, Warning(1, queued(i)));
    answered.push_back(i);
  }
  writer.join();
  EXPECT_EQ(answer, Warning(99, Site("evil"))) << "the clean address answered, or the probe lost";
  EXPECT_LT(answered.size(), 100u);
  EXPECT_TRUE(std::adjacent_find(answered.begin(), answered.end(), std::greater_equal<int>()) ==
              answered.end())
      << "answers out of order";
}
