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
  control->window = nullptr;
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

// Calls visit(slot, n) for runs of window slots first..first+count-1 whose
// rows lie one after another in memory, so that each run moves in one
// transfer. The slots start in chunk order; each slide rotates them, which
// splits a run at one more place at most.
template <typename Visit>
void ForEachContiguousRun(const VirtualArrayControl& c, int32_t first, int32_t count, Visit visit) {
  const int32_t end = first + count;
  for (int32_t i = first; i < end;) {
    int32_t j = i + 1;
    const uint8_t* next = static_cast<const uint8_t*>(c.window[i]) + c.rowBytes;
    for (; j < end && c.window[j] == next; ++j) next += c.rowBytes;
    visit(i, j - i);
    i = j;
  }
}

int64_t OffsetOf(const VirtualArrayControl& c, int32_t row) {
  return static_cast<int64_t>(row) * static_cast<int64_t>(c.rowBytes);
}

// Writes the rows of slots first..first+count-1 that are dirty to the store.
void WriteSlots(VirtualArrayControl& c, int32_t first, int32_t count) {
  const int32_t lo = std::max(c.firstRowInMemory + first, c.dirtyFirst);
  const int32_t hi = std::min(c.firstRowInMemory + first + count, c.dirtyEnd);
  if (lo >= hi) return;
  bool ok = true;
  ForEachContiguousRun(c, lo - c.firstRowInMemory, hi - lo, [&](int32_t slot, int32_t n) {
    const int32_t row = c.firstRowInMemory + slot;
    const std::size_t bytes = static_cast<std::size_t>(n) * c.rowBytes;
    if (!c.store.write(c.store, c.window[slot], OffsetOf(c, row), bytes)) ok = false;
  });
  if (!ok) {
    c.healthy = 0;
    return;
  }
  c.rowsInStore = std::max(c.rowsInStore, hi);
}

// Fills slots first..first+count-1 with their rows from the store. Rows the
// store has never received read as zero, as every row of a fresh array does
// (a row below rowsInStore that was never written lies in a hole of the
// file, which reads as zero too).
void ReadSlots(VirtualArrayControl& c, int32_t first, int32_t count) {
  ForEachContiguousRun(c, first, count, [&](int32_t slot, int32_t n) {
    const int32_t row = c.firstRowInMemory + slot;
    const int32_t stored = std::clamp(c.rowsInStore - row, 0, n);
    const std::size_t storedBytes = static_cast<std::size_t>(stored) * c.rowBytes;
    if (stored > 0 && !c.store.read(c.store, c.window[slot], OffsetOf(c, row), storedBytes)) {
      c.healthy = 0;
    }
    if (stored < n) {
      std::memset(static_cast<uint8_t*>(c.window[slot]) + storedBytes, 0,
                  static_cast<std::size_t>(n - stored) * c.rowBytes);
    }
  });
}

// Where the window goes for an access at startRow outside it. Forward, just
// far enough that the requested rows end the window, so that a pass through
// the array moves each row in and out once; when nothing could be kept, as
// far ahead as the array allows. Backward, the requested rows at the bottom,
// so that a caller walking backwards moves the window as seldom as possible
// and a return to the first rows keeps what the two positions share.
int32_t NewWindowStart(const VirtualArrayControl& c, int32_t startRow) {
  const int32_t window = c.rowsInMemory;
  const int32_t reach = startRow + c.accessHeight - window;
  if (startRow < c.firstRowInMemory) return std::max(0, reach);
  if (reach < c.firstRowInMemory + window) return reach;
  return std::min(startRow, c.numRows - window);
}

// Slides the window: the rows leaving it go to the store (when dirty), the
// slots they held are rotated to where the arriving rows belong, and those
// rows are read in. The rows both positions share stay where they are.
// The window is read in for writable access too: a caller that updates rows
// in place must see what it stored there before.
void MoveWindow(VirtualArrayControl& c, int32_t startRow) {
  const int32_t window = c.rowsInMemory;
  const int32_t first = NewWindowStart(c, startRow);
  const int32_t shift = first - c.firstRowInMemory;
  if (shift >= window || -shift >= window) {
    WriteSlots(c, 0, window);
    c.dirtyFirst = c.dirtyEnd = 0;
    c.firstRowInMemory = first;
    ReadSlots(c, 0, window);
    return;
  }
  if (shift > 0) {
    WriteSlots(c, 0, shift);
    c.dirtyFirst = std::max(c.dirtyFirst, first);
    std::rotate(c.window, c.window + shift, c.window + window);
    c.firstRowInMemory = first;
    ReadSlots(c, window - shift, shift);
  } else {
    const int32_t back = -shift;
    WriteSlots(c, window - back, back);
    c.dirtyEnd = std::min(c.dirtyEnd, first + window);
    std::rotate(c.window, c.window + window - back, c.window + window);
    c.firstRowInMemory = first;
    ReadSlots(c, 0, back);
  }
  if (c.dirtyFirst >= c.dirtyEnd) c.dirtyFirst = c.dirtyEnd = 0;
}

void** Access(VirtualArrayControl* c, int32_t startRow, bool writable) {
  if (c == nullptr || c->buffer == nullptr) return nullptr;
  if (startRow < 0 || startRow > c->numRows - c->accessHeight) return nullptr;
  if (startRow < c->firstRowInMemory ||
      startRow + c->accessHeight > c->firstRowInMemory + c->rowsInMemory) {
    MoveWindow(*c, startRow);
  }
  if (writable && c->usesBackingStore) {
    const int32_t end = startRow + c->accessHeight;
    if (c->dirtyFirst >= c->dirtyEnd) {
      c->dirtyFirst = startRow;
      c->dirtyEnd = end;
    } else {
      c->dirtyFirst = std::min(c->dirtyFirst, startRow);
      c->dirtyEnd = std::max(c->dirtyEnd, end);
    }
  }
  return c->window + (startRow - c->firstRowInMemory);
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
  // A windowed array reaches its rows through pointers of its own, which
  // the window's slides rotate; the buffer's keep chunk order for freeing.
  void** window = buffer;
  if (usesStore) {
    window = static_cast<void**>(
        AllocSmall(static_cast<std::size_t>(rowsInMemory) * sizeof(void*), pool));
    if (window == nullptr) {
      if (blocks) {
        FreeBlockArray(reinterpret_cast<BlockArray>(buffer), pool);
      } else {
        FreeSampleArray(reinterpret_cast<SampleArray>(buffer), pool);
      }
      c.store.close(c.store);
      return false;
    }
    std::copy(buffer, buffer + rowsInMemory, window);
  }
  c.buffer = buffer;
  c.window = window;
  c.rowsInMemory = rowsInMemory;
  c.usesBackingStore = usesStore ? 1 : 0;
  c.rowsPerChunk = HeaderOf(buffer)->rowsPerChunk;
  c.firstRowInMemory = 0;
  c.dirtyFirst = c.dirtyEnd = 0;
  c.rowsInStore = 0;
  if (!blocks) ZeroRows(c, 0, rowsInMemory);  // block buffers come zeroed
  return true;
}

template <typename Control>
void Release(Control* control, Control*& head, bool blocks, MemoryPool& pool) {
  if (control == nullptr || !Unlink(control, head)) return;
  // Dirty rows are not written back: the array is gone.
  if (control->usesBackingStore) control->store.close(control->store);
  if (control->window != control->buffer) FreeSmall(control->window, pool);
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
