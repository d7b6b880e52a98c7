// Virtual arrays: whole-image arrays of sample rows or block rows. When all
// of them fit in the memory the system layer allows, each is held whole;
// otherwise an array holds a window of rows in memory and keeps the rest in
// a backing store, moving the window as the caller's accesses require.
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "memory/memory_internal.h"

namespace iffjpeg {
namespace memory_internal {
namespace {

// maxUnits when every unrealized array fits whole.
constexpr int64_t kEverythingFits = 1000000000;

long ClampToLong(int64_t value) { return value > LONG_MAX ? LONG_MAX : static_cast<long>(value); }

template <typename Control>
Control* Request(int32_t rowWidth, int32_t numRows, int32_t accessHeight, std::size_t unitBytes,
                 Control*& head, MemoryPool& pool) {
  // A zero-width array or a window taller than the array cannot be sized.
  if (rowWidth <= 0 || numRows <= 0 || accessHeight <= 0 || accessHeight > numRows) {
    return nullptr;
  }
  void* object = AllocSmall(sizeof(Control), pool);
  if (object == nullptr) return nullptr;
  auto* control = ::new (object) Control();
  control->numRows = numRows;
  control->rowWidth = rowWidth;
  control->accessHeight = accessHeight;
  control->buffer = nullptr;
  control->usesBackingStore = 0;
  control->store.file = -1;
  control->healthy = 1;
  control->rowBytes = static_cast<std::size_t>(rowWidth) * unitBytes;
  control->next = head;
  head = control;
  return control;
}

template <typename Control>
bool Unlink(Control* control, Control*& head) {
  if (head == control) {
    head = static_cast<Control*>(control->next);
    return true;
  }
  for (VirtualArrayControl* p = head; p != nullptr; p = p->next) {
    if (p->next == control) {
      p->next = control->next;
      return true;
    }
  }
  return false;
}

// Calls visit(row, n) for consecutive pieces of buffer rows first..first+count-1
// that lie in one chunk, so that each piece is contiguous in memory.
template <typename Visit>
void ForEachChunkPiece(const VirtualArrayControl& c, int32_t first, int32_t count, Visit visit) {
  int32_t end = first + count;
  for (int32_t row = first; row < end;) {
    int32_t chunkEnd = (row / c.rowsPerChunk + 1) * c.rowsPerChunk;
    int32_t n = std::min(end, chunkEnd) - row;
    visit(row, n);
    row += n;
  }
}

void ZeroRows(VirtualArrayControl& c, int32_t first, int32_t count) {
  ForEachChunkPiece(c, first, count, [&c](int32_t row, int32_t n) {
    std::memset(c.buffer[row], 0, static_cast<std::size_t>(n) * c.rowBytes);
  });
}

// Rows of the window that exist in the array (the window may reach past the
// last row), starting at buffer row i.
int32_t RowsToTransfer(const VirtualArrayControl& c, int32_t i) {
  return std::min({c.rowsPerChunk, c.rowsInMemory - i, c.numRows - c.firstRowInMemory - i});
}

// Writes the window to the store chunk by chunk.
void WriteWindow(VirtualArrayControl& c) {
  int64_t offset = static_cast<int64_t>(c.firstRowInMemory) * static_cast<int64_t>(c.rowBytes);
  bool ok = true;
  int32_t written = 0;
  for (int32_t i = 0; i < c.rowsInMemory; i += c.rowsPerChunk) {
    int32_t n = RowsToTransfer(c, i);
    if (n <= 0) break;
    std::size_t bytes = static_cast<std::size_t>(n) * c.rowBytes;
    if (!c.store.write(c.store, c.buffer[i], offset, bytes)) ok = false;
    offset += static_cast<int64_t>(bytes);
    written = i + n;
  }
  if (!ok) {
    c.healthy = 0;
    return;
  }
  c.rowsInStore = std::max(c.rowsInStore, c.firstRowInMemory + written);
}

// Reads the window from the store chunk by chunk. Rows the store has never
// received read as zero, as every row of a fresh array does.
void ReadWindow(VirtualArrayControl& c) {
  int64_t offset = static_cast<int64_t>(c.firstRowInMemory) * static_cast<int64_t>(c.rowBytes);
  for (int32_t i = 0; i < c.rowsInMemory; i += c.rowsPerChunk) {
    int32_t n = RowsToTransfer(c, i);
    if (n <= 0) break;
    int32_t stored = std::clamp(c.rowsInStore - (c.firstRowInMemory + i), 0, n);
    std::size_t storedBytes = static_cast<std::size_t>(stored) * c.rowBytes;
    if (stored > 0 && !c.store.read(c.store, c.buffer[i], offset, storedBytes)) c.healthy = 0;
    if (stored < n) {
      std::memset(static_cast<uint8_t*>(c.buffer[i]) + storedBytes, 0,
                  static_cast<std::size_t>(n - stored) * c.rowBytes);
    }
    offset += static_cast<int64_t>(n) * static_cast<int64_t>(c.rowBytes);
  }
}

void MoveWindow(VirtualArrayControl& c, int32_t startRow) {
  if (c.dirty) {
    WriteWindow(c);
    c.dirty = 0;
  }
  if (startRow > c.firstRowInMemory) {
    c.firstRowInMemory = startRow;
  } else {
    // Moving back: keep the requested rows at the bottom of the window, so
    // that a caller walking backwards moves the window as seldom as possible.
    c.firstRowInMemory = std::max(0, startRow + c.accessHeight - c.rowsInMemory);
  }
  // The window is read in for writable access too: a caller that updates
  // rows in place must see what it stored there before.
  ReadWindow(c);
}

void** Access(VirtualArrayControl* c, int32_t startRow, bool writable) {
  if (c == nullptr || c->buffer == nullptr) return nullptr;
  if (startRow < 0 || startRow > c->numRows - c->accessHeight) return nullptr;
  if (startRow < c->firstRowInMemory ||
      startRow + c->accessHeight > c->firstRowInMemory + c->rowsInMemory) {
    MoveWindow(*c, startRow);
  }
  if (writable) c->dirty = 1;
  return c->buffer + (startRow - c->firstRowInMemory);
}

// Gives one array its buffer, and its store when it needs more than maxUnits
// windows. False when either cannot be had; the array then stays unrealized.
bool RealizeOne(VirtualArrayControl& c, int64_t maxUnits, bool blocks, MemoryPool& pool) {
  int64_t units = (static_cast<int64_t>(c.numRows) + c.accessHeight - 1) / c.accessHeight;
  int32_t rowsInMemory = c.numRows;
  bool usesStore = false;
  if (units > maxUnits) {
    // units > maxUnits means accessHeight x maxUnits < numRows.
    rowsInMemory = static_cast<int32_t>(c.accessHeight * maxUnits);
    int64_t totalBytes = static_cast<int64_t>(c.numRows) * static_cast<int64_t>(c.rowBytes);
    if (!OpenBackingStore(c.store, totalBytes)) return false;
    usesStore = true;
  }
  void** buffer =
      blocks ? reinterpret_cast<void**>(AllocZeroedBlockArray(c.rowWidth, rowsInMemory, pool))
             : reinterpret_cast<void**>(AllocSampleArray(c.rowWidth, rowsInMemory, pool));
  if (buffer == nullptr) {
    if (usesStore) c.store.close(c.store);
    return false;
  }
  c.buffer = buffer;
  c.rowsInMemory = rowsInMemory;
  c.usesBackingStore = usesStore ? 1 : 0;
  c.rowsPerChunk = HeaderOf(buffer)->rowsPerChunk;
  c.firstRowInMemory = 0;
  c.dirty = 0;
  c.rowsInStore = 0;
  if (!blocks) ZeroRows(c, 0, rowsInMemory);  // block buffers come zeroed
  return true;
}

template <typename Control>
void Release(Control* control, Control*& head, bool blocks, MemoryPool& pool) {
  if (control == nullptr || !Unlink(control, head)) return;
  // Dirty rows are not written back: the array is gone.
  if (control->usesBackingStore) control->store.close(control->store);
  if (control->buffer != nullptr) {
    if (blocks) {
      FreeBlockArray(reinterpret_cast<BlockArray>(control->buffer), pool);
    } else {
      FreeSampleArray(reinterpret_cast<SampleArray>(control->buffer), pool);
    }
  }
  FreeSmall(control, pool);
}

}  // namespace

VirtualSampleArray* RequestVirtualSampleArray(int32_t samplesPerRow, int32_t numRows,
                                              int32_t accessHeight, MemoryPool& pool) {
  return Request(samplesPerRow, numRows, accessHeight, 1, pool.virtualSampleArrays, pool);
}

VirtualBlockArray* RequestVirtualBlockArray(int32_t blocksPerRow, int32_t numRows,
                                            int32_t accessHeight, MemoryPool& pool) {
  return Request(blocksPerRow, numRows, accessHeight, sizeof(CoefBlock), pool.virtualBlockArrays,
                 pool);
}

void RealizeVirtualArrays(long extraSampleBytes, long extraBlocks, long extraBytes,
                          MemoryPool& pool) {
  int64_t committed = static_cast<int64_t>(extraBlocks) * static_cast<int64_t>(sizeof(CoefBlock)) +
                      extraSampleBytes + extraBytes;
  int64_t perUnit = 0;
  int64_t maxNeeded = committed;
  auto tally = [&](VirtualArrayControl* list) {
    for (VirtualArrayControl* p = list; p != nullptr; p = p->next) {
      if (p->buffer != nullptr) continue;
      int64_t rowBytes = static_cast<int64_t>(p->rowBytes);
      perUnit += p->accessHeight * rowBytes;
      maxNeeded += p->numRows * rowBytes;
    }
  };
  tally(pool.virtualSampleArrays);
  tally(pool.virtualBlockArrays);
  if (perUnit <= 0) return;

  int64_t avail = pool.virtualBudget > 0
                      ? pool.virtualBudget
                      : AvailableMemory(ClampToLong(perUnit + committed), ClampToLong(maxNeeded));
  int64_t maxUnits = kEverythingFits;
  if (avail < maxNeeded) maxUnits = std::max<int64_t>(1, (avail - committed) / perUnit);

  // The first array that cannot be set up ends the realization; it and the
  // arrays after it stay unrealized (null buffer) and a later call may retry.
  for (VirtualArrayControl* p = pool.virtualSampleArrays; p != nullptr; p = p->next) {
    if (p->buffer == nullptr && !RealizeOne(*p, maxUnits, false, pool)) return;
  }
  for (VirtualArrayControl* p = pool.virtualBlockArrays; p != nullptr; p = p->next) {
    if (p->buffer == nullptr && !RealizeOne(*p, maxUnits, true, pool)) return;
  }
}

SampleArray AccessVirtualSampleArray(VirtualSampleArray* control, int32_t startRow, bool writable,
                                     MemoryPool&) {
  return reinterpret_cast<SampleArray>(Access(control, startRow, writable));
}

BlockArray AccessVirtualBlockArray(VirtualBlockArray* control, int32_t startRow, bool writable,
                                   MemoryPool&) {
  return reinterpret_cast<BlockArray>(Access(control, startRow, writable));
}

void ReleaseVirtualSampleArray(VirtualSampleArray* control, MemoryPool& pool) {
  Release(control, pool.virtualSampleArrays, false, pool);
}

void ReleaseVirtualBlockArray(VirtualBlockArray* control, MemoryPool& pool) {
  Release(control, pool.virtualBlockArrays, true, pool);
}

}  // namespace memory_internal

namespace {
const memory_internal::VirtualArrayControl* Record(const VirtualSampleArray* c) { return c; }
const memory_internal::VirtualArrayControl* Record(const VirtualBlockArray* c) { return c; }
}  // namespace

bool virtualArrayRealized(const VirtualSampleArray* c) { return Record(c)->buffer != nullptr; }
bool virtualArrayRealized(const VirtualBlockArray* c) { return Record(c)->buffer != nullptr; }
bool virtualArrayUsesBackingStore(const VirtualSampleArray* c) {
  return Record(c)->usesBackingStore != 0;
}
bool virtualArrayUsesBackingStore(const VirtualBlockArray* c) {
  return Record(c)->usesBackingStore != 0;
}
bool virtualArrayHealthy(const VirtualSampleArray* c) { return Record(c)->healthy != 0; }
bool virtualArrayHealthy(const VirtualBlockArray* c) { return Record(c)->healthy != 0; }
int32_t virtualArrayRowsInMemory(const VirtualSampleArray* c) { return Record(c)->rowsInMemory; }
int32_t virtualArrayRowsInMemory(const VirtualBlockArray* c) { return Record(c)->rowsInMemory; }

}  // namespace iffjpeg
