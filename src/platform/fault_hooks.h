// Where the platform layer asks the test hooks of fault_injection.cpp: every
// allocation, every temporary-file open and every release of a block, on
// POSIX and Win32 alike. In the shipped library each question is a constant
// and costs nothing. Included only by the platform layer's own files.
#pragma once

#include "platform/platform.h"

namespace iffjpeg::platform {

// AllocationFaulted: a test asked for this allocation to fail.
// TempFileFaulted: the same for this temporary-file open.
// CountRelease: counts the release of a non-null block for the tests' leak
// checks.
#if defined(IFFJPEG_FAULT_INJECTION)
inline bool AllocationFaulted() { return testing::ShouldFailAllocation(); }
inline bool TempFileFaulted() { return testing::ShouldFailTempFile(); }
inline void CountRelease(const void* block) {
  if (block != nullptr) testing::CountFree();
}
#else
inline bool AllocationFaulted() { return false; }
inline bool TempFileFaulted() { return false; }
inline void CountRelease(const void*) {}
#endif

}  // namespace iffjpeg::platform
