// ostrel-reg: see RegTool.h.
#include <iostream>
#include <string>
#include <vector>

#include "reg/RegTool.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return ostrel::tools::reg::Run(args, std::cout, std::cerr);
}
