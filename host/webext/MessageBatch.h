// What a host can skip among the messages it read together: a page that
// queues navigation after navigation must not make the verdict on the
// newest wait behind verdicts on addresses nobody will see. A navigation
// event of a tab is superseded when, later in the same batch, the tab
// itself (frame 0) starts another navigation, has one blocked, or has its
// request wait. Pure;
// thread-safe.
#pragma once

#include <vector>

#include "webext/Messages.h"

namespace ostrel::webext {

// One flag a message: true where the message is superseded.
std::vector<bool> Superseded(const std::vector<Message>& batch);

}  // namespace ostrel::webext
