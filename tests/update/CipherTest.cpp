// The enciphered container: known answers that pin the format, round trips,
// checksum verdicts and what one damaged byte does.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "update/Cipher.h"

namespace {

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : bytes) hex += {kDigits[b >> 4], kDigits[b & 15]};
  return hex;
}

std::uint64_t Fnv1a(const std::string& bytes) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char b : bytes) h = (h ^ b) * 1099511628211ull;
  return h;
}

}  // namespace

// Every database and metadata file ever published depends on these bytes:
// a change to a rotation, the mix or the order of the steps shows here.
TEST(CipherTest, KnownAnswersPinTheFormat) {
  const struct {
    std::string plain, container;
  } known[] = {
      {"b ^evil\\.test/\n", "f511a9e63d06061ef608d6cb65cdb380"},
      {"w ^www\\.bank\\.test/\r\ng ^grey\\.test/\n",
       "5d11a9627df60050e58253c76fc97c79a5d38c0a834085e0e3a45055e258894618d771af64"},
      {std::string("\x00\xff", 2), "e6efd5"},
  };
  for (const auto& k : known) EXPECT_EQ(Hex(CEncrypt(k.plain).GetResult()), k.container) << k.plain;
  // Longer than the key table (994) and the position term (256).
  std::string plain;
  for (int i = 0; i < 1200; ++i) plain += static_cast<char>((i * 31 + 7) & 0xFF);
  const std::string container = CEncrypt(plain).GetResult();
  EXPECT_EQ(Hex(container.substr(990, 10)), "fabd1299da23c5b6605a");
  EXPECT_EQ(Hex(container.substr(1197)), "b38d6b34");  // the last, the checksum
  EXPECT_EQ(Fnv1a(container), 0x302c78ceead82ca3ull);
  const CDecrypt back(container);
  EXPECT_TRUE(back.IsValid());
  EXPECT_EQ(back.GetResult(), plain);
}

TEST(CipherTest, TinyContainersHaveFixedVerdicts) {
  EXPECT_FALSE(CDecrypt(std::string()).IsValid());
  EXPECT_TRUE(CDecrypt(std::string(1, '\0')).IsValid());
  EXPECT_EQ(CDecrypt(std::string(1, '\0')).GetResult(), "");
  EXPECT_FALSE(CDecrypt(std::string(1, '\x01')).IsValid());
  EXPECT_EQ(CEncrypt(std::string()).GetResult(), "");  // no checksum byte: invalid
}

TEST(CipherTest, OneDamagedByteChangesOnlyItsPlainByteAndTheVerdict) {
  const std::string plain = "b ^evil\\.test/\nw ^good\\.test/\n";
  std::string container = CEncrypt(plain).GetResult();
  container[5] = static_cast<char>(container[5] ^ 0x10);
  const CDecrypt damaged(container);
  EXPECT_FALSE(damaged.IsValid());
  ASSERT_EQ(damaged.GetResult().size(), plain.size());
  for (std::size_t i = 0; i < plain.size(); ++i)
    EXPECT_EQ(damaged.GetResult()[i] != plain[i], i == 5) << i;
}
