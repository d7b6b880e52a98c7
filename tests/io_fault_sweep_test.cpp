// The file callbacks failing at each call in turn: reads that fail or come
// back short, writes short at each flush or failing from one on, seeks and
// closes that fail. Each must give its code (8, 9, 10, 11, or 3 for a seek),
// never crash, never hand over lost data without a code, and never report a
// written file complete when bytes were lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "iffjpeg.h"
#include "support/codec_runs.h"
#include "support/jpeg_builder.h"

namespace {

using iffjpeg_test::Image;
using iffjpeg_test::MemoryFile;
using iffjpeg_test::ReadRun;
using iffjpeg_test::WriteRun;

constexpr std::size_t kFlushBytes = 262140;

struct ReadCase {
  std::vector<uint8_t> jpeg;
  int mcuHeight;  // lines per MCU row
};

ReadCase SmallRestartFile() {
  iffjpeg_test::JpegBuildOptions options = iffjpeg_test::ColourOptions(2, 2);
  options.restartInterval = 2;
  return {iffjpeg_test::BuildJpeg(iffjpeg_test::MakeTestImage(61, 45, 3, 2), options), 16};
}

// Several stream-buffer fills: noise at quality 100.
ReadCase LargeFile() {
  iffjpeg_test::JpegBuildOptions options = iffjpeg_test::ColourOptions(1, 1);
  options.quality = 100;
  return {iffjpeg_test::BuildJpeg(iffjpeg_test::MakeNoiseImage(480, 400, 3, 9), options), 8};
}

std::size_t FirstDifferingLine(const ReadRun& a, const ReadRun& b) {
  const std::size_t stride = static_cast<std::size_t>(a.info.width) * a.info.planes;
  for (std::size_t y = 0; y < a.codes.size(); ++y) {
    if (!std::equal(a.pixels.begin() + y * stride, a.pixels.begin() + (y + 1) * stride,
                    b.pixels.begin() + y * stride)) {
      return y;
    }
  }
  return a.codes.size();
}

std::size_t FirstCode(const ReadRun& run, int32_t code) {
  auto at = std::find(run.codes.begin(), run.codes.end(), code);
  return static_cast<std::size_t>(at - run.codes.begin());
}

// Read number k fails, for every k the clean read makes (and one more).
void SweepReadFailures(const ReadCase& c, int32_t chunk) {
  MemoryFile cleanFile(c.jpeg);
  cleanFile.maxReadChunk = chunk;
  const ReadRun clean = iffjpeg_test::ReadThrough(cleanFile);
  ASSERT_EQ(clean.open, 0);
  ASSERT_EQ(std::count(clean.codes.begin(), clean.codes.end(), 0),
            static_cast<long>(clean.codes.size()));
  const int32_t height = clean.info.height;
  // Data lost in the last MCU row is not reported (the file may end there),
  // and the line just above that row takes chroma from it when upsampling.
  const std::size_t lastRowStart =
      static_cast<std::size_t>((height - 1) / c.mcuHeight * c.mcuHeight) - 1;
  for (int32_t k = 1; k <= cleanFile.readCalls + 1; ++k) {
    SCOPED_TRACE(testing::Message() << "read " << k << " of " << cleanFile.readCalls << " fails");
    MemoryFile file(c.jpeg);
    file.maxReadChunk = chunk;
    file.failReadAtCall = k;
    ReadRun run = iffjpeg_test::ReadThrough(file);
    EXPECT_FALSE(run.fileLeftOpen);
    if (run.open != 0) {
      EXPECT_EQ(run.open, -IFF_ERR_BAD_DATA) << "the header was cut short";
      continue;
    }
    for (int32_t code : run.codes) EXPECT_TRUE(code == 0 || code == IFF_ERR_DATA_ENDED) << code;
    std::size_t differs = FirstDifferingLine(run, clean);
    if (k > cleanFile.readCalls) {
      EXPECT_EQ(differs, run.codes.size());
      EXPECT_EQ(run.codes, clean.codes);
    } else if (differs < run.codes.size() && differs < lastRowStart) {
      // Data lost before the last MCU row is reported, at the latest on
      // the first line it spoils.
      EXPECT_LE(FirstCode(run, IFF_ERR_DATA_ENDED), differs);
    }
  }
}

TEST(IoFaultSweep, ReadFailingAtEachCallOfASmallFileInChunks) {
  SweepReadFailures(SmallRestartFile(), 97);
}

TEST(IoFaultSweep, ReadFailingAtEachFillOfALargeFile) {
  ReadCase c = LargeFile();
  ASSERT_GT(c.jpeg.size(), 2 * kFlushBytes);
  SweepReadFailures(c, 0x7FFFFFFF);
  SweepReadFailures(c, 100000);
}

// A read that fails once and then works again must not splice the bytes
// after it onto those before: the data has ended for good.
TEST(IoFaultSweep, ReadFailingOnceInTheHeaderRefusesTheFile) {
  ReadCase c = SmallRestartFile();
  MemoryFile file(c.jpeg);
  file.maxReadChunk = 97;  // inside the first quantization table
  file.failReadAtCall = 2;
  ReadRun run = iffjpeg_test::ReadThrough(file);
  EXPECT_EQ(run.open, -IFF_ERR_BAD_DATA);
  EXPECT_EQ(file.readCalls, 2);
}

TEST(IoFaultSweep, ShortReadsDeliverTheSameLines) {
  ReadCase c = SmallRestartFile();
  const ReadRun whole = iffjpeg_test::ReadBytes(c.jpeg);
  ASSERT_EQ(whole.open, 0);
  for (int32_t chunk : {1, 2, 7, 4096}) {
    SCOPED_TRACE(chunk);
    MemoryFile file(c.jpeg);
    file.maxReadChunk = chunk;
    ReadRun run = iffjpeg_test::ReadThrough(file);
    EXPECT_EQ(run.open, 0);
    EXPECT_EQ(run.codes, whole.codes);
    EXPECT_EQ(run.pixels, whole.pixels);
    EXPECT_EQ(run.close, 0);
  }
}

TEST(IoFaultSweep, FailingSeekLeavesTheReadWhereItWas) {
  ReadCase c = SmallRestartFile();
  const ReadRun whole = iffjpeg_test::ReadBytes(c.jpeg);
  MemoryFile file(c.jpeg);
  IFFImageInfo info{};
  int32_t h = IFFOpen(file.source(), IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
  ASSERT_GT(h, 0);
  const std::size_t stride = static_cast<std::size_t>(info.width) * info.planes;
  std::vector<uint8_t> line(stride);
  for (int y = 0; y < 20; ++y) ASSERT_EQ(IFFGetLine(h, 1, line.data()), 0);
  file.failSeek = true;
  EXPECT_EQ(IFFSeek(h, 3), IFF_ERR_UNSUPPORTED);
  for (int y = 20; y < info.height; ++y) {
    ASSERT_EQ(IFFGetLine(h, 1, line.data()), 0);
    EXPECT_TRUE(std::equal(line.begin(), line.end(), whole.pixels.begin() + y * stride)) << y;
  }
  file.failSeek = false;
  EXPECT_EQ(IFFSeek(h, 3), 0);
  ASSERT_EQ(IFFGetLine(h, 1, line.data()), 0);
  EXPECT_TRUE(std::equal(line.begin(), line.end(), whole.pixels.begin() + 3 * stride));
  EXPECT_EQ(IFFClose(h), 0);
}

TEST(IoFaultSweep, FailingOpenAndCloseGiveEightAndNine) {
  ReadCase c = SmallRestartFile();
  for (int32_t mode : {IFF_MODE_READ, IFF_MODE_READ_NOSEEK, IFF_MODE_WRITE}) {
    SCOPED_TRACE(mode);
    MemoryFile file(c.jpeg);
    file.failOpen = true;
    IFFImageInfo info{0, 8, 8, 1, 8, 0, 0};
    EXPECT_EQ(IFFOpen(file.source(), mode | IFF_MODE_CALLBACKS, &info), -IFF_ERR_OPEN);
    EXPECT_EQ(file.readCalls + file.writeCalls + file.closeCalls, 0);
  }
  MemoryFile readFile(c.jpeg);
  readFile.failClose = true;
  EXPECT_EQ(iffjpeg_test::ReadThrough(readFile).close, IFF_ERR_CLOSE);
  MemoryFile writeFile;
  writeFile.failClose = true;
  WriteRun run = iffjpeg_test::WriteThrough(iffjpeg_test::MakeTestImage(20, 20, 3, 1), writeFile);
  EXPECT_EQ(run.close, IFF_ERR_CLOSE);
  EXPECT_FALSE(writeFile.open);
}

// A written file of several flushes, and the clean run's figures.
struct WriteCase {
  Image image = iffjpeg_test::MakeNoiseImage(1000, 800, 1, 4);
  MemoryFile cleanFile;
  WriteRun clean;
  WriteCase() { clean = iffjpeg_test::WriteThrough(image, cleanFile, 100); }
};

// Checks a run whose write number k lost bytes: the line call during which
// that write happened reports 11, every call after it too, and the close.
void ExpectLossReported(const WriteRun& run, int32_t k, bool lastWriteAtClose) {
  EXPECT_EQ(run.close, IFF_ERR_WRITE);
  bool lost = false;
  for (std::size_t i = 0; i < run.codes.size(); ++i) {
    bool duringThisCall = !lost && run.writesAfter[i] >= k;
    if (duringThisCall) lost = true;
    EXPECT_EQ(run.codes[i], lost ? IFF_ERR_WRITE : 0) << "call " << i;
  }
  EXPECT_EQ(lost, !lastWriteAtClose);
}

TEST(IoFaultSweep, WriteShortAtEachFlush) {
  WriteCase c;
  ASSERT_EQ(c.clean.close, 0);
  const int32_t writes = c.cleanFile.writeCalls;
  ASSERT_GE(writes, 4) << "the image must span several flushes";
  for (int32_t k = 1; k <= writes; ++k) {
    SCOPED_TRACE(testing::Message() << "write " << k << " of " << writes << " is short");
    MemoryFile file;
    file.shortWriteAtCall = k;
    WriteRun run = iffjpeg_test::WriteThrough(c.image, file, 100);
    ExpectLossReported(run, k, k == writes);
    EXPECT_LT(file.data.size(), c.cleanFile.data.size());
    EXPECT_EQ(file.writeSizes[static_cast<std::size_t>(k - 1)],
              k < writes ? static_cast<int32_t>(kFlushBytes) : file.writeSizes.back());
  }
}

TEST(IoFaultSweep, WritesFailingFromEachFlushOn) {
  WriteCase c;
  const int32_t writes = c.cleanFile.writeCalls;
  for (int32_t k = 1; k <= writes; ++k) {
    SCOPED_TRACE(testing::Message() << "writes fail from " << k);
    MemoryFile file;
    file.failWriteFromCall = k;
    WriteRun run = iffjpeg_test::WriteThrough(c.image, file, 100);
    ExpectLossReported(run, k, k == writes);
    EXPECT_EQ(file.data.size(), static_cast<std::size_t>(k - 1) * kFlushBytes);
  }
}

TEST(IoFaultSweep, CloseFailureOutranksALostWrite) {
  WriteCase c;
  MemoryFile file;
  file.shortWriteAtCall = 2;
  file.failClose = true;
  WriteRun run = iffjpeg_test::WriteThrough(c.image, file, 100);
  EXPECT_EQ(run.close, IFF_ERR_CLOSE);
}

}  // namespace
