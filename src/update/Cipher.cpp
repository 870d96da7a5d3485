#include "update/Cipher.h"

#include <array>

namespace {

// The cipher's only secret: 994 printable characters, used as they stand.
const char kKeyTable[] =
    "OHcu=:<muE7)!@fR_7t_&L#_x`z,]Qn6Ur@O&Ekbskk#[6!nQOR}`GXZG@uuqQ.jgfx;7s"
    "5VRj|e(#*$Vv,9^BNW@.!iw(rNB5>>Y1k9Q2$m054TRCHdYy%7TaFU0&SwZ1.%1+-VC|m("
    "zy4YjMHcp'B-SHljhghonW6qZQgXI1rG6l54&oNx&r6&%]O:]}=;O,09{aPUi({lMwt,xm"
    "A6KY,YHGZoBpBA)lWFtkdYbL*:TNNGdls(yKK2bul*Ym<jBs6SIH_N6F9,Xw.'-f1*R.$<"
    "A=POpqtlxG.bdEZ/6T#EQwG^(YK5DrSAGZET;~K*N2ZjJ__K0`)^o$v'e^:=<tPq;58aoT"
    "5shsD^60W`2@x.W'Ti6A&uON1&WLT|<nT4WHO)1&O'Hz)6l(UNV1IYWHCf{@IMWu8dI7w{"
    "_$'k9]Qf_Ms2v-d,#:w<{0a~aiFB=J8=9l395i5_N7:h5IP7L|J.Xf@#_88>s&h6)deq3,"
    "4O/~ao11k>iC9xn>^4kap|g'R3-(QwpHL):t>]`b:ZAL@ac0e/6T:11a,e4.O7:#K#)n[m"
    "Vm7`%MCC'()$B;3@:9:WB+H2!L]XUjzH_NIK!'8P0FT630l`h2/=tqSGm]SeB0^:|RuWIJ"
    "~MQ<PG7r*0-9q1q)XnBaQ8qT`X-+Xx}kr`UHuKg-uWlLNGithb7+sSzt3]4&%28FA[H6A6"
    "p%/0DJ+#Xo=SM9JMIUKai8}S3uw+R)&!s0`m5hsA':3AC2#g>[;&a-paG>@D,0$VKgJn+^"
    ";NzsGT4p!r_~.Y&_ve+vq;X7!4S~zG4/{HU/|:.>G2[ZE8zRrfqQ#8A3:6-5,}xDR0S@v9"
    "k5$KF>lCC>g!6Hf#j~)Nu*G%sHraess=2a|~PgId|JW4<X]9Y!`V$R>J}^55Y.deZ3#_p2"
    "&X#s.JJhp4KWJwUAHoIB;MJRe9&.;p<5:8)sKa(/)`axs1(:/bx4XLOx{%C0I2htBC|8LF"
    "niT!uYo5;+75R*";

constexpr std::size_t kKeyLength = sizeof(kKeyTable) - 1;
static_assert(kKeyLength == 994, "the key table has 994 characters");

}  // namespace

CEdBase::~CEdBase() = default;

std::size_t CEdBase::GetKeyLength() { return kKeyLength; }

BYTE CEdBase::GetKeyByte(std::size_t i) { return static_cast<BYTE>(kKeyTable[i % kKeyLength]); }

BYTE CEdBase::RotateLeft(BYTE b, unsigned n) {
  n %= 8;
  return n ? static_cast<BYTE>((b << n) | (b >> (8 - n))) : b;
}

BYTE CEdBase::RotateRight(BYTE b, unsigned n) {
  n %= 8;
  return n ? static_cast<BYTE>((b >> n) | (b << (8 - n))) : b;
}

namespace {
unsigned RotationOf(std::size_t i) { return CEdBase::GetKeyByte(i) % 7u + 1u; }
}  // namespace

BYTE CEdBase::EncipherRotate(BYTE b, std::size_t i) { return RotateLeft(b, RotationOf(i)); }

BYTE CEdBase::DecipherRotate(BYTE b, std::size_t i) { return RotateRight(b, RotationOf(i)); }

BYTE CEdBase::MixKey(BYTE b, std::size_t i) {
  const BYTE k = GetKeyByte(i);
  const unsigned r = RotationOf(i);
  const BYTE m = static_cast<BYTE>(k ^ RotateLeft(k, r) ^ RotateRight(k, r) ^ (i % 256));
  return static_cast<BYTE>(b ^ m);
}

const std::string& CEdBase::GetResult() const { return m_result; }

std::size_t CEdBase::GetLength() const { return m_result.size(); }

std::string CEdBase::TakeResult() { return std::move(m_result); }

CDecrypt::CDecrypt(std::string container) : m_valid(false) {
  const std::size_t n = container.size();
  if (n == 0) return;
  if (n == 1) {
    m_valid = container[0] == '\0';
    return;
  }
  // DecryptByte, with what depends on the key position looked up once per
  // position: lists run to megabytes, and each load deciphers them whole.
  struct Position {
    unsigned rotation;
    BYTE mask;  // the key's part of MixKey
  };
  static const std::array<Position, kKeyLength> positions = [] {
    std::array<Position, kKeyLength> table{};
    for (std::size_t j = 0; j < kKeyLength; ++j) {
      const BYTE k = GetKeyByte(j);
      const unsigned r = RotationOf(j);
      table[j] = {r, static_cast<BYTE>(k ^ RotateLeft(k, r) ^ RotateRight(k, r))};
    }
    return table;
  }();
  // In place: a list's container is read once, byte by byte.
  m_result = std::move(container);
  char* bytes = &m_result[0];
  BYTE sum = 0;
  for (std::size_t i = 0, j = 0; i + 1 < n; ++i, j = j + 1 == kKeyLength ? 0 : j + 1) {
    const BYTE e = static_cast<BYTE>(bytes[i]);
    sum = static_cast<BYTE>(sum + e);
    const unsigned r = positions[j].rotation;  // 1 to 7
    const BYTE rotated = static_cast<BYTE>((e >> r) | (e << (8 - r)));
    bytes[i] = static_cast<char>(rotated ^ positions[j].mask ^ static_cast<BYTE>(i & 0xFF));
  }
  m_valid = static_cast<BYTE>(bytes[n - 1]) == sum;
  m_result.resize(n - 1);
}

CDecrypt::~CDecrypt() = default;

BYTE CDecrypt::DecryptByte(BYTE e, std::size_t i) { return MixKey(DecipherRotate(e, i), i); }

bool CDecrypt::IsValid() const { return m_valid; }

CEncrypt::CEncrypt(const std::string& plain) {
  const std::size_t n = plain.size();
  if (n == 0) return;
  m_result.reserve(n + 1);
  BYTE sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const BYTE e = EncryptByte(static_cast<BYTE>(plain[i]), i);
    sum = static_cast<BYTE>(sum + e);
    m_result += static_cast<char>(e);
  }
  m_result += static_cast<char>(sum);
}

CEncrypt::~CEncrypt() = default;

BYTE CEncrypt::EncryptByte(BYTE p, std::size_t i) { return EncipherRotate(MixKey(p, i), i); }
