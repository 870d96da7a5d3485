// Windows: the arguments from the wide command line, not the narrow argv,
// which holds only what the ANSI code page can say.
#include "platform/CommandLine.h"

#include "platform/Utf8.h"
#include "platform/WinTypes.h"

#include <shellapi.h>

namespace ostrel::platform {

std::vector<std::string> CommandLineArguments(int, char**) {
  std::vector<std::string> arguments;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(ToUtf8(wide[i]));
  LocalFree(wide);
  return arguments;
}

}  // namespace ostrel::platform
