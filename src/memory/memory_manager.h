// Per-file memory pools: small and large objects, chunked two-dimensional
// sample and block arrays, virtual (windowed, whole-image) arrays, and one
// freeAll that releases everything a codec record obtained.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace iffjpeg {

// 64 signed 16-bit coefficients, natural (row-major) order inside the
// transforms, zigzag order between quantizer and Huffman encoder.
using CoefBlock = int16_t[64];

using SampleRow = uint8_t*;
using SampleArray = SampleRow*;  // array of row pointers
using BlockRow = CoefBlock*;
using BlockArray = BlockRow*;  // array of block-row pointers

// Rows of an array are packed into chunks of at most this many bytes
// (1.5 x 2^20 less 24).
inline constexpr std::size_t kMaxChunkBytes = 1572840;
// What availableMemory reports, whatever it is asked.
inline constexpr long kAvailableMemory = 1000000;

struct VirtualSampleArray;  // control records, defined by the manager
struct VirtualBlockArray;

// The six list heads every codec record carries, plus the four runtime-heap
// tables of the colour deconverter, which freeAll releases after the lists
// (an encoder record leaves them null).
struct MemoryPool {
  void* smallObjects;
  void* largeObjects;
  void* sampleArrays;
  void* blockArrays;
  VirtualSampleArray* virtualSampleArrays;
  VirtualBlockArray* virtualBlockArrays;
  int32_t* heapTables[4];
  // Bytes the virtual arrays may occupy in memory; 0 leaves the system
  // layer's fixed figure.
  int64_t virtualBudget;
};

// The table of sixteen memory operations, in slot order. Each takes the
// pool of the codec record it works for as its last argument.
//
// Virtual arrays: a request returns null when the record cannot be had or
// the array cannot be sized (zero width, no rows, accessHeight outside
// 1..numRows). realizeVirtualArrays gives each unrealized array its buffer,
// and a backing store when it does not fit; the first array for which
// either cannot be had, and every array sized after it, stays unrealized
// until a later call. Access returns null for an unrealized array and for
// rows outside 0..numRows-accessHeight, which callers report as 5. Every
// row of an array reads as zero until it is written, and a window is read
// in whether or not the access is writable, so rows can be updated in place.
struct MemoryManager {
  void* (*allocSmall)(std::size_t size, MemoryPool& pool);
  void (*freeSmall)(void* object, MemoryPool& pool);
  void* (*allocLarge)(std::size_t size, MemoryPool& pool);
  void (*freeLarge)(void* object, MemoryPool& pool);
  SampleArray (*allocSampleArray)(int32_t samplesPerRow, int32_t numRows, MemoryPool& pool);
  void (*freeSampleArray)(SampleArray array, MemoryPool& pool);
  BlockArray (*allocBlockArray)(int32_t blocksPerRow, int32_t numRows, MemoryPool& pool);
  void (*freeBlockArray)(BlockArray array, MemoryPool& pool);
  VirtualSampleArray* (*requestVirtualSampleArray)(int32_t samplesPerRow, int32_t numRows,
                                                   int32_t accessHeight, MemoryPool& pool);
  VirtualBlockArray* (*requestVirtualBlockArray)(int32_t blocksPerRow, int32_t numRows,
                                                 int32_t accessHeight, MemoryPool& pool);
  void (*realizeVirtualArrays)(long extraSampleBytes, long extraBlocks, long extraBytes,
                               MemoryPool& pool);
  SampleArray (*accessVirtualSampleArray)(VirtualSampleArray* control, int32_t startRow,
                                          bool writable, MemoryPool& pool);
  BlockArray (*accessVirtualBlockArray)(VirtualBlockArray* control, int32_t startRow, bool writable,
                                        MemoryPool& pool);
  void (*releaseVirtualSampleArray)(VirtualSampleArray* control, MemoryPool& pool);
  void (*releaseVirtualBlockArray)(VirtualBlockArray* control, MemoryPool& pool);
  void (*freeAll)(MemoryPool& pool);
};

// Fills the table and clears the pool's list heads, under the installation
// guard. The caller zeroes the table first.
void installMemoryManager(MemoryManager& table, MemoryPool& pool);

// Queries on a virtual array, for callers and tests. Realized: it has its
// buffer (an array that realizeVirtualArrays could not give a buffer or a
// backing store stays unrealized, and every access to it yields null).
// Uses the backing store: only a window of its rows is held in memory.
// Healthy: no transfer to or from the backing store has failed; after a
// failure the window's rows hold whatever the buffer last held.
bool virtualArrayRealized(const VirtualSampleArray* control);
bool virtualArrayRealized(const VirtualBlockArray* control);
bool virtualArrayUsesBackingStore(const VirtualSampleArray* control);
bool virtualArrayUsesBackingStore(const VirtualBlockArray* control);
bool virtualArrayHealthy(const VirtualSampleArray* control);
bool virtualArrayHealthy(const VirtualBlockArray* control);
int32_t virtualArrayRowsInMemory(const VirtualSampleArray* control);
int32_t virtualArrayRowsInMemory(const VirtualBlockArray* control);

// Row helpers shared by both pipelines. roundUp: the least multiple of
// `multiple` not below value; ceilDiv: a / b rounded up (a >= 0, b > 0).
int32_t roundUp(int32_t value, int32_t multiple);
inline int32_t ceilDiv(int32_t a, int32_t b) { return (a + b - 1) / b; }
void copySampleRows(const SampleArray source, int32_t firstSourceRow, SampleArray destination,
                    int32_t firstDestinationRow, int32_t rowCount, int32_t width);
void copyBlockRow(const BlockRow source, BlockRow destination, int32_t blockCount);

// A process-wide lock. The library holds five, constructed at load and
// destroyed at unload; the memory manager uses the first two.
class KVGuard {
 public:
  KVGuard();
  virtual ~KVGuard();
  KVGuard(const KVGuard&) = delete;
  KVGuard& operator=(const KVGuard&) = delete;
  void Enter();
  void Leave();

 private:
  platform::Lock lock_;
};

KVGuard& installationGuard();
KVGuard& releaseGuard();

}  // namespace iffjpeg
