// Whole files written through the entry points: decoded by stb_image, under
// write failures, and for memory that must not grow with the height.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <utility>
#include <vector>

#include "driver/handle.h"
#include "driver/stages.h"
#include "support/encoder_harness.h"
#include "support/images.h"
#include "support/memory_file.h"

// The address sanitizer's count of live heap bytes; absent (null) in builds
// without it, where the byte figure is skipped.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

namespace {

using namespace iffjpeg_test;

std::size_t LiveHeapBytes() {
  return __sanitizer_get_current_allocated_bytes ? __sanitizer_get_current_allocated_bytes() : 0;
}

struct Floor {
  int quality;
  double grey, rgb;  // PSNR floors in dB on MakeTestImage content
};

// Floors about 1 dB below what was measured on MakeTestImage content of
// 100 x 50 and 1023 x 767 (fine texture and noise, so the 2x2 chroma
// subsampling costs RGB files most of their PSNR).
constexpr Floor kFloors[] = {
    {1, 15.5, 12.5},  {10, 26.5, 23.5}, {50, 32.5, 27.5},
    {75, 34.0, 28.5}, {95, 41.5, 31.0}, {100, 57.5, 31.5},
};

TEST(EncoderRoundTrip, DecodesCloseToTheInputAtEveryQualityAndSize) {
  const int sizes[][2] = {{1, 1}, {17, 9}, {100, 50}, {1023, 767}};
  for (const Floor& floor : kFloors) {
    for (const auto& size : sizes) {
      for (int channels : {1, 3}) {
        SCOPED_TRACE(testing::Message() << "quality " << floor.quality << " " << size[0] << "x"
                                        << size[1] << " channels " << channels);
        Image img = MakeTestImage(size[0], size[1], channels, 1000 + size[0]);
        MemoryFile file;
        EncodeOptions options;
        options.quality = floor.quality;
        options.linesPerCall = 7;
        ASSERT_EQ(EncodeImage(img, file, options), 0);
        Image out;
        ASSERT_TRUE(StbDecode(file.data, &out));
        ASSERT_EQ(out.width, size[0]);
        ASSERT_EQ(out.height, size[1]);
        ASSERT_EQ(out.channels, channels);
        double psnr = Psnr(img, out);
        if (size[0] >= 100) {
          EXPECT_GE(psnr, channels == 1 ? floor.grey : floor.rgb);
        }
        std::printf("[ psnr ] q%-3d %4dx%-4d c%d %6.2f dB %8zu bytes\n", floor.quality, size[0],
                    size[1], channels, psnr, file.data.size());
      }
    }
  }
}

TEST(EncoderRoundTrip, SmoothColourImages) {
  // Smooth colour survives the chroma subsampling: measured 43.4 dB at
  // quality 75 and 49.6 dB at 100.
  Image img;
  img.width = 200;
  img.height = 120;
  img.channels = 3;
  img.pixels.resize(200 * 120 * 3);
  for (int y = 0; y < 120; ++y) {
    for (int x = 0; x < 200; ++x) {
      uint8_t* p = img.row(y) + 3 * x;
      p[0] = static_cast<uint8_t>(x * 255 / 199);
      p[1] = static_cast<uint8_t>(y * 255 / 119);
      p[2] = static_cast<uint8_t>(128 + 100 * std::sin(x * 0.05 + y * 0.03));
    }
  }
  for (auto [quality, floor] : {std::pair{75, 42.5}, std::pair{100, 48.5}}) {
    MemoryFile file;
    EncodeOptions options;
    options.quality = quality;
    ASSERT_EQ(EncodeImage(img, file, options), 0);
    Image out;
    ASSERT_TRUE(StbDecode(file.data, &out));
    EXPECT_GE(Psnr(img, out), floor) << quality;
  }
}

TEST(EncoderRoundTrip, FlatImagesSurviveExactly) {
  // A uniform image is coded as DC terms only, which decode exactly.
  for (int channels : {1, 3}) {
    Image img;
    img.width = 31;
    img.height = 18;
    img.channels = channels;
    img.pixels.assign(31 * 18 * channels, 0);
    for (std::size_t i = 0; i < img.pixels.size(); ++i) {
      img.pixels[i] = channels == 1 ? 77 : (i % 3 == 0 ? 200 : i % 3 == 1 ? 30 : 90);
    }
    MemoryFile file;
    ASSERT_EQ(EncodeImage(img, file), 0);
    Image out;
    ASSERT_TRUE(StbDecode(file.data, &out));
    EXPECT_LE(MaxAbsDiff(img, out), 2) << channels;
  }
}

// ------------------------------------------------------------ failures

struct WriteRun {
  std::vector<int32_t> lineResults;  // result of every IFFPutLine
  int32_t closeResult = 0;
  int32_t writeCalls = 0;
  int32_t writesBeforeClose = 0;
};

WriteRun EncodeWithFile(const Image& img, MemoryFile& file) {
  WriteRun run;
  IFFImageInfo info{};
  info.width = img.width;
  info.height = img.height;
  info.planes = img.channels;
  info.bitsPerSample = 8;
  int32_t h = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  EXPECT_GT(h, 0);
  // Quality 100: the data spans three stream-buffer flushes.
  EXPECT_EQ(iffjpeg::SetQuality(HandleOf(h)->encoder, 100, 0), 0);
  for (int y = 0; y < img.height; y += 64) {
    run.lineResults.push_back(IFFPutLine(h, std::min(64, img.height - y), img.row(y)));
  }
  run.writesBeforeClose = file.writeCalls;
  run.closeResult = IFFClose(h);
  run.writeCalls = file.writeCalls;
  return run;
}

class EncoderFailures : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { image_ = new Image(MakeTestImage(1023, 767, 3, 99)); }
  static void TearDownTestSuite() { delete image_; }
  static Image* image_;
};
Image* EncoderFailures::image_ = nullptr;

