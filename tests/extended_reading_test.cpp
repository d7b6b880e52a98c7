// Extended reading of whole-image frames through the public entry points:
// the first progressive scan header's checks, multi-scan sequential files
// identical in both modes, a backward seek from the stored coefficients,
// the whole-image limits and their codes, the scan cap.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "iffjpeg.h"
#include "support/decode_helpers.h"
#include "support/images.h"
#include "support/jpeg_builder.h"
#include "support/memory_file.h"

namespace {

using namespace iffjpeg_test;
using Bytes = std::vector<uint8_t>;

constexpr int32_t kReadExtended = IFF_MODE_READ | IFF_MODE_CALLBACKS | IFF_MODE_EXTENDED;

// A sequential file relabelled SOF2 whose first scan header carries the
// given Ss, Se, Ah, Al (the entropy-coded data stay those of the sequential
// scan; only the header matters at open).
Bytes ProgressiveHeader(const JpegBuildOptions& base, int ss, int se, int ah, int al) {
  JpegBuildOptions options = base;
  options.frameMarker = 0xC2;
  Bytes jpeg = BuildJpeg(MakeTestImage(24, 16, base.components.size() == 1 ? 1 : 3, 7), options);
  auto sos = static_cast<std::size_t>(FindMarker(jpeg, 0xDA));
  std::size_t length = (jpeg[sos + 2] << 8) | jpeg[sos + 3];
  std::size_t end = sos + 2 + length;  // just past Ah/Al
  jpeg[end - 3] = static_cast<uint8_t>(ss);
  jpeg[end - 2] = static_cast<uint8_t>(se);
  jpeg[end - 1] = static_cast<uint8_t>(ah << 4 | al);
  return jpeg;
}

int32_t OpenCode(const Bytes& jpeg, int32_t mode) {
  MemoryFile file(jpeg);
  IFFImageInfo info{};
  int32_t h = IFFOpen(file.source(), mode, &info);
  if (h > 0) {
    IFFClose(h);
    return 0;
  }
  return -h;
}

TEST(ExtendedReading, FirstProgressiveScanHeader) {
  struct Case {
    const char* name;
    bool colour;  // the scan holds Y, Cb and Cr; otherwise one component
    int ss, se, ah, al;
    int32_t extended;  // the code at open in extended mode, 0 for success
  };
  const Case cases[] = {
      {"interleaved DC first", true, 0, 0, 0, 0, 0},
      {"DC first, Al 13", true, 0, 0, 0, 13, 0},
      {"DC first, Al 14", true, 0, 0, 0, 14, 7},
      {"grey AC band first", false, 1, 5, 0, 2, 0},
      {"DC and AC in one scan", true, 0, 63, 0, 0, 7},
      {"grey DC and AC in one scan", false, 0, 5, 0, 0, 7},
      {"AC scan of three components", true, 1, 63, 0, 0, 7},
      {"Ss above Se", false, 6, 5, 0, 0, 7},
      {"Se 64", false, 1, 64, 0, 0, 7},
      {"Ah 14", false, 1, 5, 14, 13, 7},
      {"DC refinement of nothing", true, 0, 0, 1, 0, 7},
      {"AC refinement of nothing", false, 1, 63, 2, 1, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes jpeg =
        ProgressiveHeader(c.colour ? ColourOptions(2, 2) : GreyOptions(), c.ss, c.se, c.ah, c.al);
    EXPECT_EQ(OpenCode(jpeg, kReadExtended), c.extended);
    EXPECT_EQ(OpenCode(jpeg, IFF_MODE_READ | IFF_MODE_CALLBACKS), 7) << "default mode: SOF2";
  }
}

// A later scan header outside T.81 G.1.1.1.1 ends the decoding there: the
// lines are those of the file without that scan and the ones after it,
// with 10 on line 0 (the scan reached no MCU row), once.
TEST(ExtendedReading, LaterScanHeadersOutsideTheProgression) {
  using Script = std::vector<ProgressiveScan>;
  struct Case {
    const char* name;
    Script scans;
    std::size_t decoded;  // the scans before the one refused
  };
  const Case cases[] = {
      {"AC refinement from a bit the band was not left at",
       {{{0}, 0, 0, 0, 1}, {{0}, 1, 63, 0, 2}, {{0}, 1, 63, 1, 0}},
       2},
      {"AC refinement over bands left at different bits",
       {{{0}, 0, 0, 0, 0}, {{0}, 1, 5, 0, 1}, {{0}, 6, 63, 0, 2}, {{0}, 1, 63, 1, 0}},
       3},
      {"AC refinement by two bits at once",
       {{{0}, 0, 0, 0, 0}, {{0}, 1, 63, 0, 2}, {{0}, 1, 63, 2, 0}},
       2},
      {"AC refinement of a band partly never coded",
       {{{0}, 0, 0, 0, 0}, {{0}, 1, 5, 0, 1}, {{0}, 1, 9, 1, 0}},
       2},
  };
  Image image = MakeTestImage(37, 29, 1, 6);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JpegBuildOptions options = GreyOptions();
    options.progressiveScans = c.scans;
    DecodeResult got = DecodeWithLibrary(BuildJpeg(image, options), IFF_MODE_EXTENDED);
    options.progressiveScans.resize(c.decoded);
    DecodeResult before = DecodeWithLibrary(BuildJpeg(image, options), IFF_MODE_EXTENDED);
    ASSERT_GT(got.openResult, 0);
    ASSERT_GT(before.openResult, 0);
    std::vector<int32_t> codes(got.lineCodes.size(), 0);
    codes[0] = IFF_ERR_DATA_ENDED;
    EXPECT_EQ(got.lineCodes, codes);
    EXPECT_EQ(got.image.pixels, before.image.pixels);
  }
}

// Data that end right after a complete last scan, without EOI: when every
// coefficient is whole the picture is all there and no line reports 10, as
// for a sequential file whose EOI is missing; when some are not, a later
// scan may have been lost and line 0 reports 10, once.
TEST(ExtendedReading, EoiMissingAfterTheLastScan) {
  struct Case {
    const char* name;
    std::vector<ProgressiveScan> scans;  // empty: the sequential twin
    int32_t modeFlags;
    int32_t lineZero;
  };
  const Case cases[] = {
      {"sequential, default mode", {}, 0, 0},
      {"sequential, extended mode", {}, IFF_MODE_EXTENDED, 0},
      {"successive approximation", SuccessiveApproximationScript(3), IFF_MODE_EXTENDED, 0},
      {"spectral selection", BandSelectionScript(3), IFF_MODE_EXTENDED, 0},
      {"last refinement missing",
       [] {
         std::vector<ProgressiveScan> s = SuccessiveApproximationScript(3);
         s.pop_back();
         return s;
       }(),
       IFF_MODE_EXTENDED, IFF_ERR_DATA_ENDED},
      {"AC never coded above 5",
       {{{0, 1, 2}, 0, 0, 0, 0}, {{0}, 1, 5, 0, 0}, {{1}, 1, 63, 0, 0}, {{2}, 1, 63, 0, 0}},
       IFF_MODE_EXTENDED,
       IFF_ERR_DATA_ENDED},
  };
  Image image = MakeTestImage(45, 31, 3, 9);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JpegBuildOptions options = ColourOptions(2, 2);
    options.progressiveScans = c.scans;
    DecodeResult whole = DecodeWithLibrary(BuildJpeg(image, options), c.modeFlags);
    options.writeEoi = false;
    DecodeResult got = DecodeWithLibrary(BuildJpeg(image, options), c.modeFlags);
    ASSERT_GT(got.openResult, 0);
    std::vector<int32_t> codes(got.lineCodes.size(), 0);
    codes[0] = c.lineZero;
    EXPECT_EQ(got.lineCodes, codes);
    EXPECT_EQ(got.image.pixels, whole.image.pixels);
  }
}

