#include "support/KernelObjects.h"

#include "platform/Version.h"
#include "support/Exception.h"

namespace {

// The name for the platform: null for an unnamed object.
LPCWSTR NameOrNull(const std::wstring& name) { return name.empty() ? nullptr : name.c_str(); }

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::wstring(prefix).size(), prefix) == 0;
}

}  // namespace

// ---- CKernelObj ----

CKernelObj::CKernelObj(HANDLE handle) : m_handle(handle) {}

CKernelObj::~CKernelObj() {
  if (m_handle) CloseHandle(m_handle);
}

HANDLE CKernelObj::GetHandle() const { return m_handle; }

bool CKernelObj::Wait(DWORD timeout) { return CWaitSingleObj::Wait(*this, timeout) == WAIT_OBJECT_0; }

bool CKernelObj::IsSignalled() { return Wait(0); }

// ---- CSyncObject ----

CSyncObject::CSyncObject() : CKernelObj(nullptr) {}

CSyncObject::~CSyncObject() = default;

std::wstring CSyncObject::MakeName(const std::wstring& name, bool global) {
  if (!global || name.empty()) return name;
  if (StartsWith(name, L"Global\\") || StartsWith(name, L"Local\\")) return name;
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExW(&version))
    CException::Raise(
        L"Unable to verify Windows version when creating thread synchronisation object");
  return version.dwMajorVersion == 5 ? L"Global\\" + name : name;
}

// ---- CEvent ----

CEvent::CEvent(bool initialState, bool manualReset, const std::wstring& name, bool global,
               LPSECURITY_ATTRIBUTES attributes) {
  const std::wstring platformName = MakeName(name, global);
  m_handle = CreateEventW(attributes, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE,
                          NameOrNull(platformName));
  if (!m_handle) CException::Raise(L"Unable to create event object");
}

CEvent::~CEvent() = default;

BOOL CEvent::Set() { return SetEvent(m_handle); }

BOOL CEvent::Pulse() { return PulseEvent(m_handle); }

BOOL CEvent::Reset() { return ResetEvent(m_handle); }

// ---- CMutex ----

CMutex::CMutex(bool initiallyOwned, const std::wstring& name, bool global,
               LPSECURITY_ATTRIBUTES attributes) {
  const std::wstring platformName = MakeName(name, global);
  m_handle = CreateMutexW(attributes, initiallyOwned ? TRUE : FALSE, NameOrNull(platformName));
  if (!m_handle) CException::Raise(L"Unable to create mutex object");
}

CMutex::~CMutex() = default;

DWORD CMutex::Lock(DWORD timeout) { return WaitForSingleObject(m_handle, timeout); }

BOOL CMutex::Unlock() { return ReleaseMutex(m_handle); }

// ---- CCriticalSection ----

CCriticalSection::CCriticalSection() : m_pSection(&m_section) { InitializeCriticalSection(m_pSection); }

CCriticalSection::~CCriticalSection() { DeleteCriticalSection(m_pSection); }

void CCriticalSection::Enter() { EnterCriticalSection(m_pSection); }

void CCriticalSection::Leave() { LeaveCriticalSection(m_pSection); }

// ---- CThread ----

CThread::CThread(LPTHREAD_START_ROUTINE start, LPVOID parameter, int priority, SIZE_T stackSize,
                 DWORD creationFlags, LPSECURITY_ATTRIBUTES attributes)
    : CKernelObj(nullptr),
      m_threadId(0),
      m_waitResult(static_cast<DWORD>(-1)),
      m_exitCode(static_cast<DWORD>(-1)),
      m_quitEvent(false, true) {
  m_handle = CreateThread(attributes, stackSize, start, parameter, creationFlags, &m_threadId);
  if (!m_handle) CException::Raise(L"Unable to create thread object");
  SetThreadPriority(m_handle, priority);  // a refused priority leaves the thread as it is
}

CThread::~CThread() = default;

bool CThread::Start() { return ResumeThread(m_handle) != static_cast<DWORD>(-1); }

