// ostrel-reg: the registry editor for users and administrators, shaped like
// the familiar "reg" tool: query, add and delete of keys and of REG_SZ and
// REG_DWORD values in the user's registry store. It never asks questions:
// what would need a confirmation is refused unless /f is given. Arguments
// and output are UTF-8 (arguments that are not are refused). A damaged store
// is reported as such, never listed in part. Not thread-safe (it is a
// program's main work).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace ostrel::tools::reg {

// Runs one command line (without the program name): the report goes to out,
// error messages and the usage text to err. Returns the exit status: 0 on
// success, 1 on any error, a report that could not be written included.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Parses REG_DWORD data: decimal, or hexadecimal after "0x", from 0 to
// 4294967295, nothing else (no sign, no spaces). Exposed for tests.
bool ParseDword(const std::string& text, unsigned long* value);

}  // namespace ostrel::tools::reg
