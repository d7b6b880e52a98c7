// Virtual arrays: placeholder until the windowed implementation lands.
#include "memory/memory_internal.h"

namespace iffjpeg {

struct VirtualSampleArray {
  VirtualSampleArray* next;
};
struct VirtualBlockArray {
  VirtualBlockArray* next;
};

namespace memory_internal {

VirtualSampleArray* RequestVirtualSampleArray(int32_t, int32_t, int32_t, MemoryPool&) { return nullptr; }
VirtualBlockArray* RequestVirtualBlockArray(int32_t, int32_t, int32_t, MemoryPool&) { return nullptr; }
void RealizeVirtualArrays(long, long, long, MemoryPool&) {}
SampleArray AccessVirtualSampleArray(VirtualSampleArray*, int32_t, bool, MemoryPool&) { return nullptr; }
BlockArray AccessVirtualBlockArray(VirtualBlockArray*, int32_t, bool, MemoryPool&) { return nullptr; }
void ReleaseVirtualSampleArray(VirtualSampleArray* control, MemoryPool& pool) {
  pool.virtualSampleArrays = control->next;
}
void ReleaseVirtualBlockArray(VirtualBlockArray* control, MemoryPool& pool) {
  pool.virtualBlockArrays = control->next;
}

}  // namespace memory_internal

bool virtualArrayRealized(const VirtualSampleArray*) { return false; }
bool virtualArrayUsesBackingStore(const VirtualSampleArray*) { return false; }
bool virtualArrayRealized(const VirtualBlockArray*) { return false; }
bool virtualArrayHealthy(const VirtualSampleArray*) { return false; }

}  // namespace iffjpeg
