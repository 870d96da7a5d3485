// The module's own operator new, so that DllMain's allocation-failure
// handler governs the module's allocations and no others. Linked into the
// module only; its export list keeps these local, so the host keeps its own.
// Memory comes from the process's allocator and goes back through the
// process's operator delete, which the module does not replace.
#include <cstddef>

#include "com/AllocationHandler.h"

void* operator new(std::size_t size) { return ModuleAllocate(size); }

void* operator new[](std::size_t size) { return ModuleAllocate(size, true); }
