// The module's allocation-failure handler: once DllMain installs it (when
// BHOActive is set), an allocation of the module that fails raises
// CException "Out of memory" (code 0) instead of std::bad_alloc, so the
// helper object's event handlers catch it like any other failure. It
// governs only the module's own operator new (com/ModuleNew.cpp), never the
// host's, as a runtime of the module's own would. Installed and removed at
// attach and detach; read from any thread.
#pragma once

#include <cstddef>

void InstallAllocationFailureHandler();
void RemoveAllocationFailureHandler();
bool IsAllocationFailureHandlerInstalled();

// The module's allocation: memory of at least size bytes (for an array when
// array is set, so that it goes back through the matching delete), or the
// failure the handler (or its absence) calls for.
void* ModuleAllocate(std::size_t size, bool array = false);