TEST(ExtendedReading, StillRefusedFrames) {
  struct Case {
    int marker;
    int precision;
    int32_t code;
  };
  const Case cases[] = {{0xC2, 12, 7}, {0xC3, 8, 7}, {0xC5, 8, 7},
                        {0xC9, 8, 4},  {0xCA, 8, 7}, {0xC0, 12, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.marker);
    JpegBuildOptions options = ColourOptions(1, 1);
    options.frameMarker = c.marker;
    options.dataPrecision = c.precision;
    Bytes jpeg = BuildJpeg(MakeTestImage(16, 16, 3, 3), options);
    EXPECT_EQ(OpenCode(jpeg, kReadExtended), c.code);
  }
}

// The multi-scan splits of the default-mode tests, in every layout: the
// coefficient path gives the lines and codes of the plane path.
TEST(ExtendedReading, MultiScanSequentialSameInBothModes) {
  const std::vector<std::vector<int>> splits[] = {{{0}, {1}, {2}}, {{0}, {1, 2}}, {{2}, {1}, {0}}};
  const JpegBuildOptions layouts[] = {ColourOptions(1, 1), ColourOptions(2, 1),
                                      ColourOptions(2, 2), ColourOptions(1, 2),
                                      ColourOptions(4, 1), ColourOptions(2, 2, 1, 2)};
  int layout = 0;
  for (const JpegBuildOptions& base : layouts) {
    for (const auto& split : splits) {
      for (int restart : {0, 3}) {
        SCOPED_TRACE(testing::Message()
                     << "layout " << layout << " scans " << split.size() << " restart " << restart);
        JpegBuildOptions options = base;
        options.scans = split;
        options.restartInterval = restart;
        Bytes jpeg = BuildJpeg(MakeTestImage(45, 37, 3, 11), options);
        DecodeResult plain = DecodeWithLibrary(jpeg);
        DecodeResult extended = DecodeWithLibrary(jpeg, IFF_MODE_EXTENDED);
        ASSERT_GT(plain.openResult, 0);
        ASSERT_GT(extended.openResult, 0);
        EXPECT_EQ(extended.lineCodes, plain.lineCodes);
        EXPECT_EQ(extended.image.pixels, plain.image.pixels);
        // Truncated inside the last scan: the same lines and the same 10.
        Bytes cut(jpeg.begin(), jpeg.end() - 40);
        DecodeResult plainCut = DecodeWithLibrary(cut);
        DecodeResult extendedCut = DecodeWithLibrary(cut, IFF_MODE_EXTENDED);
        EXPECT_EQ(extendedCut.lineCodes, plainCut.lineCodes);
        EXPECT_EQ(extendedCut.image.pixels, plainCut.image.pixels);
      }
    }
    ++layout;
  }
}

