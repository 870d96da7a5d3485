// The decipher on arbitrary bytes, and the round trip: whatever is
// enciphered deciphers to itself and verifies.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "update/Cipher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const CDecrypt arbitrary(bytes);
  (void)arbitrary.IsValid();

  const CEncrypt container(bytes);
  const CDecrypt back(container.GetResult());
  if (back.GetResult() != bytes) std::abort();
  if (!bytes.empty() && !back.IsValid()) std::abort();
  return 0;
}
