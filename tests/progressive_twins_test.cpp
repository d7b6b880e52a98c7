// Progressive twins through the public entry points: a progressive file read
// in extended mode gives exactly the lines of the sequential file that holds
// the same quantized coefficients, read in the default mode; a truncated
// progressive file still gives the whole picture, from the scans it holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "iffjpeg.h"
#include "support/images.h"
#include "support/jpeg_builder.h"
#include "support/memory_file.h"
#include "support/progressive_cases.h"

namespace {

using namespace iffjpeg_test;

struct Decoded {
  int32_t open = 0;
  std::vector<int32_t> codes;
  Image image;
};

Decoded Decode(const std::vector<uint8_t>& jpeg, int32_t mode) {
  Decoded result;
  MemoryFile file(jpeg);
  IFFImageInfo info{};
  result.open = IFFOpen(file.source(), mode | IFF_MODE_CALLBACKS, &info);
  if (result.open <= 0) return result;
  result.image = {info.width, info.height, info.planes, {}};
  result.image.pixels.assign(static_cast<std::size_t>(info.width) * info.height * info.planes, 0);
  for (int32_t y = 0; y < info.height; ++y) {
    result.codes.push_back(IFFGetLine(result.open, 1, result.image.row(y)));
  }
  EXPECT_EQ(IFFClose(result.open), 0);
  return result;
}

// Until the library decodes SOF2, every progressive file is refused with 7;
// these tests then have nothing to compare.
int FirstDifferingLine(const Image& a, const Image& b) {
  std::size_t row = static_cast<std::size_t>(a.width) * a.channels;
  for (int y = 0; y < a.height; ++y) {
    if (!std::equal(a.row(y), a.row(y) + row, b.row(y))) return y;
  }
  return -1;
}

TEST(ProgressiveTwins, IdenticalLinesInEveryLayoutSizeAndScript) {
  for (const ProgressiveLayout& layout : ProgressiveLayouts()) {
    int components = static_cast<int>(layout.options.components.size());
    for (auto [width, height] : ProgressiveSizes()) {
      Image image = MakeTestImage(width, height, layout.channels, 33);
      Decoded sequential = Decode(BuildJpeg(image, layout.options), IFF_MODE_READ);
      ASSERT_GT(sequential.open, 0) << layout.name;
      for (const ProgressiveScript& script : ProgressiveScripts(components)) {
        std::string what = std::string(layout.name) + " " + std::to_string(width) + "x" +
                           std::to_string(height) + ", " + script.name;
        Decoded progressive =
            Decode(BuildJpeg(image, WithScript(layout.options, script)), IFF_MODE_EXTENDED);
        ASSERT_GT(progressive.open, 0) << what;
        EXPECT_EQ(progressive.codes, sequential.codes) << what;
        ASSERT_EQ(progressive.image.pixels.size(), sequential.image.pixels.size()) << what;
        EXPECT_EQ(FirstDifferingLine(progressive.image, sequential.image), -1) << what;
      }
    }
  }
}

// Cut right after scan k: the picture of the file whose only scans are the
// first k, with 10 on the first line (the next scan reached no MCU row).
// Cut anywhere else: no crash, 10 on exactly one line.
TEST(ProgressiveTwins, TruncatedFilesGiveTheWholePictureAndTenOnce) {
  for (const ProgressiveLayout& layout : {ProgressiveLayouts()[0], ProgressiveLayouts()[4]}) {
    Image image = MakeTestImage(61, 45, layout.channels, 8);
    int components = static_cast<int>(layout.options.components.size());
    JpegBuildOptions options = layout.options;
    options.progressiveScans = SuccessiveApproximationScript(components);
    options.restartInterval = 3;
    std::vector<uint8_t> full = BuildJpeg(image, options);
    std::vector<JpegSegment> segments = ListSegments(full);
    std::size_t scanIndex = 0;
    for (std::size_t i = 0; i < segments.size(); ++i) {
      if (segments[i].marker != 0xDA) continue;
      ++scanIndex;
      // Where the scan's data end: the next marker that is not RSTn.
      std::size_t j = i + 1;
      while (j < segments.size() && (segments[j].marker & 0xF8) == 0xD0) ++j;
      if (j >= segments.size() || segments[j].marker == 0xD9) continue;
      std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<long>(segments[j].offset));
      JpegBuildOptions fewer = options;
      fewer.progressiveScans.resize(scanIndex);
      Decoded expected = Decode(BuildJpeg(image, fewer), IFF_MODE_EXTENDED);
      Decoded got = Decode(cut, IFF_MODE_EXTENDED);
      std::string what = std::string(layout.name) + ", cut after scan " + std::to_string(scanIndex);
      ASSERT_GT(got.open, 0) << what;
      ASSERT_FALSE(got.codes.empty()) << what;
      EXPECT_EQ(got.codes[0], IFF_ERR_DATA_ENDED) << what;
      EXPECT_EQ(std::count(got.codes.begin(), got.codes.end(), 0),
                static_cast<long>(got.codes.size()) - 1)
          << what;
      EXPECT_EQ(FirstDifferingLine(got.image, expected.image), -1) << what;
    }
    for (std::size_t length = 2; length + 2 < segments.back().offset; length += 37) {
      std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<long>(length));
      Decoded got = Decode(cut, IFF_MODE_EXTENDED);
      if (got.open <= 0) continue;  // the headers themselves were cut
      EXPECT_EQ(std::count(got.codes.begin(), got.codes.end(), IFF_ERR_DATA_ENDED), 1)
          << layout.name << ", cut at " << length;
    }
  }
}

