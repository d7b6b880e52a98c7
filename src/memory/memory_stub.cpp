// Placeholder until the memory manager lands.
#include "memory/memory_manager.h"

namespace iffjpeg {
namespace {
void FreeAllStub(MemoryPool&) {}
}  // namespace
void installMemoryManager(MemoryManager& table, MemoryPool& pool) {
  pool = MemoryPool{};
  table.freeAll = FreeAllStub;
}
}  // namespace iffjpeg
