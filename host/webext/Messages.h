// The messages between the extension and the host, as JSON objects with a
// "type": decoding what the extension sends (types and fields checked
// before use; nothing here throws) and encoding what the host answers.
// Addresses are wide text inside, UTF-8 on the wire. Pure functions;
// thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace ostrel::webext {

enum class MessageType {
  Window,          // windowId, rulesDigest (from an extension that applies rules): the browser window this host serves
  BeforeNavigate,  // tabId, frameId, url: a navigation of the tab or a frame is about to start
  Committed,       // tabId, frameId, url: it committed (frame 0: the tab's location is url)
  Completed,       // tabId, frameId, url: it finished loading
  Blocked,         // tabId, frameId, url: a rule stopped it before the request left
  Request,         // tabId, frameId, url, requestId: its request waits for the answer
  TabRemoved,      // tabId
  Tools,           // the toolbar button: the filter's Tools-menu command
  WindowRemoved,   // the window closed
};

struct Message {
  MessageType type = MessageType::Tools;
  std::int64_t windowId = 0;  // Window only
  std::int64_t tabId = 0;     // the tab's messages only
  std::int64_t frameId = 0;   // navigation messages: 0 the tab itself, else one of its frames
  std::wstring url;           // navigation messages
  bool truncated = false;     // the extension cut a longer url
  bool wantsRules = false;    // Window: the extension applies the list's rules (Chromium's)
  std::string rulesDigest;    // Window: the digest of the rules it has in place
  std::string requestId;      // Request: echoed in its answer
};

// Whether a message is about one navigation of a tab (it has a frameId and a url).
bool IsNavigation(MessageType type);

enum class DecodeResult {
  Ok,           // *message is filled
  Ignored,      // an object, but of an unknown type or with a field missing or mistyped
  NotAnObject,  // not JSON, or JSON that is not an object: the channel is broken
};

// On Ignored and NotAnObject, *why says what was wrong.
DecodeResult Decode(const std::string& text, Message* message, std::string* why);

std::string EncodeHello(long pid, std::size_t helpers);
// The answers; requestId, when not empty, names the waiting request answered.
std::string EncodeNavigate(std::int64_t tabId, const std::wstring& url,
                           const std::string& requestId = "");
std::string EncodeStop(std::int64_t tabId, const std::string& requestId = "");
// The filter lets a navigation a rule blocked, or a waiting request, go on.
std::string EncodeAllow(std::int64_t tabId, std::int64_t frameId, const std::wstring& url,
                        const std::string& requestId = "");
// A waiting request a newer navigation of its tab made pointless.
std::string EncodeSuperseded(const std::string& requestId);

}  // namespace ostrel::webext
