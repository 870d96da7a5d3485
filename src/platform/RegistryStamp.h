// Internal to the platform layer and its one reader, CRegistry's cache:
// this layer's form of registry change notification. Every change of the
// registry store, by any process using this layer, bumps a counter kept
// in a small file beside the store (registry.db-stamp) that each process
// maps, so a reader learns in a memory load whether the store may have
// changed since it last read it. Thread-safe; the mapping is the
// process's, remapped when the store's path comes to name another folder
// and checked against the file's identity once a second (a folder removed
// and made again is noticed within that time). Changes made to the store
// file by other programs are not seen.
#pragma once

#include <cstdint>

namespace ostrel::platform::registry {

struct ChangeStamp {
  std::uint64_t mapping = 0;  // which stamp file, as numbered by this process
  std::uint64_t count = 0;    // its counter
  bool operator==(const ChangeStamp& o) const { return mapping == o.mapping && count == o.count; }
  bool operator!=(const ChangeStamp& o) const { return !(*this == o); }
};

// The store's stamp now. False when none can be had (no store folder yet,
// or a stamp file or folder that is not this user's own or that others may
// write to): nothing read may then be kept.
bool ReadChangeStamp(ChangeStamp* stamp) noexcept;

// Called after every change of the store, committed or not.
void BumpChangeStamp() noexcept;

}  // namespace ostrel::platform::registry
