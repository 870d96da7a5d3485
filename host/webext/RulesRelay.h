// CRulesRelay: the window's list's pre-request rules, taken from the helper
// that offers them (IPhishListRules) and turned into the messages for the
// extension, only when they changed and the extension lacks them (every
// window's host would otherwise send the same rules). Used on the host's
// one thread; holds a reference on the helper until Close.
#pragma once

#include <string>
#include <vector>

#include "com/Interfaces.h"

namespace ostrel::webext {

class CRulesRelay {
 public:
  CRulesRelay() = default;
  CRulesRelay(const CRulesRelay&) = delete;
  CRulesRelay& operator=(const CRulesRelay&) = delete;
  ~CRulesRelay() { Close(); }

  bool HasSource() const { return m_source != nullptr; }
  // Takes over a reference on source.
  void SetSource(IPhishListRules* source) { m_source = source; }
  // Lets the helper go; its module may be unloaded after this.
  void Close();

  // The extension applies rules (Firefox's needs none), and has those of
  // this digest in place ("" for none).
  void SetExtensionDigest(const std::string& digest) {
    m_wanted = true;
    m_extensionDigest = digest;
  }

  // The "rules" messages to send now: none until the extension has said
  // it applies rules, and none while the rules are unchanged, the list is
  // not loaded, or the extension has these rules already.
  std::vector<std::string> Poll();

 private:
  IPhishListRules* m_source = nullptr;
  bool m_wanted = false;          // the extension said it applies rules
  LONGLONG m_version = 0;         // the version last taken from the helper
  std::string m_extensionDigest;  // what the extension has, as far as this host knows
};

}  // namespace ostrel::webext
