// Platform layer: the few cryptographic services the system needs, from the
// operating system's provider (OpenSSL here, CNG on Windows).
// Promises: RandomBytes fills the buffer from a cryptographically secure
// source, or returns false leaving nothing usable; HmacSha256 writes the
// 32-byte HMAC-SHA-256 of data under key, or returns false; SecureZero
// overwrites memory in a way the compiler cannot drop; ConstantTimeEqual
// compares in a time that does not depend on where the bytes differ.
// Safe from any thread.
#pragma once

#include <cstddef>

namespace ostrel::platform {

constexpr std::size_t kSha256Bytes = 32;

bool RandomBytes(unsigned char* out, std::size_t count);
bool HmacSha256(const unsigned char* key, std::size_t keyLength, const unsigned char* data,
                std::size_t length, unsigned char (&mac)[kSha256Bytes]);
void SecureZero(void* bytes, std::size_t count);
bool ConstantTimeEqual(const void* a, const void* b, std::size_t count);

}  // namespace ostrel::platform
