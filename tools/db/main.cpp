// ostrel-db: see DbTool.h.
#include <iostream>
#include <string>
#include <vector>

#include "db/DbTool.h"
#include "platform/CommandLine.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = ostrel::platform::CommandLineArguments(argc, argv);
  const int status = ostrel::tools::db::Run(args, std::cout, std::cerr);
  // A report that could not be written in full is a failure too.
  if (!std::cout.flush()) {
    std::cerr << "ostrel-db: cannot write the report to standard output\n";
    return status == ostrel::tools::db::kExitOk ? ostrel::tools::db::kExitFailure : status;
  }
  return status;
}
