// The enciphered container: round trips, checksum verdicts and what one
// damaged byte does.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "update/Cipher.h"

namespace {

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

}  // namespace

TEST(CipherTest, TinyContainersHaveFixedVerdicts) {
  const CDecrypt empty{std::string()};
  EXPECT_FALSE(empty.IsValid());
  EXPECT_EQ(empty.GetLength(), 0u);

  const CDecrypt zero{std::string(1, '\0')};
  EXPECT_TRUE(zero.IsValid());
  EXPECT_EQ(zero.GetResult(), "");

  EXPECT_FALSE(CDecrypt(std::string(1, '\x01')).IsValid());

  const CEncrypt nothing{std::string()};
  EXPECT_EQ(nothing.GetResult(), "");
  EXPECT_FALSE(CDecrypt(nothing.GetResult()).IsValid());
}

TEST(CipherTest, AnyTextRoundTripsWithAValidChecksum) {
  for (std::size_t n : {1u, 2u, 255u, 256u, 993u, 994u, 995u, 5000u}) {
    const std::string plain = RandomBytes(n, static_cast<unsigned>(n));
    const CEncrypt enciphered(plain);
    ASSERT_EQ(enciphered.GetLength(), n + 1);
    unsigned sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum += static_cast<unsigned char>(enciphered.GetResult()[i]);
    EXPECT_EQ(static_cast<unsigned char>(enciphered.GetResult()[n]), sum % 256);
    const CDecrypt deciphered(enciphered.GetResult());
    EXPECT_TRUE(deciphered.IsValid()) << n;
    EXPECT_EQ(deciphered.GetResult(), plain) << n;
  }
}

TEST(CipherTest, OneDamagedByteChangesOnlyItsPlainByteAndTheVerdict) {
  const std::string plain = "b ^evil\\.test/\nw ^good\\.test/\n";
  std::string container = CEncrypt(plain).GetResult();
  container[5] = static_cast<char>(container[5] ^ 0x10);
  const CDecrypt damaged(container);
  EXPECT_FALSE(damaged.IsValid());
  ASSERT_EQ(damaged.GetResult().size(), plain.size());
  for (std::size_t i = 0; i < plain.size(); ++i) {
    if (i == 5)
      EXPECT_NE(damaged.GetResult()[i], plain[i]);
    else
      EXPECT_EQ(damaged.GetResult()[i], plain[i]) << i;
  }
  // Two changes that cancel out in the sum pass the checksum.
  std::string balanced = CEncrypt(plain).GetResult();
  balanced[1] = static_cast<char>(balanced[1] + 3);
  balanced[2] = static_cast<char>(balanced[2] - 3);
  EXPECT_TRUE(CDecrypt(balanced).IsValid());
  EXPECT_NE(CDecrypt(balanced).GetResult(), plain);
}

TEST(CipherTest, TheSameByteEnciphersByItsPosition) {
  const CEncrypt e(std::string(2000, 'a'));
  std::string distinct;
  for (std::size_t i = 0; i < 64; ++i)
    if (distinct.find(e.GetResult()[i]) == std::string::npos) distinct += e.GetResult()[i];
  EXPECT_GT(distinct.size(), 16u);
  // Key and position terms repeat together only every lcm(994, 256) bytes.
  EXPECT_NE(e.GetResult().substr(0, 100), e.GetResult().substr(994, 100));
  EXPECT_EQ(CEdBase::GetKeyLength(), 994u);
  for (std::size_t i = 0; i < 994; ++i) {
    EXPECT_GE(CEdBase::GetKeyByte(i), 0x21);
    EXPECT_LE(CEdBase::GetKeyByte(i), 0x7E);
  }
  EXPECT_EQ(CEdBase::GetKeyByte(994 + 7), CEdBase::GetKeyByte(7));
}

