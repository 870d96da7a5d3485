// Seeded phish lists of the shapes feeds hold, for the benchmark and the
// differential test of the candidate index: plain database text (one
// "kind pattern" line per entry) and addresses to look up. The hard shapes
// are lists where thousands of entries share the words the index might key
// on (numbered labels, common words, look-alike spellings, counted classes,
// ".*" between words, numeric hosts in ranges, hosts with paths), mixed
// with the entries a feed import writes. Pure functions of the seed; no
// state, any thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ostrel::test {

struct ShapedList {
  std::string text;                   // database lines
  std::size_t lines = 0;
  std::vector<std::wstring> hits;     // addresses some entry was written for
  std::vector<std::wstring> nearMisses;  // a hit with one of its literals changed
  std::vector<std::wstring> clean;    // well-known sites, none listed
};

// The entries a feed import writes: hosts with their subdomains, hosts
// with a path, host names written as they are (dots match anything),
// numeric hosts.
ShapedList FeedShapedList(std::size_t entries, unsigned seed);

// The hard shapes above, a quarter of them feed-import entries.
ShapedList HardShapedList(std::size_t entries, unsigned seed);

// Addresses of well-known sites, full of the words phish lists use.
const std::vector<std::wstring>& CleanAddresses();

}  // namespace ostrel::test
