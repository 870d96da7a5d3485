#include "com/Exports.h"

#include "com/AllocationHandler.h"
#include "com/Interfaces.h"
#include "com/Module.h"
#include "com/MyBHO.h"
#include "com/MyCfgDlgCmdTarget.h"
#include "platform/LibLoaderApi.h"
#include "settings/Settings.h"
#include "support/Trace.h"

namespace {

const ObjectMapEntry kObjectMap[] = {
    {&CLSID_MyBHO, &CMyBHO::CreateInstance, &MyBHOScript},
    {&CLSID_MyCfgDlgCmdTarget, &CMyCfgDlgCmdTarget::CreateInstance, &MyCfgDlgCmdTargetScript},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  try {
    if (reason == DLL_PROCESS_ATTACH) {
      g_module.Init(kObjectMap, sizeof kObjectMap / sizeof kObjectMap[0], instance,
                    LIBID_OSTRELANTIPHISHINGBHOLib);
      DisableThreadLibraryCalls(instance);
      if (CSettings::GetBHOActive(CSettings::DefaultBHOActive)) {
        TraceMessage(L"Anti-Phishing Filter BHO is active\r\n");
        InstallAllocationFailureHandler();
      } else {
        TraceMessage(L"Anti-Phishing Filter BHO is not active\r\n");
      }
    } else if (reason == DLL_PROCESS_DETACH) {
      RemoveAllocationFailureHandler();
      g_module.Term();
    }
  } catch (...) {
    // Loading never fails; a module that could not set itself up serves no
    // classes.
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() { return g_module.GetLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  return g_module.GetClassObject(clsid, iid, out);
}

STDAPI DllRegisterServer() {
  try {
    return g_module.RegisterServer();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

STDAPI DllUnregisterServer() {
  try {
    return g_module.UnregisterServer();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
