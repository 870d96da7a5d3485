// Internal to the platform layer (not for the system code): the user's
// folders as the XDG base-directory rules name them, and private folder
// creation. Paths are bytes as the file system has them. Thread-safe as far
// as the environment is not changed concurrently.
#pragma once

#include <string>

namespace ostrel::platform::folders {

// The user's home: $HOME when absolute, else the password database's entry;
// empty when neither is known.
std::string HomeFolder();

// $XDG_CONFIG_HOME when absolute, else <home>/.config; empty when unknown.
std::string ConfigHome();

// $XDG_CACHE_HOME when absolute, else <home>/.cache; empty when unknown.
std::string CacheHome();

// Creates the folder and its missing parents, each new one with mode 0700.
// Returns 0 when the folder exists afterwards, else the errno value
// (ENOTDIR when something that is not a folder is in the way).
int MakePrivateFolders(const std::string& path);

// True when path is a folder (not a link) owned by this user that no one
// else may read, write or enter.
bool IsPrivateFolder(const std::string& path);

}  // namespace ostrel::platform::folders
