// The remote metadata parser on arbitrary bytes, as the filter reads a
// deciphered metadata file: every byte one character. Any bytes at all are
// read without a crash; a decoded name is one of the table's or none.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "common/FuzzInput.h"
#include "update/MetadataFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wistringstream text(ostrel::fuzz::CharsFromBytes(data, size));
  MetadataValues values;
  ParseMetadata(text, values);

  std::wstring name, value;
  const std::wstring line = ostrel::fuzz::CharsFromBytes(data, size);
  if (DecodeMetadataField(line, name, value)) {
    const int index = FindMetadataField(name);
    if (index >= kMetadataFieldCount) std::abort();
    if (index >= 0) (void)ReadMetadataNumber(value, -2147483648LL, 2147483647LL);
  }
  return 0;
}
