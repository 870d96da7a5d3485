// CModule: the state of the module as a COM server: its object map (the
// classes it serves, each with its class object and registration script),
// its instance handle and type library id (recorded at process attach), and
// its lock count (live objects and server locks), which decides
// DllCanUnloadNow. One object, g_module, built by static initialisation
// before DllMain's attach and torn down by its detach. The lock count is
// changed with atomic operations from any thread; the rest is written only
// at attach and detach.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "com/Registration.h"
#include "platform/ObjBase.h"
#include "platform/Unknwn.h"

using CreateInstanceFunc = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);

struct ObjectMapEntry {
  const CLSID* clsid;
  CreateInstanceFunc createInstance;
  std::vector<RegScript> (*script)();  // the class's registration script (REGISTRY 101, 104)
};

// The class object of one entry of the map. It lives as long as the module
// state, so its reference count only counts; LockServer holds the module.
class CClassFactory final : public IClassFactory {
 public:
  explicit CClassFactory(CreateInstanceFunc createInstance);
  virtual ~CClassFactory();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  CreateInstanceFunc m_createInstance;
  std::atomic<ULONG> m_references{1};
};

class CModule {
 public:
  CModule();
  CModule(const CModule&) = delete;
  CModule& operator=(const CModule&) = delete;
  virtual ~CModule();

  // Process attach: the object map, this module's instance and its type
  // library. Process detach: drops the class objects.
  void Init(const ObjectMapEntry* map, std::size_t count, HINSTANCE instance, REFGUID libid);
  void Term();

  LONG Lock();
  LONG Unlock();
  LONG GetLockCount() const;

  HINSTANCE GetModuleInstance() const;
  // The module's absolute path ("%MODULE%" in the scripts); empty if unknown.
  std::wstring GetModulePath() const;

  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out);
  HRESULT RegisterServer();
  HRESULT UnregisterServer();

 private:
  struct Entry {
    const ObjectMapEntry* map;
    CClassFactory* factory;  // owned
  };
  std::vector<Entry> m_entries;
  HINSTANCE m_instance;
  GUID m_libid;
  std::atomic<LONG> m_locks;
};

extern CModule g_module;
