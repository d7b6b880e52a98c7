// Test-build hooks that make allocations and temporary files fail on demand,
// so that tests can prove every failure path returns its code and leaks
// nothing. Compiled only with IFFJPEG_FAULT_INJECTION.
#if defined(IFFJPEG_FAULT_INJECTION)

#include <atomic>

#include "platform/platform.h"

namespace iffjpeg::testing {
namespace {
std::atomic<long> failAt{0};
std::atomic<bool> failOnwards{false};
std::atomic<long> counted{0};
std::atomic<bool> failTemp{false};
std::atomic<long> freed{0};
}  // namespace

void FailAllocationNumber(long n) {
  counted = 0;
  freed = 0;
  failOnwards = false;
  failAt = n;
}

void FailAllocationsFrom(long n) {
  counted = 0;
  freed = 0;
  failOnwards = n > 0;
  failAt = n;
}

long AllocationsCounted() { return counted.load(); }

long FreesCounted() { return freed.load(); }

void CountFree() { ++freed; }

void FailNextTempFile(bool fail) { failTemp = fail; }

bool ShouldFailAllocation() {
  long n = ++counted;
  long at = failAt.load();
  if (at <= 0) return false;
  return failOnwards ? n >= at : n == at;
}

bool ShouldFailTempFile() { return failTemp.exchange(false); }

}  // namespace iffjpeg::testing

#endif
