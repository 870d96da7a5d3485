// The text IPhishListRules hands a host: the rules a browser can apply
// before a request leaves, derived from a list's black and grey entries
// (phishlist/HostRule.h says which entries a host rule covers; the rest are
// caught by the scan after the fact). Pure functions; thread-safe.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "phishlist/PhishListItem.h"

// The rules text for entries in list order. A paused filter stops nothing,
// so its text is empty.
std::wstring ListRulesText(const std::vector<std::pair<ListKind, std::wstring>>& patterns,
                           bool paused);
