// The module as the hosts meet it: its exports, its registration and
// unregistration, its class objects (alone and aggregated) and when it may
// be unloaded. Each test loads the real library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <new>
#include <string>
#include <thread>

#include "com/AllocationHandler.h"
#include "com/Interfaces.h"
#include "com/ModuleHost.h"
#include "platform/DocObj.h"
#include "support/Exception.h"

using namespace ostrel::test;

namespace {

std::wstring Text(const GUID& g) {
  wchar_t text[40] = {};
  StringFromGUID2(g, text, 40);
  return text;
}

const std::wstring kBho = Text(CLSID_MyBHO);
const std::wstring kCmd = Text(CLSID_MyCfgDlgCmdTarget);
const std::wstring kLib = Text(LIBID_OSTRELANTIPHISHINGBHOLib);
const std::wstring kExtensions = L"SOFTWARE\\Microsoft\\Internet Explorer\\Extensions\\";
const std::wstring kExtension = kExtensions + Text(GUID_MyCommandExtension);

void CreateKey(HKEY hive, const std::wstring& key) {
  HKEY opened = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(hive, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &opened, nullptr),
      ERROR_SUCCESS);
  RegCloseKey(opened);
}

bool IsLoaded() {
  void* handle = dlopen(OSTREL_MODULE, RTLD_LAZY | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

// An object that aggregates one of the module's classes and counts the
// references its inner object's interfaces take on it.
struct Outer : IUnknown {
  ULONG refs = 1;
  IUnknown* inner = nullptr;
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(iid, out);
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
};

}  // namespace

TEST(Module, ExportsItsFiveEntryPointsAndNothingElse) {
  HMODULE module = nullptr;
  ASSERT_NE(ModuleEntry<FARPROC>("DllMain", &module), nullptr);
  for (const char* name :
       {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"})
    EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
  // The system's classes and the module's own operator new stay inside.
  EXPECT_EQ(GetProcAddress(module, "_ZN9CSettings12GetBHOActiveEj"), nullptr);
  EXPECT_EQ(
      GetProcAddress(
          module,
          "_ZN14CPhishListEngine4ScanERKNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEE"),
      nullptr);
  FreeLibrary(module);
}

TEST(Module, RegistrationWritesBothScriptsAndTheTypeLibrary) {
  const std::wstring clsidKey = L"CLSID\\" + kBho;
  // Someone else's class and helper must survive us; a stale subkey of our
  // class key must not (the key is replaced whole).
  const std::wstring otherClass = L"CLSID\\{00000000-1111-2222-3333-444444444444}";
  const std::wstring otherHelper =
      std::wstring(kHelpersKey) + L"\\{00000000-1111-2222-3333-444444444444}";
  CreateKey(HKEY_CLASSES_ROOT, otherClass);
  CreateKey(HKEY_LOCAL_MACHINE, otherHelper);
  CreateKey(HKEY_CLASSES_ROOT, clsidKey + L"\\Stale");

  ASSERT_EQ(CallModule("DllRegisterServer"), S_OK);
  const std::wstring name = L"Ostrel Anti-Phishing Filter";
  const std::wstring cmdProgId = L"OstrelAntiPhishingBHO.MyCfgDlgCmdTarget";
  struct Expected {
    HKEY hive;
    std::wstring key;
    const wchar_t* value;  // null: the default value
    std::wstring data;
  };
  std::vector<Expected> expected = {
      {HKEY_LOCAL_MACHINE, kExtension, L"CLSID", L"{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}"},
      {HKEY_LOCAL_MACHINE, kExtension, L"ClsidExtension", kCmd},
      {HKEY_LOCAL_MACHINE, kExtension, L"MenuText", name},
      {HKEY_LOCAL_MACHINE, kExtension, L"MenuStatusBar", name},
      {HKEY_CLASSES_ROOT, L"TypeLib\\" + kLib + L"\\1.0", nullptr,
       L"OstrelAntiPhishingBHO 1.0 Type Library"},
      {HKEY_CLASSES_ROOT, L"TypeLib\\" + kLib + L"\\1.0\\0\\win32", nullptr, ModulePath()},
      {HKEY_CLASSES_ROOT, L"Interface\\" + Text(IID_IMyBHO), nullptr, L"IMyBHO"},
      {HKEY_CLASSES_ROOT, L"Interface\\" + Text(IID_IMyBHO) + L"\\TypeLib", nullptr, kLib},
      {HKEY_CLASSES_ROOT, L"Interface\\" + Text(IID_IMyCfgDlgCmdTarget), nullptr,
       L"IMyCfgDlgCmdTarget"},
  };
  // Both classes write the same shape of keys.
  auto addClass = [&](const std::wstring& clsid, const std::wstring& description,
                      const std::wstring& progId) {
    const std::wstring key = L"CLSID\\" + clsid;
    const std::vector<Expected> rows = {
        {HKEY_CLASSES_ROOT, progId + L".1", nullptr, description},
        {HKEY_CLASSES_ROOT, progId + L".1\\CLSID", nullptr, clsid},
        {HKEY_CLASSES_ROOT, progId, nullptr, description},
        {HKEY_CLASSES_ROOT, progId + L"\\CLSID", nullptr, clsid},
        {HKEY_CLASSES_ROOT, progId + L"\\CurVer", nullptr, progId + L".1"},
        {HKEY_CLASSES_ROOT, key, nullptr, description},
        {HKEY_CLASSES_ROOT, key + L"\\ProgID", nullptr, progId + L".1"},
        {HKEY_CLASSES_ROOT, key + L"\\VersionIndependentProgID", nullptr, progId},
        {HKEY_CLASSES_ROOT, key + L"\\InprocServer32", nullptr, ModulePath()},
        {HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {HKEY_CLASSES_ROOT, key + L"\\TypeLib", nullptr, kLib},
    };
    expected.insert(expected.end(), rows.begin(), rows.end());
  };
  addClass(kBho, name, L"Ostrel_Anti_Phishing_BHO");
  addClass(kCmd, L"MyCfgDlgCmdTarget Class", cmdProgId);
  for (const Expected& e : expected)
    EXPECT_EQ(StringValue(e.hive, e.key, e.value).value_or(L"<missing>"), e.data)
        << e.key << " " << (e.value ? e.value : L"(default)");
  EXPECT_EQ(ModulePath().front(), L'/');
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, clsidKey + L"\\Programmable"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, clsidKey + L"\\Stale"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kHelpersKey) + L"\\" + kBho));
  EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE, std::wstring(kHelpersKey) + L"\\" + kBho).size(), 0u);

  ASSERT_EQ(CallModule("DllUnregisterServer"), S_OK);
  for (const Expected& e : expected) EXPECT_FALSE(KeyExists(e.hive, e.key)) << e.key;
  for (const std::wstring& gone :
       std::vector<std::wstring>{L"TypeLib\\" + kLib, L"Interface\\" + Text(IID_IMyBHO),
                                 L"Ostrel_Anti_Phishing_BHO", cmdProgId})
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, gone)) << gone;
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kHelpersKey) + L"\\" + kBho));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, otherClass));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, otherHelper));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kExtensions));
  // Unregistering what is not there is no failure.
  EXPECT_EQ(CallModule("DllUnregisterServer"), S_OK);
}

