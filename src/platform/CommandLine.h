// Platform layer: a program's command-line arguments, for the tools.
// Promises: the arguments after the program's name, as UTF-8, whatever
// the system's own form of them (UTF-16 on Windows, bytes here).
#pragma once

#include <string>
#include <vector>

namespace ostrel::platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace ostrel::platform
