// Test helper: prints "<GUID text>\n<hash key of argv's URI>\n" for a fresh
// process. Usage: ostrel_guid_probe [--fail-guid] URI
#include <cstdio>
#include <cstring>
#include <string>

#include "uri/SessionGuid.h"
#include "uri/Uri.h"
#include "platform/Testing.h"
#include "platform/Utf8.h"

int main(int argc, char** argv) {
  int arg = 1;
  if (arg < argc && std::strcmp(argv[arg], "--fail-guid") == 0) {
    ostrel::platform::testing::SetGuidCreationFails(true);
    ++arg;
  }
  if (arg >= argc) return 2;
  const CUri uri(ostrel::platform::FromUtf8(argv[arg]));
  std::printf("%s\n%s\n", ostrel::platform::ToUtf8(CSessionGuid::GetGuidText()).c_str(),
              ostrel::platform::ToUtf8(uri.GetHashKey()).c_str());
  return 0;
}
