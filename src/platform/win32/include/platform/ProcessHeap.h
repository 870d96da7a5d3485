// Windows: the process's allocator without its failure path is the C
// runtime's malloc. The module carries its own static C++ runtime, whose
// nothrow operator new calls the replaceable operator new, which in the
// module is the module's own (com/ModuleNew.cpp): calling it from there
// recursed until the stack overflowed, on every load. That runtime's
// operator delete, for single objects and arrays alike, frees with free.
// Thread-safe.
#pragma once

#include <cstddef>
#include <cstdlib>

inline void* ProcessAllocate(std::size_t size, bool) { return std::malloc(size); }
