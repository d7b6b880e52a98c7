// IFF_CTL_SCALE through the public entry points: every layout and an odd
// size at 1/2, 1/4 and 1/8 against the full decode box-averaged to the same
// size, scale 1 against the unscaled decode, scale 8 against the values of
// the blocks' DC terms, and seeking at a scale.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "iffjpeg.h"
#include "platform/cpu_features.h"
#include "support/images.h"
#include "support/jpeg_builder.h"
#include "support/memory_file.h"

namespace {

using namespace iffjpeg_test;
using Bytes = std::vector<uint8_t>;

constexpr int32_t kExtended = IFF_MODE_READ | IFF_MODE_EXTENDED;

struct Decoded {
  int32_t scaleCode = -1;
  int32_t size[2] = {0, 0};
  uint16_t lineBytes = 0;
  std::vector<int32_t> codes;
  Image image;
};

// Opens, sets the scale (0: no call), reads every line.
Decoded Decode(const Bytes& jpeg, int32_t mode, int32_t scale) {
  Decoded d;
  MemoryFile file(jpeg);
  IFFImageInfo info{};
  int32_t h = IFFOpen(file.source(), mode | IFF_MODE_CALLBACKS, &info);
  EXPECT_GT(h, 0);
  if (h <= 0) return d;
  d.size[0] = info.width;
  d.size[1] = info.height;
  if (scale != 0) d.scaleCode = IFFControl(h, IFF_CTL_SCALE, scale, 0, d.size);
  IFFControl(h, IFF_CTL_LINE_BYTES, 0, 0, &d.lineBytes);
  d.image = Image{d.size[0], d.size[1], info.planes, {}};
  d.image.pixels.resize(static_cast<std::size_t>(d.size[0]) * d.size[1] * info.planes);
  const std::size_t stride = static_cast<std::size_t>(d.size[0]) * info.planes;
  for (int32_t y = 0; y < d.size[1]; ++y) {
    d.codes.push_back(IFFGetLine(h, 1, d.image.pixels.data() + stride * y));
  }
  IFFClose(h);
  return d;
}

Image BoxAverage(const Image& full, int d) {
  Image out{(full.width + d - 1) / d, (full.height + d - 1) / d, full.channels, {}};
  out.pixels.resize(static_cast<std::size_t>(out.width) * out.height * out.channels);
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      for (int c = 0; c < full.channels; ++c) {
        int sum = 0, n = 0;
        for (int yy = y * d; yy < std::min(full.height, y * d + d); ++yy) {
          for (int xx = x * d; xx < std::min(full.width, x * d + d); ++xx, ++n) {
            sum +=
                full.pixels[(static_cast<std::size_t>(yy) * full.width + xx) * full.channels + c];
          }
        }
        out.pixels[(static_cast<std::size_t>(y) * out.width + x) * out.channels + c] =
            static_cast<uint8_t>((sum + n / 2) / n);
      }
    }
  }
  return out;
}

