// CSessionKey: the secret behind click-through keys and the MAC that turns
// a host into its key. The key of a text is HMAC-SHA-256 of its UTF-8 bytes
// under 32 random bytes drawn once per process, written as 64 lower-case
// hexadecimal digits: a key tells nothing about the secret or about any
// other host's key, and keys from another process (or from before a
// restart) never verify. The secret never leaves the object: there is no
// getter and it is never traced; it is wiped when the object ends.
// If the random source fails, the process has no secret: it makes no keys
// (every key is empty) and verifies none, rather than fall back to a secret
// someone could know. A text that is not a sequence of code points has no
// key either, as UTF-8 could not tell it from another.
// Thread-safety: ForProcess creates the process's key once (a thread asking
// meanwhile waits for it); after that every operation only reads.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class CSessionKey {
 public:
  static constexpr std::size_t kSecretBytes = 32;

  // This process's key, created at the first call.
  static const CSessionKey& ForProcess();

  // A key over the given secret, for tests; an empty secret is no secret.
  explicit CSessionKey(const std::vector<unsigned char>& secret);
  CSessionKey(const CSessionKey&) = delete;
  CSessionKey& operator=(const CSessionKey&) = delete;
  ~CSessionKey();

  // The key of text; empty without a secret or for a text with no key.
  std::wstring Sign(const std::wstring& text) const;
  // True when key, hexadecimal in either case, is text's key. The
  // comparison takes the same time whatever the digits, so timing tells
  // nothing of how close a guess came.
  bool Verify(const std::wstring& text, const std::wstring& key) const;

 private:
  CSessionKey();  // draws the secret from the random source

  std::vector<unsigned char> m_secret;  // empty: none
};