bool CThread::Suspend() { return SuspendThread(m_handle) != static_cast<DWORD>(-1); }

BOOL CThread::SetPriority(int priority) { return SetThreadPriority(m_handle, priority); }

int CThread::GetPriority() { return GetThreadPriority(m_handle); }

CEvent& CThread::GetQuitEvent() { return m_quitEvent; }

DWORD CThread::GetThreadId() const { return m_threadId; }

void CThread::Stop(DWORD timeout) {
  if (!m_quitEvent.Set()) {
    m_waitResult = static_cast<DWORD>(-1);
    return;
  }
  m_waitResult = CWaitSingleObj::Wait(*this, timeout) == WAIT_OBJECT_0 ? 1 : 0;
  // Kept whether or not the thread ended: its result when it did,
  // STILL_ACTIVE when it is still running.
  DWORD exitCode = 0;
  m_exitCode = GetExitCodeThread(m_handle, &exitCode) ? exitCode : static_cast<DWORD>(-1);
}

DWORD CThread::GetWaitResult() const { return m_waitResult; }

DWORD CThread::GetExitCode() const { return m_exitCode; }

// ---- CWaitSingleObj ----

CWaitSingleObj::CWaitSingleObj(CKernelObj& object, DWORD timeout)
    : m_object(object), m_timeout(timeout) {}

CWaitSingleObj::CWaitSingleObj(HANDLE handle, DWORD timeout)
    : m_owned(std::make_unique<CKernelObj>(handle)), m_object(*m_owned), m_timeout(timeout) {}

CWaitSingleObj::~CWaitSingleObj() = default;

DWORD CWaitSingleObj::Wait() { return Wait(m_object, m_timeout); }

DWORD CWaitSingleObj::Wait(CKernelObj& object, DWORD timeout) {
  return WaitForSingleObject(object.GetHandle(), timeout);
}

// ---- CWaitMultiObj ----

CWaitMultiObj::CWaitMultiObj() = default;

CWaitMultiObj::~CWaitMultiObj() = default;

void CWaitMultiObj::Add(CKernelObj* object) { m_objects.push_back(object); }

DWORD CWaitMultiObj::WaitAny(DWORD timeout) { return Wait(false, timeout); }

DWORD CWaitMultiObj::WaitAll(DWORD timeout) { return Wait(true, timeout); }

DWORD CWaitMultiObj::Wait(bool all, DWORD timeout) {
  if (m_objects.empty()) return WAIT_FAILED;
  std::vector<HANDLE> handles(m_objects.size(), nullptr);
  bool found = false;
  for (std::size_t i = 0; i < m_objects.size(); ++i) {
    if (!m_objects[i]) continue;
    handles[i] = m_objects[i]->GetHandle();
    found = true;
  }
  if (!found) return WAIT_FAILED;
  return WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                all ? TRUE : FALSE, timeout);
}

// ---- Scoped locks ----

CCriticalSectionLock::CCriticalSectionLock(CCriticalSection& section) : m_section(section) {
  m_section.Enter();
}

CCriticalSectionLock::~CCriticalSectionLock() { m_section.Leave(); }

CMutexLock::CMutexLock(CMutex& mutex) : m_mutex(mutex), m_waitResult(mutex.Lock(INFINITE)) {}

CMutexLock::CMutexLock(CMutex& mutex, CKernelObj& cancel)
    : m_mutex(mutex), m_waitResult(WAIT_TIMEOUT) {
  constexpr DWORD kSliceMs = 100;
  while (!cancel.IsSignalled()) {
    m_waitResult = mutex.Lock(kSliceMs);
    if (m_waitResult != WAIT_TIMEOUT) return;
  }
}

CMutexLock::~CMutexLock() {
  if (Owns()) m_mutex.Unlock();
}

DWORD CMutexLock::GetWaitResult() const { return m_waitResult; }

bool CMutexLock::Owns() const {
  return m_waitResult == WAIT_OBJECT_0 || m_waitResult == WAIT_ABANDONED;
}

bool CMutexLock::IsAbandoned() const { return m_waitResult == WAIT_ABANDONED; }