// The coefficients of a frame above the memory limit: the arrays that fit
// are held whole and the others go through the backing store (luma whole
// with 2 MiB, one chroma array whole with 1 MiB), with every kind of scan
// and restart intervals; the lines stay the sequential twin's.
TEST(ProgressiveTwins, IdenticalLinesThroughTheBackingStore) {
  for (const ProgressiveLayout& layout : {ProgressiveLayouts()[3], ProgressiveLayouts()[4]}) {
    Image image = MakeTestImage(1000, 700, layout.channels, 21);
    Decoded sequential = Decode(BuildJpeg(image, layout.options), IFF_MODE_READ);
    ASSERT_GT(sequential.open, 0) << layout.name;
    JpegBuildOptions options = layout.options;
    options.progressiveScans = SuccessiveApproximationScript(3);
    for (int restartInterval : {0, 5}) {
      options.restartInterval = restartInterval;
      std::vector<uint8_t> jpeg = BuildJpeg(image, options);
      for (int32_t memoryMiB : {1, 2}) {
        std::string what = std::string(layout.name) + ", " + std::to_string(memoryMiB) +
                           " MiB, restart " + std::to_string(restartInterval);
        MemoryFile file(jpeg);
        IFFImageInfo info{};
        int32_t h =
            IFFOpen(file.source(), IFF_MODE_READ | IFF_MODE_EXTENDED | IFF_MODE_CALLBACKS, &info);
        ASSERT_GT(h, 0) << what;
        int32_t limits[2] = {memoryMiB, 4096};
        ASSERT_EQ(IFFControl(h, IFF_CTL_WHOLE_IMAGE_LIMITS, 0, 0, limits), 0) << what;
        Image got{info.width, info.height, info.planes, {}};
        got.pixels.assign(sequential.image.pixels.size(), 0);
        std::vector<int32_t> codes;
        for (int32_t y = 0; y < info.height; ++y) codes.push_back(IFFGetLine(h, 1, got.row(y)));
        EXPECT_EQ(IFFClose(h), 0) << what;
        EXPECT_EQ(codes, sequential.codes) << what;
        EXPECT_EQ(FirstDifferingLine(got, sequential.image), -1) << what;
      }
    }
  }
}

}  // namespace