std::vector<uint8_t> ReadAll(int32_t h, const IFFImageInfo& info, std::vector<int32_t>* codes) {
  std::size_t lineBytes = static_cast<std::size_t>(info.width) * info.planes;
  std::vector<uint8_t> pixels(lineBytes * info.height);
  for (int32_t y = 0; y < info.height; ++y) {
    int32_t rc = IFFGetLine(h, 1, pixels.data() + lineBytes * y);
    if (codes != nullptr) codes->push_back(rc);
  }
  return pixels;
}

// The budget set to 1 MiB puts most of the coefficients in the backing
// store; the lines stay those of the in-memory decode, and a backward seek
// serves them again from the stored coefficients.
TEST(ExtendedReading, SmallBudgetAndBackwardSeek) {
  JpegBuildOptions options = ColourOptions(2, 1);
  options.scans = {{0}, {1, 2}};
  Bytes jpeg = BuildJpeg(MakeTestImage(1000, 700, 3, 5), options);  // about 2 MiB of blocks
  DecodeResult inMemory = DecodeWithLibrary(jpeg, IFF_MODE_EXTENDED);
  ASSERT_GT(inMemory.openResult, 0);

  MemoryFile file(jpeg);
  IFFImageInfo info{};
  int32_t h = IFFOpen(file.source(), kReadExtended, &info);
  ASSERT_GT(h, 0);
  int32_t limits[2] = {1, 4096};
  ASSERT_EQ(IFFControl(h, IFF_CTL_WHOLE_IMAGE_LIMITS, 0, 0, limits), 0);
  std::vector<int32_t> codes;
  EXPECT_EQ(ReadAll(h, info, &codes), inMemory.image.pixels);
  EXPECT_EQ(codes, inMemory.lineCodes);
  ASSERT_EQ(IFFSeek(h, 0), 0);
  EXPECT_EQ(ReadAll(h, info, nullptr), inMemory.image.pixels);
  ASSERT_EQ(IFFSeek(h, 350), 0);
  std::vector<uint8_t> line(static_cast<std::size_t>(info.width) * 3);
  ASSERT_EQ(IFFGetLine(h, 1, line.data()), 0);
  EXPECT_TRUE(
      std::equal(line.begin(), line.end(), inMemory.image.pixels.begin() + 350 * line.size()));
  EXPECT_EQ(IFFClose(h), 0);
}

