// CRegistryCache: the outcomes of CRegistry's value reads, kept while the
// registry store's change stamp (platform/RegistryStamp.h) stays the same,
// so that a setting read costs a memory load and a map look-up rather than
// a transaction on the store. Any change of the store, by any process,
// empties it at the next read. Only reads under the predefined hives are
// kept (an opened key's handle may later name another key); failures are
// kept too (a missing value stays missing until a change). Thread-safe:
// one mutex, never held while the store is read.
#pragma once

#include <string>

#include "platform/RegistryStamp.h"
#include "platform/WinReg.h"

class CRegistryCache {
 public:
  // What one read gave: a failure, or the text or number read.
  struct Outcome {
    bool ok = false;
    std::wstring text;
    DWORD number = 0;
  };

  // The kept outcome of reading name under root\key as kind ('s' text,
  // 'd' number), or readStore()'s, which is then kept with the stamp
  // taken before it ran.
  template <class ReadStore>
  static Outcome Read(HKEY root, const std::wstring& key, const std::wstring& name, wchar_t kind,
                      ReadStore readStore) {
    Ticket ticket;
    if (Find(root, key, name, kind, &ticket)) return ticket.kept;
    Outcome outcome = readStore();
    Keep(ticket, outcome);
    return outcome;
  }

 private:
  struct Ticket {
    bool keepable = false;
    ostrel::platform::registry::ChangeStamp stamp;
    std::wstring id;
    Outcome kept;
  };
  static bool Find(HKEY root, const std::wstring& key, const std::wstring& name, wchar_t kind,
                   Ticket* ticket);
  static void Keep(const Ticket& ticket, const Outcome& outcome);
};