TEST(Module, ClassObjectsServeBothClassesAloneAndAggregated) {
  ASSERT_EQ(CallModule("DllRegisterServer"), S_OK);
  HMODULE module = nullptr;
  auto getClassObject = ModuleEntry<LPFNGETCLASSOBJECT>("DllGetClassObject", &module);
  ASSERT_NE(getClassObject, nullptr);
  void* object = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(getClassObject(LIBID_OSTRELANTIPHISHINGBHOLib, IID_IClassFactory, &object),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);

  struct Class {
    const CLSID* clsid;
    std::vector<const IID*> answers, refuses;
  };
  const Class classes[] = {
      {&CLSID_MyBHO,
       {&IID_IObjectWithSite, &IID_IDispatch, &IID_IMyBHO},
       {&IID_IOleCommandTarget, &IID_IMyCfgDlgCmdTarget, &IID_IClassFactory,
        &IID_IConnectionPoint}},
      {&CLSID_MyCfgDlgCmdTarget,
       {&IID_IOleCommandTarget, &IID_IDispatch, &IID_IMyCfgDlgCmdTarget},
       {&IID_IObjectWithSite, &IID_IMyBHO, &IID_IClassFactory}},
  };
  for (const Class& c : classes) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(*c.clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    // Alone: every interface it answers leads back to one identity.
    IUnknown* self = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&self)),
              S_OK);
    for (const IID* iid : c.answers) {
      IUnknown* part = nullptr;
      ASSERT_EQ(self->QueryInterface(*iid, reinterpret_cast<void**>(&part)), S_OK);
      IUnknown* identity = nullptr;
      part->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
      EXPECT_EQ(identity, self);
      identity->Release();
      part->Release();
    }
    for (const IID* iid : c.refuses) {
      void* part = reinterpret_cast<void*>(0x1);
      EXPECT_EQ(self->QueryInterface(*iid, &part), E_NOINTERFACE);
      EXPECT_EQ(part, nullptr);
    }
    EXPECT_EQ(self->Release(), 0u);

    // Aggregated: the outer may only ask for IUnknown, and the inner's
    // interfaces count on the outer and answer for it.
    Outer outer;
    void* refused = nullptr;
    EXPECT_EQ(factory->CreateInstance(&outer, *c.answers[0], &refused), CLASS_E_NOAGGREGATION);
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)),
              S_OK);
    EXPECT_EQ(outer.refs, 1u);
    IUnknown* part = nullptr;
    ASSERT_EQ(outer.inner->QueryInterface(*c.answers[0], reinterpret_cast<void**>(&part)), S_OK);
    EXPECT_EQ(outer.refs, 2u);
    IUnknown* identity = nullptr;
    part->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    EXPECT_EQ(identity, &outer);
    identity->Release();
    part->Release();
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(outer.inner->Release(), 0u);
    factory->Release();
  }
  FreeLibrary(module);
}

