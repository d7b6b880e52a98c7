// Every allocation an IFFOpen makes is made to fail in turn: each failure
// must end the open with -5, close the file it opened and give back every
// block it had obtained.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "iffjpeg.h"
#include "platform/platform.h"
#include "support/memory_file.h"

namespace {

using iffjpeg_test::MemoryFile;
namespace hooks = iffjpeg::testing;

struct OpenOutcome {
  int32_t result;
  long allocations;  // counted, including the one made to fail
  long releases;
  bool fileLeftOpen;
  int32_t clearedOnOpen;
};

// Opens (and, on success, closes) with allocation number failAt failing;
// 0 lets every allocation succeed.
OpenOutcome OpenWithFailure(const std::vector<uint8_t>& contents, int32_t mode, long failAt) {
  MemoryFile file(contents);
  IFFImageInfo info{};
  info.width = 64;
  info.height = 48;
  info.planes = 3;
  info.bitsPerSample = 8;
  info.clearedOnOpen = 77;
  hooks::FailAllocationNumber(failAt);
  OpenOutcome out{};
  out.result = IFFOpen(file.source(), mode | IFF_MODE_CALLBACKS, &info);
  out.allocations = hooks::AllocationsCounted();
  out.releases = hooks::FreesCounted();
  out.fileLeftOpen = file.open;
  out.clearedOnOpen = info.clearedOnOpen;
  hooks::FailAllocationNumber(0);
  if (out.result > 0) {
    EXPECT_EQ(IFFClose(out.result), 0);
  }
  return out;
}

void SweepAllocations(const std::vector<uint8_t>& contents, int32_t mode) {
  OpenOutcome clean = OpenWithFailure(contents, mode, 0);
  ASSERT_GT(clean.allocations, 0);
  for (long n = 1;; ++n) {
    SCOPED_TRACE(testing::Message() << "allocation " << n << " fails");
    OpenOutcome out = OpenWithFailure(contents, mode, n);
    if (out.allocations < n) {
      // The open no longer reaches the failing allocation: it runs as it
      // does when nothing fails.
      if (clean.result > 0) {
        EXPECT_GT(out.result, 0);
      } else {
        EXPECT_EQ(out.result, clean.result);
      }
      EXPECT_EQ(n, clean.allocations + 1);
      break;
    }
    EXPECT_EQ(out.result, -IFF_ERR_MEMORY);
    EXPECT_FALSE(out.fileLeftOpen) << "a failed open closes its file";
    EXPECT_EQ(out.releases, out.allocations - 1) << "every block obtained is given back";
    if (n > 1) {
      EXPECT_EQ(out.clearedOnOpen, 0) << "the handle was allocated";
    }
    ASSERT_LT(n, 10000);
  }
}

TEST(OpenAllocationSweep, OpenForWriting) { SweepAllocations({}, IFF_MODE_WRITE); }

TEST(OpenAllocationSweep, OpenForReadingOfAStartOfImageOnly) {
  SweepAllocations({0xFF, 0xD8}, IFF_MODE_READ);
}

}  // namespace
