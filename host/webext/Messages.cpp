#include "webext/Messages.h"

#include <nlohmann/json.hpp>

#include "platform/Utf8.h"

namespace ostrel::webext {

namespace {

using nlohmann::json;

struct Kind {
  const char* name;
  MessageType type;
  bool tab;  // has tabId
  bool url;  // has url
};

const Kind kKinds[] = {
    {"window", MessageType::Window, false, false},
    {"before-navigate", MessageType::BeforeNavigate, true, true},
    {"committed", MessageType::Committed, true, true},
    {"completed", MessageType::Completed, true, true},
    {"blocked", MessageType::Blocked, true, true},
    {"request", MessageType::Request, true, true},
    {"tab-removed", MessageType::TabRemoved, true, false},
    {"tools", MessageType::Tools, false, false},
    {"window-removed", MessageType::WindowRemoved, false, false},
};

// A whole number that fits: ids are integers in the browser.
bool Integer(const json& object, const char* name, std::int64_t* value) {
  const auto field = object.find(name);
  if (field == object.end()) return false;
  if (field->is_number_integer() && !(field->is_number_unsigned() &&
                                      field->get<std::uint64_t>() > INT64_MAX)) {
    *value = field->get<std::int64_t>();
    return true;
  }
  return false;
}

// Encoded text is UTF-8; a wide value that is no code point was already
// replaced by the conversion, so dumping cannot fail.
std::string Dump(const json& object) {
  return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

DecodeResult Decode(const std::string& text, Message* message, std::string* why) {
  const json object = json::parse(text, nullptr, false);
  if (object.is_discarded()) {
    *why = "the message is not valid JSON";
    return DecodeResult::NotAnObject;
  }
  if (!object.is_object()) {
    *why = "the message is not a JSON object";
    return DecodeResult::NotAnObject;
  }
  const auto type = object.find("type");
  if (type == object.end() || !type->is_string()) {
    *why = "a message without a \"type\" string";
    return DecodeResult::Ignored;
  }
  const std::string& name = type->get_ref<const std::string&>();
  const Kind* kind = nullptr;
  for (const Kind& k : kKinds)
    if (name == k.name) kind = &k;
  if (!kind) {
    *why = "unknown message type \"" + name.substr(0, 64) + "\"";
    return DecodeResult::Ignored;
  }
  Message decoded;
  decoded.type = kind->type;
  if (kind->type == MessageType::Window && !Integer(object, "windowId", &decoded.windowId)) {
    *why = "a \"window\" message without a whole-number windowId";
    return DecodeResult::Ignored;
  }
  if (kind->tab && !Integer(object, "tabId", &decoded.tabId)) {
    *why = "a \"" + name + "\" message without a whole-number tabId";
    return DecodeResult::Ignored;
  }
  if (kind->url) {
    const auto url = object.find("url");
    if (url == object.end() || !url->is_string()) {
      *why = "a \"" + name + "\" message without a url string";
      return DecodeResult::Ignored;
    }
    decoded.url = platform::FromUtf8(url->get_ref<const std::string&>());
    const auto truncated = object.find("truncated");
    decoded.truncated = truncated != object.end() && truncated->is_boolean() &&
                        truncated->get<bool>();
    // Older extensions send no frameId: their events are the tab's own.
    if (object.contains("frameId") && !Integer(object, "frameId", &decoded.frameId)) {
      *why = "a \"" + name + "\" message with a frameId that is no whole number";
      return DecodeResult::Ignored;
    }
  }
  if (kind->type == MessageType::Request) {
    const auto id = object.find("requestId");
    if (id == object.end() || !id->is_string() || id->get_ref<const std::string&>().empty() ||
        id->get_ref<const std::string&>().size() > 64) {
      *why = "a \"request\" message without a requestId string of 1 to 64 characters";
      return DecodeResult::Ignored;
    }
    decoded.requestId = id->get<std::string>();
  }
  if (kind->type == MessageType::Window) {
    const auto digest = object.find("rulesDigest");
    decoded.wantsRules = digest != object.end() && digest->is_string();
    if (decoded.wantsRules) decoded.rulesDigest = digest->get<std::string>().substr(0, 64);
  }
  *message = std::move(decoded);
  return DecodeResult::Ok;
}

std::string EncodeHello(long pid, std::size_t helpers) {
  return Dump(json{{"type", "hello"}, {"pid", pid}, {"helpers", helpers}});
}

std::string EncodeNavigate(std::int64_t tabId, const std::wstring& url,
                           const std::string& requestId) {
  json answer{{"type", "navigate"}, {"tabId", tabId}, {"url", platform::ToUtf8(url)}};
  if (!requestId.empty()) answer["requestId"] = requestId;
  return Dump(answer);
}

bool IsNavigation(MessageType type) {
  return type == MessageType::BeforeNavigate || type == MessageType::Committed ||
         type == MessageType::Completed || type == MessageType::Blocked ||
         type == MessageType::Request;
}

std::string EncodeAllow(std::int64_t tabId, std::int64_t frameId, const std::wstring& url,
                        const std::string& requestId) {
  json answer{{"type", "allow"}, {"tabId", tabId}, {"frameId", frameId}, {"url", platform::ToUtf8(url)}};
  if (!requestId.empty()) answer["requestId"] = requestId;
  return Dump(answer);
}

std::string EncodeStop(std::int64_t tabId, const std::string& requestId) {
  json answer{{"type", "stop"}, {"tabId", tabId}};
  if (!requestId.empty()) answer["requestId"] = requestId;
  return Dump(answer);
}

std::string EncodeSuperseded(const std::string& requestId) {
  return Dump(json{{"type", "superseded"}, {"requestId", requestId}});
}

}  // namespace ostrel::webext
