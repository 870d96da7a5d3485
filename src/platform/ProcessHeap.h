// Platform layer: the process's allocator without its failure path, for a
// module that replaces operator new for its own allocations only
// (com/ModuleNew.cpp). Promises: ProcessAllocate returns at least size
// bytes (size > 0) that the process's operator delete (operator delete[]
// when array is set) frees, or null; it never raises and never calls the
// module's own operator new. Here the module shares the process's C++
// runtime, whose nothrow operator new is that. Thread-safe.
#pragma once

#include <cstddef>
#include <new>

inline void* ProcessAllocate(std::size_t size, bool array) {
  return array ? ::operator new[](size, std::nothrow) : ::operator new(size, std::nothrow);
}
