// The runtime heap (malloc/free), the same on every platform: the memory
// manager's blocks and the colour tables.
#include <cstdlib>

#include "platform/fault_hooks.h"
#include "platform/platform.h"

namespace iffjpeg::platform {

void* SystemAlloc(std::size_t bytes) {
  if (AllocationFaulted()) return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void* SystemAllocZeroed(std::size_t bytes) {
  if (AllocationFaulted()) return nullptr;
  return std::calloc(bytes == 0 ? 1 : bytes, 1);
}

void SystemFree(void* block) {
  CountRelease(block);
  std::free(block);
}

}  // namespace iffjpeg::platform
