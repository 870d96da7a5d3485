#include "uri/SessionKey.h"

#include "platform/Crypto.h"
#include "platform/Utf8.h"
#include "support/Trace.h"

CSessionKey::CSessionKey() : m_secret(kSecretBytes) {
  if (!ostrel::platform::RandomBytes(m_secret.data(), m_secret.size())) {
    TraceMessage(L"No random bytes for the click-through secret: no site can be clicked through "
                 L"in this process\r\n");
    ostrel::platform::SecureZero(m_secret.data(), m_secret.size());
    m_secret.clear();
  }
}

CSessionKey::CSessionKey(const std::vector<unsigned char>& secret) : m_secret(secret) {}

CSessionKey::~CSessionKey() {
  if (!m_secret.empty()) ostrel::platform::SecureZero(m_secret.data(), m_secret.size());
}

const CSessionKey& CSessionKey::ForProcess() {
  // A function-local static: creation is one step for every thread.
  static const CSessionKey key;
  return key;
}

std::wstring CSessionKey::Sign(const std::wstring& text) const {
  if (m_secret.empty()) return L"";
  const std::string bytes = ostrel::platform::ToUtf8(text);
  // UTF-8 turns every value that is no code point into U+FFFD, which would
  // give two texts one key.
  if (ostrel::platform::FromUtf8(bytes) != text) return L"";
  unsigned char mac[ostrel::platform::kSha256Bytes];
  if (!ostrel::platform::HmacSha256(m_secret.data(), m_secret.size(),
                                    reinterpret_cast<const unsigned char*>(bytes.data()),
                                    bytes.size(), mac))
    return L"";
  static const wchar_t kHex[] = L"0123456789abcdef";
  std::wstring key;
  key.reserve(2 * sizeof mac);
  for (unsigned char byte : mac) {
    key += kHex[byte >> 4];
    key += kHex[byte & 0xF];
  }
  return key;
}

bool CSessionKey::Verify(const std::wstring& text, const std::wstring& key) const {
  const std::wstring expected = Sign(text);
  if (expected.empty() || key.size() != expected.size()) return false;
  std::wstring given = key;
  for (wchar_t& c : given)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return ostrel::platform::ConstantTimeEqual(given.data(), expected.data(),
                                             expected.size() * sizeof(wchar_t));
}
