// Internal layout shared by the memory manager's translation units.
#pragma once

#include <cstddef>
#include <cstdint>

#include "memory/memory_manager.h"

namespace iffjpeg::memory_internal {

// The hidden header in front of every small and large object: the list
// link and a second word, so the caller's bytes keep 16-byte alignment.
struct ObjectHeader {
  ObjectHeader* next;
  std::size_t size;
};

// The header of a sample or block array; the row pointers follow it.
struct ArrayHeader {
  ArrayHeader* next;
  int32_t rowsAllocated;
  int32_t rowsPerChunk;
};
static_assert(sizeof(ArrayHeader) % sizeof(void*) == 0, "row pointers must stay aligned");

inline ArrayHeader* HeaderOf(void* rows) { return static_cast<ArrayHeader*>(rows) - 1; }

int32_t RowsPerChunk(std::size_t rowBytes);

void* AllocSmall(std::size_t size, MemoryPool& pool);
void FreeSmall(void* object, MemoryPool& pool);
SampleArray AllocSampleArray(int32_t samplesPerRow, int32_t numRows, MemoryPool& pool);
void FreeSampleArray(SampleArray array, MemoryPool& pool);
BlockArray AllocBlockArray(int32_t blocksPerRow, int32_t numRows, MemoryPool& pool);
void FreeBlockArray(BlockArray array, MemoryPool& pool);

// Virtual arrays (virtual_arrays.cpp).
VirtualSampleArray* RequestVirtualSampleArray(int32_t samplesPerRow, int32_t numRows,
                                              int32_t accessHeight, MemoryPool& pool);
VirtualBlockArray* RequestVirtualBlockArray(int32_t blocksPerRow, int32_t numRows,
                                            int32_t accessHeight, MemoryPool& pool);
void RealizeVirtualArrays(long extraSampleBytes, long extraBlocks, long extraBytes,
                          MemoryPool& pool);
SampleArray AccessVirtualSampleArray(VirtualSampleArray* control, int32_t startRow,
                                     bool writable, MemoryPool& pool);
BlockArray AccessVirtualBlockArray(VirtualBlockArray* control, int32_t startRow, bool writable,
                                   MemoryPool& pool);
void ReleaseVirtualSampleArray(VirtualSampleArray* control, MemoryPool& pool);
void ReleaseVirtualBlockArray(VirtualBlockArray* control, MemoryPool& pool);

}  // namespace iffjpeg::memory_internal
