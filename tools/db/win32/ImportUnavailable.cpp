// ostrel-db import in the Windows build: refused. Import needs the public
// suffix list (libpsl, which has no Windows build here) to refuse entries
// that would block whole registries, and reads addresses with the Linux
// build's browser-faithful parser; without either it could over-block or
// under-block silently, so it is left to the Linux build.
#include "db/DbImport.h"
#include "db/DbTool.h"

namespace ostrel::tools::db {

int RunImport(const std::vector<std::string>&, std::ostream&, std::ostream& err) {
  err << "ostrel-db import: not in the Windows build (it needs the public suffix list); "
         "import feeds with the Linux build\n";
  return kExitUsage;
}

}  // namespace ostrel::tools::db
