#include "webext/RulesMessages.h"

#include <cstdint>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "platform/Utf8.h"

namespace ostrel::webext {

namespace {

using nlohmann::json;

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

}  // namespace

std::string RulesDigest(const std::wstring& text) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (const wchar_t c : text) {
    hash ^= static_cast<std::uint32_t>(c);
    hash *= 0x100000001b3ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return hex;
}

std::vector<std::string> EncodeRules(const std::wstring& text, std::size_t partBytes) {
  const std::string digest = RulesDigest(text);
  std::vector<json> parts(1, json{{"hosts", json::array()}, {"paths", json::array()}});
  std::size_t bytes = 0;
  std::string marker;
  const std::string utf8 = platform::ToUtf8(text);
  std::size_t start = 0;
  while (start < utf8.size()) {
    std::size_t end = utf8.find('\n', start);
    if (end == std::string::npos) end = utf8.size();
    const std::vector<std::string> f = Fields(utf8.substr(start, end - start));
    start = end + 1;
    json item;
    const char* list = nullptr;
    if (f.size() == 2 && f[0] == "host") {
      item = f[1];
      list = "hosts";
    } else if (f.size() == 3 && f[0] == "path") {
      item = json::array({f[1], f[2]});
      list = "paths";
    } else if (f.size() == 2 && f[0] == "marker") {
      marker = f[1];
      continue;
    } else {
      continue;
    }
    const std::size_t size = f[1].size() + (f.size() > 2 ? f[2].size() : 0) + 8;
    if (bytes + size > partBytes && bytes > 0) {
      parts.push_back(json{{"hosts", json::array()}, {"paths", json::array()}});
      bytes = 0;
    }
    parts.back()[list].push_back(std::move(item));
    bytes += size;
  }
  std::vector<std::string> messages;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    json& part = parts[i];
    part["type"] = "rules";
    part["digest"] = digest;
    part["part"] = i;
    part["parts"] = parts.size();
    if (i == 0) part["marker"] = marker;
    messages.push_back(part.dump(-1, ' ', false, json::error_handler_t::replace));
  }
  return messages;
}

}  // namespace ostrel::webext
