// Events: creation through the object table, and the state changes that
// release waiters.
#include "platform/Event.h"

#include "platform/ObjectTable.h"

using namespace ostrel::platform::kernel;

namespace {

struct EventInit {
  bool manualReset;
  bool initialState;
};

bool InitEvent(ObjectEntry& entry, const void* context) {
  const auto* init = static_cast<const EventInit*>(context);
  entry.manualReset = init->manualReset ? 1 : 0;
  entry.signalled = init->initialState ? 1 : 0;
  return true;
}

enum class Change { Set, Reset, Pulse };

BOOL ChangeEvent(HANDLE hEvent, Change change) {
  HandleInfo info;
  DWORD error = ERROR_INVALID_HANDLE;
  SharedTable* t = Resolve(hEvent, &info) && info.kind == Kind::Event ? Table(&error) : nullptr;
  if (!t) {
    SetLastError(error);
    return FALSE;
  }
  TableLock lock(*t);
  if (!Current(*t, info.index, info.serial)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ObjectEntry& event = t->objects[info.index];
  switch (change) {
    case Change::Set:
      event.signalled = 1;
      GrantWaiters(*t, info.index);
      break;
    case Change::Reset:
      event.signalled = 0;
      break;
    case Change::Pulse:
      // Signalled just long enough for the waiters registered now: the grant
      // decides under the same lock, so nobody arriving later sees it.
      event.signalled = 1;
      GrantWaiters(*t, info.index);
      event.signalled = 0;
      break;
  }
  return TRUE;
}

}  // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
  const EventInit init{bManualReset != FALSE, bInitialState != FALSE};
  return CreateObject(Kind::Event, lpName, InitEvent, &init);
}

BOOL SetEvent(HANDLE hEvent) { return ChangeEvent(hEvent, Change::Set); }

BOOL ResetEvent(HANDLE hEvent) { return ChangeEvent(hEvent, Change::Reset); }

BOOL PulseEvent(HANDLE hEvent) { return ChangeEvent(hEvent, Change::Pulse); }
