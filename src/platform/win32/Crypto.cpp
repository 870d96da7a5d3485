// Windows: the cryptographic services from CNG (bcrypt).
#include "platform/Crypto.h"

#include "platform/WinTypes.h"

#include <bcrypt.h>

namespace ostrel::platform {

bool RandomBytes(unsigned char* out, std::size_t count) {
  return BCryptGenRandom(nullptr, out, static_cast<ULONG>(count),
                         BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}

bool HmacSha256(const unsigned char* key, std::size_t keyLength, const unsigned char* data,
                std::size_t length, unsigned char (&mac)[kSha256Bytes]) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr,
                                  BCRYPT_ALG_HANDLE_HMAC_FLAG) < 0)
    return false;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = BCryptCreateHash(algorithm, &hash, nullptr, 0, const_cast<PUCHAR>(key),
                             static_cast<ULONG>(keyLength), 0) >= 0;
  ok = ok && BCryptHashData(hash, const_cast<PUCHAR>(data), static_cast<ULONG>(length), 0) >= 0;
  ok = ok && BCryptFinishHash(hash, mac, kSha256Bytes, 0) >= 0;
  if (hash) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
}

void SecureZero(void* bytes, std::size_t count) { SecureZeroMemory(bytes, count); }

bool ConstantTimeEqual(const void* a, const void* b, std::size_t count) {
  const volatile unsigned char* x = static_cast<const volatile unsigned char*>(a);
  const volatile unsigned char* y = static_cast<const volatile unsigned char*>(b);
  unsigned char difference = 0;
  for (std::size_t i = 0; i < count; ++i) difference |= x[i] ^ y[i];
  return difference == 0;
}

}  // namespace ostrel::platform
