// The thin layer between the driver and the operating system: the process
// heap (handle and stream buffer), the runtime heap (memory manager and colour
// tables), default file callbacks, a lock for KVGuard and temporary files for
// the memory manager's backing store. platform_posix.cpp implements it on
// POSIX; the Windows build supplies the same functions on Win32
// (platform_win32.cpp); the runtime heap is runtime_heap.cpp on both.
#pragma once

#include <cstddef>
#include <cstdint>

#include "iffjpeg.h"

namespace iffjpeg::platform {

// Process heap: a zero-filled block for the handle, an uncleared one for
// the stream buffer (every byte of it is written before it is read; clearing
// 256 KiB would cost more than decoding a small image).
void* HeapAllocZeroed(std::size_t bytes);
void* HeapAllocUncleared(std::size_t bytes);
void HeapFree(void* block);

// Runtime heap (malloc/free): memory manager and colour tables.
// SystemAllocZeroed gives zero-filled memory, which for large blocks the
// system hands out already cleared, page by page as it is touched.
void* SystemAlloc(std::size_t bytes);
void* SystemAllocZeroed(std::size_t bytes);
void SystemFree(void* block);

// Zero-filled blocks for the large arrays of whole-image work: runtime heap
// blocks whose whole huge pages are advised as such where the system has
// them, so that tens of megabytes fault in as a few dozen pages rather than
// thousands. Freed with the byte count they were taken with.
void* SystemAllocPages(std::size_t bytes);
void SystemFreePages(void* block, std::size_t bytes);

// A host buffer about to be written in full, from start for bytes: its
// pages that are not yet there are put in place at once, which costs far
// less than meeting them one fault at a time, and changes nothing a
// caller can see (a page put in place reads as zero, as it would have).
// Only a hint: where the system cannot, nothing happens.
void PrepareForWriting(void* start, std::size_t bytes);

// The default file callbacks, in IFFFileOps order.
IFFFileOps DefaultFileOps();

// A non-recursive lock; KVGuard wraps one.
class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void Enter();
  void Leave();

 private:
  alignas(std::max_align_t) unsigned char storage_[64];
};

// A temporary file that disappears when closed (or when the process ends).
// Returns a non-negative id, or -1 on failure.
std::intptr_t TempFileOpen();
// Read or write count bytes at offset; returns true when all bytes moved.
bool TempFileRead(std::intptr_t id, void* buffer, std::int64_t offset, std::size_t count);
bool TempFileWrite(std::intptr_t id, const void* buffer, std::int64_t offset, std::size_t count);
void TempFileClose(std::intptr_t id);

}  // namespace iffjpeg::platform

#if defined(IFFJPEG_FAULT_INJECTION)
// Test builds only: make allocations and temporary files fail on demand.
namespace iffjpeg::testing {
// The n-th allocation from now (1 = the next one) fails; 0 disables.
void FailAllocationNumber(long n);
// Every allocation from the n-th on fails (n = 0 disables).
void FailAllocationsFrom(long n);
// Allocations counted since the last FailAllocation* call.
long AllocationsCounted();
// Blocks released (HeapFree and SystemFree of a non-null block) since the
// last FailAllocation* call.
long FreesCounted();
// The next temporary-file open fails.
void FailNextTempFile(bool fail);
// Called by every allocation of the platform layer; true means "fail this one".
bool ShouldFailAllocation();
bool ShouldFailTempFile();
// Called by every release of a non-null block.
void CountFree();
}  // namespace iffjpeg::testing
#endif
