// The database text reader and list loading. The first byte chooses how the
// rest arrives: as plain text enciphered first (so the parser sees it), or
// as raw container bytes (so the decipher and checksum see it). The list is
// then searched (the indexed lookup must agree with the walk over every
// entry), a match white-listed, and the same data loaded again, the path a
// reload takes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "common/FuzzInput.h"
#include "phishlist/PhishListEntries.h"
#include "phishlist/TextReader.h"
#include "support/Exception.h"
#include "update/Cipher.h"
#include "uri/Uri.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool plain = (data[0] & 1) == 0;
  const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string container = plain ? CEncrypt(body).GetResult() : body;
  const auto bytes = [](const std::string& text) {
    return ostrel::fuzz::CharsFromBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  };
  const std::wstring chars = bytes(container);

  {
    std::wistringstream text(bytes(body));
    CTextReader reader(text);
    std::wstring line;
    while (reader.ReadLine(line, (data[0] & 2) != 0, (data[0] & 4) != 0)) (void)reader.GetLineNumber();
  }

  CPhishListEntries list;
  // Fixed addresses, and the input's first lines read as addresses, which
  // makes entries that match them far likelier.
  std::vector<CUri> probes = {CUri(L"http://www.evil.test/login"), CUri(L"https://a.test/")};
  std::size_t start = 0;
  for (int n = 0; n < 4 && start < body.size(); ++n) {
    std::size_t end = body.find('\n', start);
    if (end == std::string::npos) end = body.size();
    const std::string line = body.substr(start, std::min<std::size_t>(end - start, 300));
    probes.emplace_back(L"http://" + bytes(line));
    start = end + 1;
  }
  for (int round = 0; round < 2; ++round) {
    std::wistringstream stream(chars);
    try {
      list.Load(stream);
    } catch (const CException&) {
    }
    for (const CUri& probe : probes) {
      // The candidate index may only skip entries that cannot match.
      if (list.FindIndex(probe) != list.FindIndexLinear(probe)) std::abort();
      (void)list.LookUp(probe);
      if (round == 0) list.WhiteListTemporarily(probe);
    }
  }
  return 0;
}
