// The module's five entry points, with C linkage: the only names it
// exports (com/exports.map). Hosts find them with GetProcAddress; DllMain
// is called by the module's own load and unload hooks (com/ModuleAttach.cpp).
#pragma once

#include "platform/ObjBase.h"
#include "platform/WinTypes.h"

extern "C" {
BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
HRESULT DllCanUnloadNow();
HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out);
HRESULT DllRegisterServer();
HRESULT DllUnregisterServer();
}
