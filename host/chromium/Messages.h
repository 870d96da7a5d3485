// The messages between the extension and the host, as JSON objects with a
// "type": decoding what the extension sends (types and fields checked
// before use; nothing here throws) and encoding what the host answers.
// Addresses are wide text inside, UTF-8 on the wire. Pure functions;
// thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace ostrel::chromium {

enum class MessageType {
  Window,          // windowId: the browser window this host serves
  BeforeNavigate,  // tabId, url: a top-level navigation is about to start
  Committed,       // tabId, url: it committed; the tab's location is url
  Completed,       // tabId, url: it finished loading
  TabRemoved,      // tabId
  Tools,           // the toolbar button: the filter's Tools-menu command
  WindowRemoved,   // the window closed
};

struct Message {
  MessageType type = MessageType::Tools;
  std::int64_t windowId = 0;  // Window only
  std::int64_t tabId = 0;     // the tab's messages only
  std::wstring url;           // BeforeNavigate, Committed, Completed
  bool truncated = false;     // the extension cut a longer url
};

enum class DecodeResult {
  Ok,           // *message is filled
  Ignored,      // an object, but of an unknown type or with a field missing or mistyped
  NotAnObject,  // not JSON, or JSON that is not an object: the channel is broken
};

// On Ignored and NotAnObject, *why says what was wrong.
DecodeResult Decode(const std::string& text, Message* message, std::string* why);

std::string EncodeHello(long pid, std::size_t helpers);
std::string EncodeNavigate(std::int64_t tabId, const std::wstring& url);
std::string EncodeStop(std::int64_t tabId);

}  // namespace ostrel::chromium