TEST(ScaledDecoding, EveryLayoutAgainstTheBoxAveragedFullDecode) {
  struct Case {
    const char* name;
    JpegBuildOptions options;
    int channels;
    int32_t mode;
    // Chroma kept at one sample per block side where the factor ratio is 3.
    bool coarseChroma = false;
  };
  JpegBuildOptions progressive = ColourOptions(2, 2);
  progressive.progressiveScans = SuccessiveApproximationScript(3);
  JpegBuildOptions greyProgressive = GreyOptions();
  greyProgressive.progressiveScans = BandSelectionScript(1);
  JpegBuildOptions multiScan = ColourOptions(2, 1);
  multiScan.scans = {{0}, {1}, {2}};
  JpegBuildOptions restarts = ColourOptions(1, 2);
  restarts.restartInterval = 3;
  const Case cases[] = {
      {"grey", GreyOptions(), 1, IFF_MODE_READ},
      {"grey 2x2", GreyOptions(2, 2), 1, IFF_MODE_READ},
      {"4:2:0", ColourOptions(2, 2), 3, IFF_MODE_READ},
      {"4:2:2", ColourOptions(2, 1), 3, IFF_MODE_READ},
      {"4:4:4", ColourOptions(1, 1), 3, IFF_MODE_READ},
      {"4:4:0 with restarts", restarts, 3, IFF_MODE_READ},
      {"4:1:1", ColourOptions(4, 1), 3, IFF_MODE_READ},
      // Factor ratios of 3: no reduced transform has a side of 3 or 6, so
      // the chroma samples are replicated three times over, coarser than
      // the full decode's upsampled chroma (24 to 35 dB here).
      {"3x1,1x1,1x1", ColourOptions(3, 1), 3, IFF_MODE_READ, true},
      {"1x3,1x1,1x1 extended", ColourOptions(1, 3), 3, kExtended, true},
      {"4:2:0 extended", ColourOptions(2, 2), 3, kExtended},
      {"progressive 4:2:0", progressive, 3, kExtended},
      {"progressive grey", greyProgressive, 1, kExtended},
      {"multi-scan", multiScan, 3, IFF_MODE_READ},
      {"multi-scan extended", multiScan, 3, kExtended},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes jpeg = BuildJpeg(MakeTestImage(77, 45, c.channels, 11), c.options);
    const Decoded full = Decode(jpeg, c.mode, 0);
    const Decoded one = Decode(jpeg, c.mode, 1);
    EXPECT_EQ(one.scaleCode, 0);
    EXPECT_EQ(one.image.pixels, full.image.pixels);
    EXPECT_EQ(one.codes, full.codes);
    for (int d : {2, 4, 8}) {
      SCOPED_TRACE(d);
      const Decoded scaled = Decode(jpeg, c.mode, d);
      ASSERT_EQ(scaled.scaleCode, 0);
      EXPECT_EQ(scaled.size[0], (77 + d - 1) / d);
      EXPECT_EQ(scaled.size[1], (45 + d - 1) / d);
      EXPECT_EQ(scaled.lineBytes, scaled.size[0] * c.channels);
      EXPECT_EQ(scaled.codes, std::vector<int32_t>(scaled.codes.size(), 0));
      const double psnr = Psnr(scaled.image, BoxAverage(full.image, d));
      // At 1/2 the folded blocks give the means of the full decode's pairs
      // (35 dB for greyscale without the fold; chroma upsampled from its
      // own resolution bounds the colour layouts).
      EXPECT_GE(psnr, c.coarseChroma ? 22.0 : d == 2 ? 39.0 : 34.0);
      std::printf("[ scaled ] %-22s 1/%d %6.2f dB\n", c.name, d, psnr);
      RecordProperty(std::string(c.name) + " 1/" + std::to_string(d), std::to_string(psnr));
    }
  }
}

// At 1/8 each block is the value its DC term alone decodes to: the samples
// of a progressive file holding only the DC scan of the same coefficients.
TEST(ScaledDecoding, EighthIsTheDcValue) {
  for (int32_t mode : {IFF_MODE_READ, kExtended}) {
    JpegBuildOptions o = GreyOptions();
    const Image picture = MakeTestImage(61, 35, 1, 4);
    const Decoded eighth = Decode(BuildJpeg(picture, o), mode, 8);
    o.progressiveScans = {ProgressiveScan{{0}, 0, 0, 0, 0}};
    const Decoded dcOnly = Decode(BuildJpeg(picture, o), kExtended, 0);
    ASSERT_EQ(eighth.image.width, 8);
    ASSERT_EQ(eighth.image.height, 5);
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(eighth.image.pixels[static_cast<std::size_t>(y) * 8 + x],
                  dcOnly.image.pixels[static_cast<std::size_t>(8 * y) * 61 + 8 * x])
            << x << "," << y;
      }
    }
  }
}

TEST(ScaledDecoding, SeekingAndRewindingCountScaledLines) {
  JpegBuildOptions progressive = ColourOptions(2, 2);
  progressive.progressiveScans = BandSelectionScript(3);
  JpegBuildOptions multiScan = ColourOptions(2, 2);
  multiScan.scans = {{0}, {1, 2}};
  struct Case {
    JpegBuildOptions options;
    int32_t mode;
  } cases[] = {
      {ColourOptions(2, 2), IFF_MODE_READ}, {progressive, kExtended}, {multiScan, IFF_MODE_READ}};
  for (const Case& c : cases) {
    const Bytes jpeg = BuildJpeg(MakeTestImage(50, 70, 3, 2), c.options);
    const Decoded whole = Decode(jpeg, c.mode, 4);
    MemoryFile file(jpeg);
    IFFImageInfo info{};
    int32_t h = IFFOpen(file.source(), c.mode | IFF_MODE_CALLBACKS, &info);
    ASSERT_GT(h, 0);
    ASSERT_EQ(IFFControl(h, IFF_CTL_SCALE, 4, 0, nullptr), 0);
    const std::size_t stride = 13 * 3;
    Bytes line(stride);
    const auto expected = [&](int y) {
      return Bytes(whole.image.pixels.begin() + static_cast<long>(stride * y),
                   whole.image.pixels.begin() + static_cast<long>(stride * (y + 1)));
    };
    for (int target : {10, 3, 0, 17, 1}) {
      SCOPED_TRACE(target);
      ASSERT_EQ(IFFSeek(h, target), 0);
      ASSERT_EQ(IFFGetLine(h, 1, line.data()), 0);
      EXPECT_EQ(line, expected(target));
    }
    // Fixed once a line call was made.
    EXPECT_EQ(IFFControl(h, IFF_CTL_SCALE, 2, 0, nullptr), 2);
    IFFClose(h);
  }
}

