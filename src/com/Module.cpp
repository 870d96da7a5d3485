#include "com/Module.h"

#include "platform/OleAuto.h"
#include "platform/ProcessFacts.h"

CModule g_module;

CClassFactory::CClassFactory(CreateInstanceFunc createInstance)
    : m_createInstance(createInstance) {}

CClassFactory::~CClassFactory() = default;

HRESULT STDMETHODCALLTYPE CClassFactory::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CClassFactory::AddRef() { return ++m_references; }

ULONG STDMETHODCALLTYPE CClassFactory::Release() { return --m_references; }  // the module state owns it

HRESULT STDMETHODCALLTYPE CClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  return m_createInstance(outer, iid, out);
}

HRESULT STDMETHODCALLTYPE CClassFactory::LockServer(BOOL lock) {
  if (lock)
    g_module.Lock();
  else
    g_module.Unlock();
  return S_OK;
}

CModule::CModule() : m_entries(), m_instance(nullptr), m_libid(), m_locks(0) {}

CModule::~CModule() { Term(); }

void CModule::Init(const ObjectMapEntry* map, std::size_t count, HINSTANCE instance,
                   REFGUID libid) {
  Term();
  for (std::size_t i = 0; i < count; ++i)
    m_entries.push_back(Entry{&map[i], new CClassFactory(map[i].createInstance)});
  m_instance = instance;
  m_libid = libid;
}

void CModule::Term() {
  for (Entry& entry : m_entries) delete entry.factory;
  m_entries.clear();
  m_libid = GUID();
}

LONG CModule::Lock() { return ++m_locks; }

LONG CModule::Unlock() { return --m_locks; }

LONG CModule::GetLockCount() const { return m_locks; }

HINSTANCE CModule::GetModuleInstance() const { return m_instance; }

std::wstring CModule::GetModulePath() const {
  if (!m_instance) return L"";  // never the host's own path
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(m_instance, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return L"";
    if (length < path.size()) return path.substr(0, length);
    path.resize(path.size() * 2);
  }
}

HRESULT CModule::GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (const Entry& entry : m_entries)
    if (IsEqualGUID(*entry.map->clsid, clsid)) return entry.factory->QueryInterface(iid, out);
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CModule::RegisterServer() {
  const std::wstring path = GetModulePath();
  if (path.empty()) return E_UNEXPECTED;
  for (const Entry& entry : m_entries)
    for (const RegScript& script : entry.map->script()) {
      const HRESULT hr = RegisterScript(script, path);
      if (FAILED(hr)) return hr;
    }
  for (const RegScript& script : TypeLibScript(m_libid))
    if (FAILED(RegisterScript(script, path))) return TYPE_E_REGISTRYACCESS;
  return S_OK;
}

HRESULT CModule::UnregisterServer() {
  for (const Entry& entry : m_entries)
    for (const RegScript& script : entry.map->script()) {
      const HRESULT hr = UnregisterScript(script);
      if (FAILED(hr)) return hr;
    }
  for (const RegScript& script : TypeLibScript(m_libid))
    if (FAILED(UnregisterScript(script))) return TYPE_E_REGISTRYACCESS;
  return S_OK;
}
