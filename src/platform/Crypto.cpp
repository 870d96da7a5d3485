#include "platform/Crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

namespace ostrel::platform {

bool RandomBytes(unsigned char* out, std::size_t count) {
  return RAND_bytes(out, static_cast<int>(count)) == 1;
}

bool HmacSha256(const unsigned char* key, std::size_t keyLength, const unsigned char* data,
                std::size_t length, unsigned char (&mac)[kSha256Bytes]) {
  unsigned int written = 0;
  return HMAC(EVP_sha256(), key, static_cast<int>(keyLength), data, length, mac, &written) &&
         written == kSha256Bytes;
}

void SecureZero(void* bytes, std::size_t count) { OPENSSL_cleanse(bytes, count); }

bool ConstantTimeEqual(const void* a, const void* b, std::size_t count) {
  return CRYPTO_memcmp(a, b, count) == 0;
}

}  // namespace ostrel::platform
