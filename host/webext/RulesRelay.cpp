#include "webext/RulesRelay.h"

#include "webext/RulesMessages.h"

namespace ostrel::webext {

void CRulesRelay::Close() {
  if (m_source) m_source->Release();
  m_source = nullptr;
}

std::vector<std::string> CRulesRelay::Poll() {
  if (!m_source || !m_wanted) return {};
  LONGLONG version = 0;
  BSTR text = nullptr;
  if (m_source->GetListRules(m_version, &version, &text) != S_OK || !text) return {};
  const std::wstring rules(text, SysStringLen(text));
  SysFreeString(text);
  m_version = version;
  const std::string digest = RulesDigest(rules);
  if (digest == m_extensionDigest) return {};
  m_extensionDigest = digest;
  return EncodeRules(rules);
}

}  // namespace ostrel::webext
