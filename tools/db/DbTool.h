// ostrel-db: the publisher's tool for the phish database: enciphers and
// deciphers the container, checks plain text the way the filter reads it,
// explains which entry decides an address, and counts the entries a browser
// can stop before the request. Arguments are UTF-8; file
// names reach the file system as UTF-8; database bytes stay bytes. Output
// files are written beside their target and renamed over it, so a failed
// run leaves the target as it was. Not thread-safe (a program's main work).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace ostrel::tools::db {

// Exit statuses of the program.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // could not do the job, or the data is bad
constexpr int kExitUsage = 2;
constexpr int kExitForced = 3;  // decrypt --force wrote the bytes of a container that failed its checksum

// Runs one command line (without the program name): reports go to out,
// errors, warnings and notes to err (the usage text to out when asked for,
// to err after a usage error). Returns the exit status.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The commands, each with its exit status.
int EncryptFile(const std::wstring& plainPath, const std::wstring& outPath, std::ostream& err);
int DecryptFile(const std::wstring& inPath, const std::wstring& outPath, bool force,
                std::ostream& err);
int CheckFile(const std::wstring& plainPath, std::ostream& out, std::ostream& err);
int ExplainAddresses(const std::wstring& dbPath, const std::vector<std::wstring>& addresses,
                     std::ostream& out, std::ostream& err);
// How many black and grey entries of the database become pre-request rules;
// with verbose, each entry that does not.
int ReportRules(const std::wstring& dbPath, bool verbose, std::ostream& out, std::ostream& err);

// Whole-file reads and writes; on failure *error says why, naming the file.
// The write goes to a new file beside path that replaces it only when
// complete and flushed; path must not be a link or anything but a file.
bool ReadBytes(const std::wstring& path, std::string* bytes, std::string* error);
bool WriteBytesAtomically(const std::wstring& path, const std::string& bytes, std::string* error);

}  // namespace ostrel::tools::db
