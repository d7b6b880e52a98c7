// Where the platform layer asks the test hooks of fault_injection.cpp: every
// allocation, every temporary-file open and every release of a block, on
// POSIX and Win32 alike. In the shipped library each question is a constant
// and costs nothing. Included only by the platform layer's own files.
#pragma once

#include "platform/platform.h"

namespace iffjpeg::platform {

// True when a test asked for this allocation to fail.
inline bool AllocationFaulted() {
#if defined(IFFJPEG_FAULT_INJECTION)
  return testing::ShouldFailAllocation();
#else
  return false;
#endif
}

// True when a test asked for this temporary-file open to fail.
inline bool TempFileFaulted() {
#if defined(IFFJPEG_FAULT_INJECTION)
  return testing::ShouldFailTempFile();
#else
  return false;
#endif
}

// Counts the release of a non-null block for the tests' leak checks.
inline void CountRelease([[maybe_unused]] const void* block) {
#if defined(IFFJPEG_FAULT_INJECTION)
  if (block != nullptr) testing::CountFree();
#endif
}

}  // namespace iffjpeg::platform
