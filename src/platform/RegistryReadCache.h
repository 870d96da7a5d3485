// Internal to the platform layer (used by Registry.cpp): the registry's
// read cache. Key look-ups and value reads are answered from memory while
// the store is known to be unchanged since the kept read began:
//  - no change was made through this layer by any process (the store's
//    change stamp, RegistryStamp.h, taken before the read that was kept);
//  - for values, also the store file looks as it did then (lstat:
//    identity, owner, mode, size, change times), so a store that anything
//    else removed, replaced (a link in its place included), rewrote or made
//    unsafe is read afresh, and its refusal or damage reported as without
//    the cache.
// Only the file is looked at, not its folder (each look is a system call,
// a microsecond or two on a virtual machine): a value read from the sound
// store is still answered after its folder alone is made unsafe (other
// users may write to it, or it is swapped for a link to itself), until the
// file changes; nothing another user could have written is ever answered,
// and every other read and every change is refused as usual.
// A key look-up is trusted on the stamp alone: it only hands out a handle,
// and every value read through that handle checks the file as above (as
// on Windows, a key may be gone by the time its handle is used).
// Only answers the store gave are kept (found, value or key missing);
// failures to read it (refused, damaged, busy, out of memory) are asked
// again every time. A value read that finds the file changed empties the
// cache. Thread-safe: one mutex, never held while the store is read.
// Bounded: emptied when it holds kMaxKept answers.
#pragma once

#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace ostrel::platform::registry {

constexpr std::size_t kMaxKept = 4096;

// As OpenKey and QueryValue of RegistryStore.h, answered from memory when
// they may be.
DWORD CachedOpenKey(int hive, const std::string& base, const std::vector<std::string>& elements,
                    std::string* path);
DWORD CachedQueryValue(int hive, const std::string& key, const std::string& name, DWORD* type,
                       std::string* data);

}  // namespace ostrel::platform::registry