// The line controller decodes, but neither dequantizes nor stores, the
// coefficients a reduced transform does not read, and clears only those it
// stored. With the scalar kernels forced, every coefficient is stored and
// every block cleared before decoding: both give the same lines, for files
// with coefficients far out in every block, interleaved and not, whose
// components' transforms differ across and down, with the fast reader and
// the byte-wise one, and through the damaged-data paths.
TEST(ScaledDecoding, UnusedCoefficientsDroppedGiveTheStoredCoefficientsLines) {
  struct Case {
    const char* name;
    JpegBuildOptions options;
    int channels;
    int32_t mode;
    int cut;  // 0: whole; 1: an interval cut out; 2: the file cut short
  };
  auto fine = [](JpegBuildOptions o) {
    o.quality = 98;
    return o;
  };
  JpegBuildOptions restarts = fine(ColourOptions(2, 2));
  restarts.restartInterval = 2;
  const Case cases[] = {
      {"grey", fine(GreyOptions()), 1, IFF_MODE_READ, 0},
      {"4:2:0", fine(ColourOptions(2, 2)), 3, IFF_MODE_READ, 0},
      {"4:2:2", fine(ColourOptions(2, 1)), 3, IFF_MODE_READ, 0},
      {"4:4:4", fine(ColourOptions(1, 1)), 3, IFF_MODE_READ, 0},
      {"4:1:1", fine(ColourOptions(4, 1)), 3, IFF_MODE_READ, 0},
      {"4:2:0 interval lost", restarts, 3, kExtended, 1},
      {"4:2:0 truncated", restarts, 3, IFF_MODE_READ, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int32_t width : {13, 83}) {  // 13 x 9: too few blocks for the fast reader
      SCOPED_TRACE(width);
      const Bytes intact =
          BuildJpeg(MakeTestImage(width, width == 13 ? 9 : 61, c.channels, 5), c.options);
      Bytes jpeg = intact;
      std::vector<size_t> rst;
      size_t scan = 0;
      for (const JpegSegment& seg : ListSegments(jpeg)) {
        if (seg.marker >= 0xD0 && seg.marker <= 0xD7) rst.push_back(seg.offset);
        if (seg.marker == 0xDA) scan = seg.offset;
      }
      if (c.cut == 1 && rst.size() > 3) {
        // An interval and the marker after it: the next one runs into a
        // marker of another number.
        jpeg.erase(jpeg.begin() + static_cast<long>(rst[1] + 2),
                   jpeg.begin() + static_cast<long>(rst[3]));
      } else if (c.cut == 2) {
        jpeg.resize(scan + (jpeg.size() - scan) * 2 / 3);
      }
      for (int d : {2, 4, 8}) {
        SCOPED_TRACE(d);
        iffjpeg::testing::ForceScalarKernels(true);
        const Decoded stored = Decode(jpeg, c.mode, d);
        iffjpeg::testing::ForceScalarKernels(false);
        const Decoded dropped = Decode(jpeg, c.mode, d);
        ASSERT_EQ(dropped.scaleCode, IFF_OK);
        EXPECT_EQ(dropped.codes, stored.codes);
        EXPECT_EQ(dropped.image.pixels, stored.image.pixels);
        // The damage reached the lines: the damaged-data paths ran.
        if (jpeg != intact) {
          EXPECT_NE(dropped.image.pixels, Decode(intact, c.mode, d).image.pixels);
        }
        if (c.cut == 1 && jpeg != intact) {  // the blocks of the MCU that met the marker cleared
          EXPECT_GT(std::count(dropped.codes.begin(), dropped.codes.end(), IFF_ERR_DATA_ENDED), 0);
        }
      }
    }
  }
}

TEST(ScaledDecoding, Refusals) {
  const Bytes jpeg = BuildJpeg(MakeTestImage(16, 16, 1, 1), GreyOptions());
  MemoryFile file(jpeg);
  IFFImageInfo info{};
  int32_t h = IFFOpen(file.source(), IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
  ASSERT_GT(h, 0);
  for (int32_t value : {0, 3, 16, -8})
    EXPECT_EQ(IFFControl(h, IFF_CTL_SCALE, value, 0, nullptr), 2);
  EXPECT_EQ(IFFGetLine(h, 0, nullptr), 0);
  EXPECT_EQ(IFFControl(h, IFF_CTL_SCALE, 2, 0, nullptr), 2);
  IFFClose(h);
  MemoryFile out;
  IFFImageInfo w{0, 8, 8, 1, 8, 0, 0};
  int32_t wh = IFFOpen(out.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &w);
  ASSERT_GT(wh, 0);
  EXPECT_EQ(IFFControl(wh, IFF_CTL_SCALE, 2, 0, nullptr), 2);
  IFFClose(wh);
}

}  // namespace
