#include "com/AllocationHandler.h"

#include <atomic>
#include <new>

#include "platform/ProcessHeap.h"
#include "support/Exception.h"

namespace {
std::atomic<bool> g_installed{false};
}

void InstallAllocationFailureHandler() { g_installed = true; }

void RemoveAllocationFailureHandler() { g_installed = false; }

bool IsAllocationFailureHandlerInstalled() { return g_installed; }

void* ModuleAllocate(std::size_t size, bool array) {
  // The process's allocator, without its failure path: what follows a
  // failure is the module's to decide.
  if (size == 0) size = 1;
  if (void* memory = ProcessAllocate(size, array)) return memory;
  if (g_installed) CException::Raise(L"Out of memory", 0);
  throw std::bad_alloc();
}