TEST_F(EncoderFailures, CleanRunFlushesInFullBuffers) {
  MemoryFile file;
  WriteRun run = EncodeWithFile(*image_, file);
  EXPECT_EQ(run.closeResult, 0);
  for (int32_t rc : run.lineResults) EXPECT_EQ(rc, 0);
  ASSERT_GE(run.writeCalls, 3) << "the test image must need several flushes";
  for (int i = 0; i + 1 < run.writeCalls; ++i) EXPECT_EQ(file.writeSizes[i], 262140);
}

TEST_F(EncoderFailures, ShortWriteDuringALineFailsTheHandle) {
  for (int at : {1, 2}) {
    SCOPED_TRACE(at);
    MemoryFile file;
    file.shortWriteAtCall = at;
    WriteRun run = EncodeWithFile(*image_, file);
    auto first = std::find(run.lineResults.begin(), run.lineResults.end(), 11);
    ASSERT_NE(first, run.lineResults.end());
    for (auto it = run.lineResults.begin(); it != first; ++it) EXPECT_EQ(*it, 0);
    for (auto it = first; it != run.lineResults.end(); ++it) EXPECT_EQ(*it, 11);
    EXPECT_EQ(run.closeResult, 11);
    EXPECT_EQ(run.writesBeforeClose, at) << "a failed handle encodes nothing more";
  }
}

TEST_F(EncoderFailures, ShortFinalFlushIsTheCloseResult) {
  MemoryFile clean;
  int32_t writes = EncodeWithFile(*image_, clean).writeCalls;
  MemoryFile file;
  file.shortWriteAtCall = writes;
  WriteRun run = EncodeWithFile(*image_, file);
  for (int32_t rc : run.lineResults) EXPECT_EQ(rc, 0);
  EXPECT_EQ(run.closeResult, 11);
}

TEST_F(EncoderFailures, FailingWritesAndCloses) {
  MemoryFile dead;
  dead.failWriteFromCall = 1;
  WriteRun run = EncodeWithFile(*image_, dead);
  EXPECT_EQ(run.closeResult, 11);
  EXPECT_NE(std::find(run.lineResults.begin(), run.lineResults.end(), 11), run.lineResults.end());

  MemoryFile badClose;
  badClose.failClose = true;
  EXPECT_EQ(EncodeWithFile(*image_, badClose).closeResult, 9);

  MemoryFile both;
  both.failClose = true;
  both.shortWriteAtCall = 1;
  EXPECT_EQ(EncodeWithFile(*image_, both).closeResult, 9);
}

// ------------------------------------------------------------ memory

// File callbacks that throw the data away, so that only the library's own
// memory is measured.
int32_t SinkOpen(const void*, int32_t, int32_t) { return 3; }
int32_t SinkClose(int32_t) { return 0; }
int32_t SinkRead(int32_t, void*, int32_t) { return 0; }
int32_t SinkWrite(int32_t, const void*, int32_t n) { return n; }
int32_t SinkSeek(int32_t, int32_t, int32_t) { return 0; }

struct MemoryUse {
  std::size_t peakBytes = 0;
  long allocations = 0;
};

MemoryUse EncodeStripes(int width, int height, int channels) {
  static const IFFFileOps sink = {SinkOpen, SinkClose, SinkRead, SinkWrite, SinkSeek};
  std::vector<uint8_t> lines(static_cast<std::size_t>(width) * channels * 16);
  for (std::size_t i = 0; i < lines.size(); ++i) lines[i] = static_cast<uint8_t>(i * 7 + i / 13);
  MemoryUse use;
  std::size_t base = LiveHeapBytes();
  iffjpeg::testing::FailAllocationNumber(0);  // restarts the count
  IFFImageInfo info{};
  info.width = width;
  info.height = height;
  info.planes = channels;
  info.bitsPerSample = 8;
  int32_t h = IFFOpen(&sink, IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  EXPECT_GT(h, 0);
  for (int y = 0; y < height; ++y) {
    EXPECT_EQ(IFFPutLine(h, 1, lines.data() + (y % 16) * width * channels), 0);
    use.peakBytes = std::max(use.peakBytes, LiveHeapBytes() - base);
  }
  use.allocations = iffjpeg::testing::AllocationsCounted();
  EXPECT_EQ(IFFClose(h), 0);
  return use;
}

TEST(EncoderMemory, TallImagesCostNoMoreThanShortOnes) {
  for (int channels : {1, 3}) {
    MemoryUse shortImage = EncodeStripes(64, 1000, channels);
    // 65535 is the tallest image the frame header (and IFFOpen) allows.
    MemoryUse tallImage = EncodeStripes(64, 65535, channels);
    EXPECT_EQ(tallImage.allocations, shortImage.allocations) << "nothing is allocated per line";
    EXPECT_LE(tallImage.peakBytes, shortImage.peakBytes + 1024) << channels;
    std::printf("[ memory ] channels %d: 64x1000 %zu bytes, 64x65535 %zu bytes, %ld allocations\n",
                channels, shortImage.peakBytes, tallImage.peakBytes, tallImage.allocations);
  }
}

}  // namespace