TEST(ExtendedReading, WholeImageLimitCodes) {
  JpegBuildOptions options = ColourOptions(2, 2);
  options.scans = {{0}, {1}, {2}};
  Bytes small = BuildJpeg(MakeTestImage(40, 24, 3, 2), options);
  Bytes large = BuildJpeg(MakeTestImage(1200, 1000, 3, 2), options);  // about 3.4 MiB of blocks

  struct Case {
    const char* name;
    const Bytes* jpeg;
    int32_t mode;
    bool nullPointer;
    int32_t limits[2];
    bool afterFirstLine;
    int32_t control;    // IFFControl's result
    int32_t firstLine;  // the first IFFGetLine's result
  };
  const Case cases[] = {
      {"defaults", &small, kReadExtended, false, {64, 4096}, false, 0, 0},
      {"smallest", &small, kReadExtended, false, {1, 1}, false, 0, 0},
      {"largest", &small, kReadExtended, false, {1048576, 1048576}, false, 0, 0},
      {"memory 0", &small, kReadExtended, false, {0, 16}, false, 2, 0},
      {"store above the range", &small, kReadExtended, false, {1, 1048577}, false, 2, 0},
      {"negative", &small, kReadExtended, false, {-1, 16}, false, 2, 0},
      {"null pointer", &small, kReadExtended, true, {1, 1}, false, 2, 0},
      {"default mode", &small, IFF_MODE_READ | IFF_MODE_CALLBACKS, false, {1, 1}, false, 2, 0},
      {"after the first line", &small, kReadExtended, false, {1, 1}, true, 2, 0},
      {"too large for both", &large, kReadExtended, false, {1, 2}, false, 0, 5},
      {"fits the store", &large, kReadExtended, false, {1, 4}, false, 0, 0},
      {"fits in memory", &large, kReadExtended, false, {4, 1}, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile file(*c.jpeg);
    IFFImageInfo info{};
    int32_t h = IFFOpen(file.source(), c.mode, &info);
    ASSERT_GT(h, 0);
    std::vector<uint8_t> line(static_cast<std::size_t>(info.width) * info.planes);
    if (c.afterFirstLine) {
      ASSERT_EQ(IFFGetLine(h, 1, line.data()), 0);
    }
    int32_t limits[2] = {c.limits[0], c.limits[1]};
    EXPECT_EQ(IFFControl(h, IFF_CTL_WHOLE_IMAGE_LIMITS, 0, 0, c.nullPointer ? nullptr : limits),
              c.control);
    if (!c.afterFirstLine) {
      EXPECT_EQ(IFFGetLine(h, 1, line.data()), c.firstLine);
    }
    IFFClose(h);
  }
}

// A one-block grey frame: a DC first scan, then `refinements` DC
// refinement scans of one zero bit each. Only 1,000 scans are decoded; one
// more reports 10 on line 0.
Bytes ManyScans(int refinements) {
  JpegBuildOptions options = GreyOptions();
  options.frameMarker = 0xC2;
  Bytes jpeg = ProgressiveHeader(options, 0, 0, 0, 1);
  jpeg.resize(jpeg.size() - 2);  // EOI
  for (int i = 0; i < refinements; ++i) {
    AppendSegment(jpeg, 0xDA, {1, 1, 0x00, 0, 0, 0x10});
    jpeg.push_back(0x00);
  }
  jpeg.push_back(0xFF);
  jpeg.push_back(0xD9);
  return jpeg;
}

TEST(ExtendedReading, ScanCap) {
  struct Case {
    int refinements;
    int32_t firstLine;
  };
  for (Case c : {Case{0, 0}, Case{999, 0}, Case{1000, 10}}) {
    SCOPED_TRACE(c.refinements);
    DecodeResult got = DecodeWithLibrary(ManyScans(c.refinements), IFF_MODE_EXTENDED);
    ASSERT_GT(got.openResult, 0);
    EXPECT_EQ(got.lineCodes.front(), c.firstLine);
    for (std::size_t y = 1; y < got.lineCodes.size(); ++y) EXPECT_EQ(got.lineCodes[y], 0);
  }
}

}  // namespace
