#include "webext/MessageBatch.h"

#include <cstdint>
#include <set>

namespace ostrel::webext {

std::vector<bool> Superseded(const std::vector<Message>& batch) {
  std::vector<bool> superseded(batch.size(), false);
  std::set<std::int64_t> moving;  // tabs with a newer navigation of their own, seen from the end
  for (std::size_t i = batch.size(); i-- > 0;) {
    const Message& m = batch[i];
    if (!IsNavigation(m.type)) continue;
    if (moving.count(m.tabId)) superseded[i] = true;
    const bool starts = m.type == MessageType::BeforeNavigate || m.type == MessageType::Blocked ||
                        m.type == MessageType::Request;
    if (starts && m.frameId == 0) moving.insert(m.tabId);
  }
  return superseded;
}

}  // namespace ostrel::webext
