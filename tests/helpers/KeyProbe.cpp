// Test helper: a fresh process with its own click-through secret. Prints the
// hash key of the first URI, "1" when that URI with its key appended
// verifies here, and then, for each further URI, "1" when it carries a key
// that verifies here, else "0"; one a line. With --fail-guid, GUID creation
// fails first. Usage: ostrel_key_probe [--fail-guid] URI [URI-WITH-MARKER...]
#include <cstdio>
#include <cstring>
#include <string>

#include "uri/Uri.h"
#include "platform/Testing.h"
#include "platform/Utf8.h"

namespace {

bool Verifies(const std::wstring& uri) { return CUri(uri).HasValidHashKey(); }

}  // namespace

int main(int argc, char** argv) {
  using ostrel::platform::FromUtf8;
  int arg = 1;
  if (arg < argc && std::strcmp(argv[arg], "--fail-guid") == 0) {
    ostrel::platform::testing::SetGuidCreationFails(true);
    ++arg;
  }
  if (arg >= argc) return 2;
  const CUri uri(FromUtf8(argv[arg]));
  std::printf("%s\n%d\n", ostrel::platform::ToUtf8(uri.GetHashKey()).c_str(),
              Verifies(uri.GetUri() + uri.GetHashKeyMarker()) ? 1 : 0);
  while (++arg < argc) std::printf("%d\n", Verifies(FromUtf8(argv[arg])) ? 1 : 0);
  return 0;
}
