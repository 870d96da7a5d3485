// Whole-file reads and writes of TestEnv.h, shared by the Linux and the
// Windows test programs. Paths are UTF-8, as TestRoot gives them.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/TestEnv.h"

namespace ostrel::test {

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out.flush());
}

}  // namespace ostrel::test
