// Small and large objects, chunked sample and block arrays, and freeAll.
#include "memory/memory_manager.h"

#include <cstring>
#include <initializer_list>

#include "memory/memory_internal.h"
#include "platform/platform.h"

namespace iffjpeg {
namespace memory_internal {
namespace {

void* AllocObject(std::size_t size, void*& head) {
  auto* header = static_cast<ObjectHeader*>(platform::SystemAlloc(sizeof(ObjectHeader) + size));
  if (header == nullptr) return nullptr;
  header->next = static_cast<ObjectHeader*>(head);
  header->size = size;
  head = header;
  return header + 1;
}

// Unlinks the object whose caller address is object; false when it is not
// on the list.
bool UnlinkObject(void* object, void*& head) {
  ObjectHeader* target = static_cast<ObjectHeader*>(object) - 1;
  auto** link = reinterpret_cast<ObjectHeader**>(&head);
  while (*link != nullptr) {
    if (*link == target) {
      *link = target->next;
      return true;
    }
    link = &(*link)->next;
  }
  return false;
}

void FreeObject(void* object, void*& head) {
  if (object == nullptr) return;
  if (UnlinkObject(object, head)) platform::SystemFree(static_cast<ObjectHeader*>(object) - 1);
}

void* AllocLarge(std::size_t size, MemoryPool& pool) {
  return AllocObject(size, pool.largeObjects);
}
void FreeLarge(void* object, MemoryPool& pool) { FreeObject(object, pool.largeObjects); }

bool UnlinkArray(ArrayHeader* header, void*& head) {
  auto** link = reinterpret_cast<ArrayHeader**>(&head);
  while (*link != nullptr) {
    if (*link == header) {
      *link = header->next;
      return true;
    }
    link = &(*link)->next;
  }
  return false;
}

void ReleaseChunks(void** rows, const ArrayHeader* header) {
  if (header->pagesBytes != 0) {
    if (header->rowsAllocated > 0) platform::SystemFreePages(rows[0], header->pagesBytes);
    return;
  }
  for (int32_t i = 0; i < header->rowsAllocated; i += header->rowsPerChunk) {
    platform::SystemFree(rows[i]);
  }
}

// Shared by sample and block arrays: a header with numRows row pointers as
// one small object, then the rows in chunks. Returns the row pointers, or
// null; *header is set whenever the header was obtained.
void** AllocRows(std::size_t rowBytes, int32_t numRows, void*& listHead, MemoryPool& pool,
                 ArrayHeader** headerOut, bool zeroed) {
  *headerOut = nullptr;
  if (numRows < 0) numRows = 0;
  auto* header = static_cast<ArrayHeader*>(
      AllocSmall(sizeof(ArrayHeader) + static_cast<std::size_t>(numRows) * sizeof(void*), pool));
  if (header == nullptr) return nullptr;
  *headerOut = header;
  header->next = static_cast<ArrayHeader*>(listHead);
  listHead = header;
  header->rowsAllocated = 0;
  header->rowsPerChunk = RowsPerChunk(rowBytes);
  header->pagesBytes = 0;
  auto** rows = reinterpret_cast<void**>(header + 1);
  const std::size_t total = static_cast<std::size_t>(numRows) * rowBytes;
  if (zeroed && total >= kPagesFrom) {
    auto* block = static_cast<uint8_t*>(platform::SystemAllocPages(total));
    if (block == nullptr) return nullptr;
    header->pagesBytes = total;
    for (int32_t i = 0; i < numRows; ++i) rows[i] = block + static_cast<std::size_t>(i) * rowBytes;
    header->rowsAllocated = numRows;
    return rows;
  }
  while (header->rowsAllocated < numRows) {
    int32_t n = numRows - header->rowsAllocated;
    if (n > header->rowsPerChunk) n = header->rowsPerChunk;
    std::size_t bytes = static_cast<std::size_t>(n) * rowBytes;
    auto* chunk = static_cast<uint8_t*>(zeroed ? platform::SystemAllocZeroed(bytes)
                                               : platform::SystemAlloc(bytes));
    if (chunk == nullptr) return nullptr;
    for (int32_t i = 0; i < n; ++i) rows[header->rowsAllocated + i] = chunk + i * rowBytes;
    header->rowsAllocated += n;
  }
  return rows;
}

}  // namespace

int32_t RowsPerChunk(std::size_t rowBytes) {
  if (rowBytes == 0) rowBytes = 1;
  std::size_t rows = kMaxChunkBytes / rowBytes;
  return rows < 1 ? 1 : static_cast<int32_t>(rows);
}

void* AllocSmall(std::size_t size, MemoryPool& pool) {
  return AllocObject(size, pool.smallObjects);
}
void FreeSmall(void* object, MemoryPool& pool) { FreeObject(object, pool.smallObjects); }

SampleArray AllocSampleArray(int32_t samplesPerRow, int32_t numRows, MemoryPool& pool) {
  ArrayHeader* header;
  void** rows = AllocRows(static_cast<std::size_t>(samplesPerRow > 0 ? samplesPerRow : 0), numRows,
                          pool.sampleArrays, pool, &header, false);
  // A partly filled array stays registered; freeAll releases its chunks.
  return reinterpret_cast<SampleArray>(rows);
}

void FreeSampleArray(SampleArray array, MemoryPool& pool) {
  if (array == nullptr) return;
  ArrayHeader* header = HeaderOf(array);
  if (!UnlinkArray(header, pool.sampleArrays)) return;
  ReleaseChunks(reinterpret_cast<void**>(array), header);
  FreeSmall(header, pool);
}

namespace {

BlockArray AllocBlockArrayFilled(int32_t blocksPerRow, int32_t numRows, MemoryPool& pool,
                                 bool zeroed) {
  ArrayHeader* header;
  std::size_t rowBytes =
      static_cast<std::size_t>(blocksPerRow > 0 ? blocksPerRow : 0) * sizeof(CoefBlock);
  void** rows = AllocRows(rowBytes, numRows, pool.blockArrays, pool, &header, zeroed);
  if (rows == nullptr && header != nullptr) {
    // Take the header off both lists, releasing the chunks it already got.
    UnlinkArray(header, pool.blockArrays);
    ReleaseChunks(reinterpret_cast<void**>(header + 1), header);
    FreeSmall(header, pool);
  }
  return reinterpret_cast<BlockArray>(rows);
}

}  // namespace

BlockArray AllocBlockArray(int32_t blocksPerRow, int32_t numRows, MemoryPool& pool) {
  return AllocBlockArrayFilled(blocksPerRow, numRows, pool, false);
}

BlockArray AllocZeroedBlockArray(int32_t blocksPerRow, int32_t numRows, MemoryPool& pool) {
  return AllocBlockArrayFilled(blocksPerRow, numRows, pool, true);
}

void FreeBlockArray(BlockArray array, MemoryPool& pool) {
  if (array == nullptr) return;
  ArrayHeader* header = HeaderOf(array);
  if (!UnlinkArray(header, pool.blockArrays)) return;
  ReleaseChunks(reinterpret_cast<void**>(array), header);
  FreeSmall(header, pool);
}

namespace {

void FreeAll(MemoryPool& pool) {
  releaseGuard().Enter();
  while (pool.virtualSampleArrays != nullptr)
    ReleaseVirtualSampleArray(pool.virtualSampleArrays, pool);
  while (pool.virtualBlockArrays != nullptr)
    ReleaseVirtualBlockArray(pool.virtualBlockArrays, pool);
  while (pool.sampleArrays != nullptr) {
    FreeSampleArray(reinterpret_cast<SampleArray>(static_cast<ArrayHeader*>(pool.sampleArrays) + 1),
                    pool);
  }
  while (pool.blockArrays != nullptr) {
    FreeBlockArray(reinterpret_cast<BlockArray>(static_cast<ArrayHeader*>(pool.blockArrays) + 1),
                   pool);
  }
  for (void** head : {&pool.smallObjects, &pool.largeObjects}) {
    while (*head != nullptr) {
      auto* header = static_cast<ObjectHeader*>(*head);
      *head = header->next;
      platform::SystemFree(header);
    }
  }
  releaseGuard().Leave();
  for (int32_t*& table : pool.heapTables) {
    platform::SystemFree(table);
    table = nullptr;
  }
}

}  // namespace
}  // namespace memory_internal

using namespace memory_internal;

void installMemoryManager(MemoryManager& table, MemoryPool& pool) {
  installationGuard().Enter();
  pool.smallObjects = nullptr;
  pool.largeObjects = nullptr;
  pool.sampleArrays = nullptr;
  pool.blockArrays = nullptr;
  pool.virtualSampleArrays = nullptr;
  pool.virtualBlockArrays = nullptr;
  table.allocSmall = AllocSmall;
  table.freeSmall = FreeSmall;
  table.allocLarge = AllocLarge;
  table.freeLarge = FreeLarge;
  table.allocSampleArray = AllocSampleArray;
  table.freeSampleArray = FreeSampleArray;
  table.allocBlockArray = AllocBlockArray;
  table.freeBlockArray = FreeBlockArray;
  table.requestVirtualSampleArray = RequestVirtualSampleArray;
  table.requestVirtualBlockArray = RequestVirtualBlockArray;
  table.realizeVirtualArrays = RealizeVirtualArrays;
  table.accessVirtualSampleArray = AccessVirtualSampleArray;
  table.accessVirtualBlockArray = AccessVirtualBlockArray;
  table.releaseVirtualSampleArray = ReleaseVirtualSampleArray;
  table.releaseVirtualBlockArray = ReleaseVirtualBlockArray;
  table.freeAll = FreeAll;
  installationGuard().Leave();
}

int32_t roundUp(int32_t value, int32_t multiple) {
  int32_t v = value + multiple - 1;
  return v - v % multiple;
}

void copySampleRows(const SampleArray source, int32_t firstSourceRow, SampleArray destination,
                    int32_t firstDestinationRow, int32_t rowCount, int32_t width) {
  for (int32_t i = 0; i < rowCount; ++i) {
    std::memcpy(destination[firstDestinationRow + i], source[firstSourceRow + i],
                static_cast<std::size_t>(width));
  }
}

void copyBlockRow(const BlockRow source, BlockRow destination, int32_t blockCount) {
  if (blockCount > 0) {
    std::memcpy(destination, source, static_cast<std::size_t>(blockCount) * sizeof(CoefBlock));
  }
}

}  // namespace iffjpeg
