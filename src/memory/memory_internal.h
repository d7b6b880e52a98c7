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
  // Non-zero when the rows lie in one block (SystemAllocPages) of this
  // many bytes instead of chunks.
  std::size_t pagesBytes;
};
static_assert(sizeof(ArrayHeader) % sizeof(void*) == 0, "row pointers must stay aligned");

inline ArrayHeader* HeaderOf(void* rows) { return static_cast<ArrayHeader*>(rows) - 1; }

int32_t RowsPerChunk(std::size_t rowBytes);

void* AllocSmall(std::size_t size, MemoryPool& pool);
void FreeSmall(void* object, MemoryPool& pool);
SampleArray AllocSampleArray(int32_t samplesPerRow, int32_t numRows, MemoryPool& pool);
void FreeSampleArray(SampleArray array, MemoryPool& pool);
BlockArray AllocBlockArray(int32_t blocksPerRow, int32_t numRows, MemoryPool& pool);
// The same, every block zero (a virtual array's first window). From
// kPagesFrom bytes on, the rows lie in one block advised for huge pages
// rather than in chunks: a window of tens of megabytes, touched in full by
// every pass, then faults in as huge pages.
inline constexpr std::size_t kPagesFrom = std::size_t{4} << 20;
BlockArray AllocZeroedBlockArray(int32_t blocksPerRow, int32_t numRows, MemoryPool& pool);
void FreeBlockArray(BlockArray array, MemoryPool& pool);

// The backing store of a virtual array whose rows do not all fit in memory:
// its read, write and close operations followed by the store's own data. Read
// and write move count bytes at a byte offset into the whole array and return
// false when the bytes did not all move.
struct BackingStore {
  bool (*read)(BackingStore& store, void* buffer, int64_t offset, std::size_t count);
  bool (*write)(BackingStore& store, const void* buffer, int64_t offset, std::size_t count);
  void (*close)(BackingStore& store);
  std::intptr_t file;  // the temporary file behind the store
};

// Control record shared by virtual sample and block arrays; only the row
// size differs. The buffer is a SampleArray or a BlockArray, both arrays of
// row pointers, held here as untyped row pointers.
struct VirtualArrayControl {
  int32_t numRows;
  int32_t rowWidth;  // samples, or blocks, per row
  int32_t accessHeight;
  void** buffer;  // null until realized
  // The rows in memory, row firstRowInMemory + i at window[i]: the buffer's
  // own pointers for an array held whole, a rotated copy of them otherwise.
  void** window;
  int32_t rowsInMemory;
  int32_t rowsPerChunk;
  int32_t firstRowInMemory;
  // Rows dirtyFirst .. dirtyEnd-1 may differ from the store (none when
  // equal): every row given out for writing since it was last written.
  int32_t dirtyFirst;
  int32_t dirtyEnd;
  int32_t usesBackingStore;
  VirtualArrayControl* next;
  BackingStore store;
  // Rows 0 .. rowsInStore-1 have been written to the store at least once;
  // rows above that have never been, and read back as zero.
  int32_t rowsInStore;
  // Cleared when a store transfer failed.
  int32_t healthy;
  std::size_t rowBytes;
};

}  // namespace iffjpeg::memory_internal

namespace iffjpeg {
struct VirtualSampleArray : memory_internal::VirtualArrayControl {};
struct VirtualBlockArray : memory_internal::VirtualArrayControl {};
}  // namespace iffjpeg

namespace iffjpeg::memory_internal {

// The system layer under the virtual arrays (backing_store.cpp).
// The bytes the virtual arrays may occupy: a fixed figure, whatever is asked.
long AvailableMemory(long minBytes, long maxBytes);
// Opens a temporary file for an array of totalBytes and fills in the store's
// operations; false when no temporary file could be had.
bool OpenBackingStore(BackingStore& store, int64_t totalBytes);

// Virtual arrays (virtual_arrays.cpp).
VirtualSampleArray* RequestVirtualSampleArray(int32_t samplesPerRow, int32_t numRows,
                                              int32_t accessHeight, MemoryPool& pool);
VirtualBlockArray* RequestVirtualBlockArray(int32_t blocksPerRow, int32_t numRows,
                                            int32_t accessHeight, MemoryPool& pool);
void RealizeVirtualArrays(long extraSampleBytes, long extraBlocks, long extraBytes,
                          MemoryPool& pool);
SampleArray AccessVirtualSampleArray(VirtualSampleArray* control, int32_t startRow, bool writable,
                                     MemoryPool& pool);
BlockArray AccessVirtualBlockArray(VirtualBlockArray* control, int32_t startRow, bool writable,
                                   MemoryPool& pool);
void ReleaseVirtualSampleArray(VirtualSampleArray* control, MemoryPool& pool);
void ReleaseVirtualBlockArray(VirtualBlockArray* control, MemoryPool& pool);

}  // namespace iffjpeg::memory_internal
