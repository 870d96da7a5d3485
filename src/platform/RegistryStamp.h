// Internal to the platform layer and its one reader, the registry's read
// cache (RegistryReadCache.h): this layer's form of registry change
// notification. Every change of the registry store, by any process using
// this layer, bumps a counter kept in a small file beside the store
// (registry.db-stamp) that each process maps, so a reader learns in a
// memory load whether the store may have changed since it last read it.
// Thread-safe; the mapping is the process's (a forked child shares its
// parent's), remapped when the store's path changes, and checked against
// the stamp file's identity at every bump and, for readers, once a second
// or when they ask (a folder removed and made again). Changes made to the
// store file by other programs are not seen here.
#pragma once

#include <cstdint>
#include <string>

namespace ostrel::platform::registry {

struct ChangeStamp {
  std::uint64_t mapping = 0;  // which stamp file, as numbered by this process
  std::uint64_t count = 0;    // its counter
  bool operator==(const ChangeStamp& o) const { return mapping == o.mapping && count == o.count; }
  bool operator!=(const ChangeStamp& o) const { return !(*this == o); }
};

// The store's stamp now. False when none can be had (no store folder yet,
// or a stamp file or folder that is not this user's own or that others may
// write to): nothing read may then be kept. With recheck, the stamp file's
// identity is looked up now rather than trusted for up to a second.
// store is StorePath() as the caller found it.
bool ReadChangeStamp(const std::string& store, ChangeStamp* stamp, bool recheck = false) noexcept;

// Called after every change of the store, committed or not, once it is
// over: a reader that took the stamp before the change ended keeps what it
// read under the old stamp, which the bump then makes stale.
void BumpChangeStamp() noexcept;

}  // namespace ostrel::platform::registry
