// Internal to the platform layer (WinReg.h is the interface): the registry's
// SQLite store, $XDG_CONFIG_HOME/ostrel/registry.db. Each function is one
// transaction, callable from any thread or forked process; results are
// ERROR_* codes. Reads go through a read-only connection kept by the calling
// thread (no values are kept here: each read is a transaction on the file,
// which SQLite checks for other connections' commits; RegistryReadCache.h
// keeps answers above this, and every change bumps RegistryStamp.h's
// counter once it is over); it is opened afresh
// after a fork and when the store path changes or comes to name another
// file or mode. Changes use a connection of their own, as does a read after
// its thread's exit handlers have run. Names are UTF-8 as the caller gave
// them; a key is named by its folded path (FoldName of each element, joined
// with '\', "" for the hive itself).
// A missing store reads as empty. A folder or file that is not this user's
// own, or that others may write to, is refused: ERROR_ACCESS_DENIED for
// every call. A damaged store (or a database that is not a registry store)
// gives ERROR_REGISTRY_CORRUPT to reads; the next change renames it beside
// itself (registry.db.damaged-<UTC time>, kept for inspection) and is made
// in a new store. Refusals and damage are reported on standard error once
// per process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace ostrel::platform::registry {

// Hive numbers as stored.
constexpr int kClassesRoot = 0;
constexpr int kCurrentUser = 1;
constexpr int kLocalMachine = 2;

// The identity of a name: its ASCII letters upper-cased.
std::string FoldName(const std::string& name);

// The folded path of the key base\elements.
std::string FoldedPath(const std::string& base, const std::vector<std::string>& elements);

// The store file for the current environment; empty when no folder is known.
std::string StorePath();

// Finds (and, when allowed, creates) the key base\elements. On success
// *path is its folded path and *created tells whether the last element was
// new. A missing key with creation not allowed gives ERROR_ACCESS_DENIED;
// base itself missing gives ERROR_KEY_DELETED.
DWORD CreateKey(int hive, const std::string& base, const std::vector<std::string>& elements,
                bool mayCreate, std::string* path, bool* created);

// Finds the key base\elements: ERROR_SUCCESS with its folded path, or
// ERROR_FILE_NOT_FOUND (ERROR_KEY_DELETED when base itself is missing).
DWORD OpenKey(int hive, const std::string& base, const std::vector<std::string>& elements,
              std::string* path);

DWORD SetValue(int hive, const std::string& key, const std::string& name, DWORD type,
               const std::string& data);
DWORD QueryValue(int hive, const std::string& key, const std::string& name, DWORD* type,
                 std::string* data);
DWORD DeleteValue(int hive, const std::string& key, const std::string& name);

// Deletes every subkey of key and every value in them and in key, and key
// itself when includeSelf (never the hive).
DWORD DeleteTree(int hive, const std::string& key, bool includeSelf);

// The index-th subkey of key in folded-name order: its name and last write
// time (FILETIME units); ERROR_NO_MORE_ITEMS past the last.
DWORD EnumKey(int hive, const std::string& key, DWORD index, std::string* name,
              std::uint64_t* written);

// The index-th value of key in the order values were first set.
DWORD EnumValue(int hive, const std::string& key, DWORD index, std::string* name, DWORD* type,
                std::string* data);

// Checks every page of the store, also those no call of the moment visits:
// ERROR_SUCCESS for a sound store or none, else as a read fails.
DWORD CheckStore();

}  // namespace ostrel::platform::registry
