// Whole reads and writes with allocation number 1, 2, 3, ... failing in
// turn, until one runs without reaching the failure. Each run must end with
// out-of-memory (-5 from IFFOpen, 5 from a line call) or exactly as the run
// without failures, leave no file open and give back every block it got.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "iffjpeg.h"
#include "platform/platform.h"
#include "support/codec_runs.h"
#include "support/jpeg_builder.h"

namespace {

using iffjpeg_test::MemoryFile;
namespace hooks = iffjpeg::testing;

struct Counts {
  long allocations;  // including the one made to fail
  long releases;
};

Counts Stop() {
  Counts c{hooks::AllocationsCounted(), hooks::FreesCounted()};
  hooks::FailAllocationNumber(0);
  return c;
}

bool HasCode(const std::vector<int32_t>& codes, int32_t code) {
  for (int32_t c : codes) {
    if (c == code) return true;
  }
  return false;
}

void SweepRead(const std::vector<uint8_t>& jpeg) {
  MemoryFile cleanFile(jpeg);
  const iffjpeg_test::ReadRun clean = iffjpeg_test::ReadThrough(cleanFile);
  ASSERT_EQ(clean.open, 0);
  ASSERT_FALSE(HasCode(clean.codes, IFF_ERR_MEMORY));
  for (long n = 1;; ++n) {
    SCOPED_TRACE(testing::Message() << "allocation " << n << " fails");
    MemoryFile file(jpeg);
    hooks::FailAllocationNumber(n);
    iffjpeg_test::ReadRun run = iffjpeg_test::ReadThrough(file);
    Counts counts = Stop();
    EXPECT_FALSE(run.fileLeftOpen);
    if (counts.allocations < n) {  // the failure was never reached
      EXPECT_EQ(run.open, 0);
      EXPECT_EQ(run.codes, clean.codes);
      EXPECT_EQ(run.pixels, clean.pixels);
      EXPECT_EQ(counts.releases, counts.allocations);
      EXPECT_GT(n, 2);
      break;
    }
    EXPECT_EQ(counts.releases, counts.allocations - 1) << "every block obtained is given back";
    if (run.open != 0) {
      EXPECT_EQ(run.open, -IFF_ERR_MEMORY);
    } else {
      // Decoding allocates nothing per line, but a late allocation failure
      // must still show as 5 on the line that met it.
      EXPECT_TRUE(HasCode(run.codes, IFF_ERR_MEMORY));
    }
    ASSERT_LT(n, 5000);
  }
}

void SweepWrite(const iffjpeg_test::Image& image, int quality, int32_t option = 0) {
  MemoryFile cleanFile;
  const iffjpeg_test::WriteRun clean =
      iffjpeg_test::WriteThrough(image, cleanFile, quality, option);
  ASSERT_EQ(clean.open, 0);
  ASSERT_EQ(clean.close, 0);
  for (long n = 1;; ++n) {
    SCOPED_TRACE(testing::Message() << "allocation " << n << " fails");
    MemoryFile file;
    hooks::FailAllocationNumber(n);
    iffjpeg_test::WriteRun run = iffjpeg_test::WriteThrough(image, file, quality, option);
    Counts counts = Stop();
    EXPECT_FALSE(run.fileLeftOpen);
    if (counts.allocations < n) {
      EXPECT_EQ(run.open, 0);
      EXPECT_EQ(run.close, 0);
      EXPECT_EQ(file.data, cleanFile.data);
      EXPECT_EQ(counts.releases, counts.allocations);
      EXPECT_GT(n, 2);
      break;
    }
    EXPECT_EQ(counts.releases, counts.allocations - 1) << "every block obtained is given back";
    if (run.open != 0) {
      EXPECT_EQ(run.open, -IFF_ERR_MEMORY);
    } else if (run.quality != 0) {
      // The quality could not be set and the host was told; the file is
      // still written whole at the quality in force.
      EXPECT_EQ(run.quality, IFF_ERR_MEMORY);
      EXPECT_FALSE(HasCode(run.codes, IFF_ERR_MEMORY));
      EXPECT_EQ(run.close, 0);
    } else {
      // A line call reported 5. Either the host's retry of that line went
      // through and the file is exactly the one written without failures,
      // or the handle stays failed and the close does not report success.
      ASSERT_TRUE(HasCode(run.codes, IFF_ERR_MEMORY));
      if (run.codes.back() == 0) {
        EXPECT_EQ(run.close, 0);
        EXPECT_EQ(file.data, cleanFile.data) << "a retried line is written once, in its place";
      } else {
        EXPECT_EQ(run.codes.back(), IFF_ERR_MEMORY);
        EXPECT_EQ(run.close, IFF_ERR_MEMORY) << "a failed file is not reported complete";
      }
    }
    ASSERT_LT(n, 5000);
  }
}

iffjpeg_test::Image Picture(int width, int height, int channels) {
  return iffjpeg_test::MakeTestImage(width, height, channels, 5);
}

TEST(AllocationFailureSweep, ReadGreyscale) {
  SweepRead(iffjpeg_test::BuildJpeg(Picture(37, 29, 1), iffjpeg_test::GreyOptions()));
}

TEST(AllocationFailureSweep, ReadColour420) {
  SweepRead(iffjpeg_test::BuildJpeg(Picture(41, 35, 3), iffjpeg_test::ColourOptions(2, 2)));
}

TEST(AllocationFailureSweep, ReadWithRestartIntervalAndOddLayout) {
  iffjpeg_test::JpegBuildOptions options = iffjpeg_test::ColourOptions(2, 2, 1, 2);
  options.restartInterval = 3;
  options.sixteenBitQuant = true;
  SweepRead(iffjpeg_test::BuildJpeg(Picture(50, 33, 3), options));
}

// Metadata that cannot be kept is absent: the lines and codes stay those of
// the run without failures, and every chunk kept is given back.
TEST(AllocationFailureSweep, ReadWithMetadataSegments) {
  iffjpeg_test::JpegBuildOptions options = iffjpeg_test::GreyOptions();
  auto segment = [](int marker, std::vector<uint8_t> payload) {
    std::vector<uint8_t> out;
    iffjpeg_test::AppendSegment(out, marker, payload);
    return out;
  };
  std::vector<uint8_t> icc = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 2, 2, 7};
  std::vector<uint8_t> icc1 = icc;
  icc1[12] = 1;
  options.extraSegments = {segment(0xE2, icc), segment(0xE2, icc1),
                           segment(0xE1, {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0}),
                           segment(0xFE, {'a'}), segment(0xFE, {'b'})};
  SweepRead(iffjpeg_test::BuildJpeg(Picture(20, 12, 1), options));
}

TEST(AllocationFailureSweep, WriteGreyscale) { SweepWrite(Picture(45, 27, 1), 75); }

TEST(AllocationFailureSweep, WriteRgbAtQuality90) { SweepWrite(Picture(39, 34, 3), 90); }

TEST(AllocationFailureSweep, WriteProgressive) {
  SweepWrite(Picture(39, 34, 3), 75, IFF_CTL_PROGRESSIVE);
}

}  // namespace
