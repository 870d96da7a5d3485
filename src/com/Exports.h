// The module's five entry points, with C linkage: the only names it
// exports (com/exports.map; on Windows com/OstrelAntiPhishingBHO.def).
// Hosts find them with GetProcAddress; DllMain is called by the loader (on
// Linux by the module's own load and unload hooks, com/ModuleAttach.cpp).
#pragma once

#include "platform/ObjBase.h"
#include "platform/WinTypes.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
STDAPI DllCanUnloadNow();
STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out);
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