TEST(Module, MayBeUnloadedOnlyWithoutObjectsOrLocks) {
  // The module is used from a thread of its own that ends before the
  // unload, as a browser window's thread does: a thread that ran the
  // module's code keeps it loaded until the thread ends.
  if (IsLoaded()) GTEST_SKIP() << "an earlier test of this process keeps the module loaded";
  auto useModule = [] {
    ASSERT_EQ(CallModule("DllRegisterServer"), S_OK);
    HMODULE module = nullptr;
    auto canUnloadNow = ModuleEntry<LPFNCANUNLOADNOW>("DllCanUnloadNow", &module);
    ASSERT_NE(canUnloadNow, nullptr);
    EXPECT_EQ(canUnloadNow(), S_OK);
    for (const CLSID* clsid : {&CLSID_MyBHO, &CLSID_MyCfgDlgCmdTarget}) {
      IUnknown* object = nullptr;
      ASSERT_EQ(CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                 reinterpret_cast<void**>(&object)),
                S_OK);
      EXPECT_EQ(canUnloadNow(), S_FALSE);
      object->Release();
      EXPECT_EQ(canUnloadNow(), S_OK);
    }
    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(CLSID_MyBHO, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    factory->LockServer(TRUE);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    factory->LockServer(FALSE);
    EXPECT_EQ(canUnloadNow(), S_OK);
    factory->Release();
    FreeLibrary(module);
  };
  IUnknown* kept = nullptr;
  std::thread([&] {
    useModule();
    CoCreateInstance(CLSID_MyBHO, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                     reinterpret_cast<void**>(&kept));
  }).join();
  ASSERT_NE(kept, nullptr);
  CoFreeUnusedLibraries();  // an object lives: the module stays
  EXPECT_TRUE(IsLoaded());
  std::thread([&] { kept->Release(); }).join();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(IsLoaded());

  // Loaded again, it starts afresh and serves as before.
  std::thread(useModule).join();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(IsLoaded());
}

TEST(Module, AllocationFailureHandler) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer ends the process on an impossible allocation";
#else
  // What the handler decides; the module's operator new is this function.
  const std::size_t impossible = static_cast<std::size_t>(PTRDIFF_MAX) - 4096;
  RemoveAllocationFailureHandler();
  EXPECT_THROW(ModuleAllocate(impossible), std::bad_alloc);
  InstallAllocationFailureHandler();
  try {
    ModuleAllocate(impossible);
    ADD_FAILURE() << "allocated the impossible";
  } catch (const CException& e) {
    EXPECT_EQ(e.GetMessage(), L"Out of memory");
    EXPECT_EQ(e.GetCode(), 0u);
  }
  void* fine = ModuleAllocate(0);
  EXPECT_NE(fine, nullptr);
  ::operator delete(fine);
  RemoveAllocationFailureHandler();
#endif
}
