// The database text reader and list loading. The first byte chooses how the
// rest arrives: as plain text enciphered first (so the parser sees it), or
// as raw container bytes (so the decipher and checksum see it). The list is
// then searched, a match white-listed, and the same data loaded again, the
// path a reload takes.
#include <cstdint>
#include <sstream>
#include <string>

#include "common/FuzzInput.h"
#include "uri/Uri.h"
#include "phishlist/PhishListEntries.h"
#include "phishlist/TextReader.h"
#include "support/Exception.h"
#include "update/Cipher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool plain = (data[0] & 1) == 0;
  const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string container = plain ? CEncrypt(body).GetResult() : body;
  const std::wstring chars(container.begin(), container.end());

  {
    std::wistringstream text(std::wstring(body.begin(), body.end()));
    CTextReader reader(text);
    std::wstring line;
    while (reader.ReadLine(line, (data[0] & 2) != 0, (data[0] & 4) != 0)) (void)reader.GetLineNumber();
  }

  CPhishListEntries list;
  const CUri probes[] = {CUri(L"http://www.evil.test/login"), CUri(L"https://a.test/")};
  for (int round = 0; round < 2; ++round) {
    std::wistringstream stream(chars);
    try {
      list.Load(stream);
    } catch (const CException&) {
    }
    for (const CUri& probe : probes) {
      (void)list.LookUp(probe);
      if (round == 0) list.WhiteListTemporarily(probe);
    }
  }
  return 0;
}
