// ostrel-reg: see RegTool.h.
#include <iostream>
#include <string>
#include <vector>

#include "platform/CommandLine.h"
#include "reg/RegTool.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = ostrel::platform::CommandLineArguments(argc, argv);
  return ostrel::tools::reg::Run(args, std::cout, std::cerr);
}
