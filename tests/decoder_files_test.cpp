// Whole files through the public entry points: every sampling layout
// against stb_image, band mechanics, seeking, truncation, restart faults
// and memory that does not grow with the height.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "iffjpeg.h"
#include "platform/platform.h"
#include "support/decode_helpers.h"
#include "support/jpeg_builder.h"
#include "support/memory_file.h"

namespace {

using namespace iffjpeg_test;
using Bytes = std::vector<uint8_t>;

struct Layout {
  const char* name;
  JpegBuildOptions options;
  int channels;
  // stb_image filters this layout's chroma differently (vertical
  // interpolation where rows are repeated here) or reads no padding at the
  // right edge where the horizontal filter here does: small images then
  // differ more.
  bool filterDiffers = false;
};

std::vector<Layout> AllLayouts() {
  return {
      {"grey", GreyOptions(), 1},
      {"grey 2x2", GreyOptions(2, 2), 1},
      {"4:4:4", ColourOptions(1, 1), 3},
      {"4:2:2", ColourOptions(2, 1), 3, true},
      {"4:2:0", ColourOptions(2, 2), 3},
      {"4:4:0", ColourOptions(1, 2), 3, true},
      {"4:1:1", ColourOptions(4, 1), 3},
      {"4:1:0", ColourOptions(4, 2), 3},
      {"2x2,1x2,1x2", ColourOptions(2, 2, 1, 2), 3, true},
      {"1x2,1x1,1x1", ColourOptions(1, 2, 1, 1), 3, true},
      {"2x1,1x1,2x1",
       [] {
         JpegBuildOptions o = ColourOptions(2, 1);
         o.components[2].h = 2;
         return o;
       }(),
       3, true},
  };
}

JpegBuildOptions WithQuality(JpegBuildOptions options, int quality) {
  options.quality = quality;
  return options;
}

TEST(DecoderFiles, EveryLayoutMatchesIndependentDecoder) {
  const std::pair<int, int> sizes[] = {{1, 1}, {17, 9}, {100, 50}, {33, 35}, {8, 16}};
  for (const Layout& layout : AllLayouts()) {
    double worst = 99, smallest = 99;
    for (int quality : {50, 75, 95}) {
      for (auto [w, h] : sizes) {
        SCOPED_TRACE(testing::Message() << layout.name << " " << w << "x" << h << " q" << quality);
        Image source = MakeTestImage(w, h, layout.channels, static_cast<uint32_t>(w + h));
        Bytes jpeg = BuildJpeg(source, WithQuality(layout.options, quality));
        Image reference;
        ASSERT_TRUE(StbDecode(jpeg, &reference));
        DecodeResult got = DecodeWithLibrary(jpeg);
        ASSERT_GT(got.openResult, 0);
        EXPECT_EQ(got.width, w);
        EXPECT_EQ(got.height, h);
        EXPECT_EQ(got.planes, layout.channels);
        EXPECT_EQ(std::count(got.lineCodes.begin(), got.lineCodes.end(), 0), h);
        EXPECT_EQ(got.closeResult, 0);
        double psnr = Psnr(got.image, reference);
        bool comparable = !layout.filterDiffers || w >= 100;
        if (quality >= 75) {
          EXPECT_GT(psnr, comparable ? 40.0 : 25.0);
        }
        if (comparable) worst = std::min(worst, psnr);
        smallest = std::min(smallest, psnr);
      }
    }
    std::printf(
        "[ decoder  ] %-12s lowest PSNR against stb_image %.2f dB (%.2f dB for all sizes)\n",
        layout.name, worst, smallest);
  }
}

// One byte per pixel for grey files, three for colour ones.
TEST(DecoderFiles, LineSizes) {
  for (int channels : {1, 3}) {
    Bytes jpeg = BuildJpeg(MakeTestImage(1000, 2, channels, 1),
                           channels == 1 ? GreyOptions() : ColourOptions(2, 2));
    MemoryFile file(jpeg);
    IFFImageInfo info{};
    int32_t h = IFFOpen(file.source(), IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
    ASSERT_GT(h, 0);
    EXPECT_EQ(info.width * info.planes, 1000 * channels);
    EXPECT_EQ(info.compression, 1u);
    EXPECT_EQ(info.bitsPerSample, 8);
    EXPECT_EQ(IFFClose(h), 0);
  }
}

// Reads n lines one at a time from an open handle.
std::vector<Bytes> ReadLines(int32_t h, int n, int lineBytes,
                             std::vector<int32_t>* codes = nullptr) {
  std::vector<Bytes> lines;
  for (int i = 0; i < n; ++i) {
    Bytes line(static_cast<std::size_t>(lineBytes), 0xAA);
    int32_t rc = IFFGetLine(h, 1, line.data());
    if (codes) codes->push_back(rc);
    lines.push_back(line);
  }
  return lines;
}

struct OpenFile {
  explicit OpenFile(const Bytes& jpeg) : file(jpeg) {
    handle = IFFOpen(file.source(), IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
  }
  ~OpenFile() {
    if (handle > 0) IFFClose(handle);
  }
  int lineBytes() const { return info.width * info.planes; }
  MemoryFile file;
  IFFImageInfo info{};
  int32_t handle = 0;
};

TEST(DecoderBands, LastBandIsCutToTheHeightAndRepeats) {
  struct Case {
    int height;
    JpegBuildOptions options;
    int rowsPerBand;
  } cases[] = {{100, ColourOptions(1, 1), 8},  {96, ColourOptions(1, 1), 8},
               {100, ColourOptions(2, 2), 16}, {16, ColourOptions(2, 2), 16},
               {5, ColourOptions(2, 2), 16},   {24, GreyOptions(2, 2), 16},
               {40, GreyOptions(2, 2), 16},    {7, GreyOptions(1, 2), 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "height " << c.height << " band " << c.rowsPerBand);
    int channels = c.options.components.size() == 1 ? 1 : 3;
    Image source = MakeTestImage(21, c.height, channels, 5);
    Bytes jpeg = BuildJpeg(source, WithQuality(c.options, 90));
    Image reference;
    ASSERT_TRUE(StbDecode(jpeg, &reference));
    OpenFile f(jpeg);
    ASSERT_GT(f.handle, 0);
    std::vector<int32_t> codes;
    std::vector<Bytes> lines = ReadLines(f.handle, c.height, f.lineBytes(), &codes);
    Image got = reference;
    for (int y = 0; y < c.height; ++y) std::copy(lines[y].begin(), lines[y].end(), got.row(y));
    EXPECT_GT(Psnr(got, reference), 40.0);
    for (int32_t code : codes) EXPECT_EQ(code, 0);
    // Past the end the last band is handed over again from its first line.
    int lastBandStart = (c.height - 1) / c.rowsPerBand * c.rowsPerBand;
    std::vector<Bytes> again = ReadLines(f.handle, c.height - lastBandStart + 1, f.lineBytes());
    for (int i = 0; i < c.height - lastBandStart; ++i)
      EXPECT_EQ(again[i], lines[lastBandStart + i]) << i;
    EXPECT_EQ(again.back(), lines[lastBandStart]);
  }
}

TEST(DecoderBands, SeekingForwardEqualsReading) {
  Bytes jpeg = BuildJpeg(MakeTestImage(40, 77, 3, 9), ColourOptions(2, 2));
  OpenFile all(jpeg);
  ASSERT_GT(all.handle, 0);
  std::vector<Bytes> lines = ReadLines(all.handle, 77, all.lineBytes());
  OpenFile skip(jpeg);
  ASSERT_GT(skip.handle, 0);
  for (int target : {0, 1, 15, 16, 17, 40, 60, 76}) {
    EXPECT_EQ(IFFSeek(skip.handle, target), 0);
    EXPECT_EQ(ReadLines(skip.handle, 1, skip.lineBytes())[0], lines[target]) << target;
  }
  // Backward: the reader starts again from the top.
  EXPECT_EQ(IFFSeek(skip.handle, 3), 0);
  EXPECT_EQ(ReadLines(skip.handle, 1, skip.lineBytes())[0], lines[3]);
  // Several lines in one call land in consecutive strides.
  EXPECT_EQ(IFFSeek(skip.handle, 10), 0);
  Bytes block(static_cast<std::size_t>(skip.lineBytes()) * 20);
  EXPECT_EQ(IFFGetLine(skip.handle, 20, block.data()), 0);
  for (int i = 0; i < 20; ++i) {
    EXPECT_TRUE(std::equal(lines[10 + i].begin(), lines[10 + i].end(),
                           block.begin() + i * skip.lineBytes()));
  }
}

// Options that change the stream but not one coefficient decode to the
// very same lines.
TEST(DecoderFiles, StreamVariantsDecodeIdentically) {
  Image source = MakeTestImage(45, 37, 3, 4);
  Bytes plainJpeg = BuildJpeg(source, ColourOptions(2, 2));
  DecodeResult plain = DecodeWithLibrary(plainJpeg);
  ASSERT_GT(plain.openResult, 0);
  std::vector<std::pair<const char*, JpegBuildOptions>> variants;
  auto add = [&](const char* name, auto apply) {
    JpegBuildOptions o = ColourOptions(2, 2);
    apply(o);
    variants.emplace_back(name, o);
  };
  add("restart 1", [](JpegBuildOptions& o) { o.restartInterval = 1; });
  add("restart 2", [](JpegBuildOptions& o) { o.restartInterval = 2; });
  add("restart 7", [](JpegBuildOptions& o) { o.restartInterval = 7; });
  add("16-bit DQT", [](JpegBuildOptions& o) { o.sixteenBitQuant = true; });
  add("SOF1", [](JpegBuildOptions& o) { o.frameMarker = 0xC1; });
  add("one DQT one DHT", [](JpegBuildOptions& o) { o.tablesInOneSegment = true; });
  add("fill bytes", [](JpegBuildOptions& o) { o.fillBytes = true; });
  add("no JFIF", [](JpegBuildOptions& o) { o.jfif = false; });
  add("extra segments", [](JpegBuildOptions& o) {
    o.extraSegments = {{0xFF, 0xFE, 0x00, 0x05, 'a', 'b', 'c'},
                       {0xFF, 0xE1, 0x00, 0x06, 0xFF, 0xD9, 0xFF, 0x00}};
  });
  add("no EOI", [](JpegBuildOptions& o) { o.writeEoi = false; });
  add("scan order Cr Cb Y", [](JpegBuildOptions& o) { o.scans = {{2, 1, 0}}; });
  for (const auto& [name, options] : variants) {
    DecodeResult got = DecodeWithLibrary(BuildJpeg(source, options));
    ASSERT_GT(got.openResult, 0) << name;
    EXPECT_EQ(got.image.pixels, plain.image.pixels) << name;
    for (int32_t code : got.lineCodes) EXPECT_EQ(code, 0) << name;
  }
  // A 16-bit table with values above 255 (quality 10) against stb_image.
  JpegBuildOptions coarse = ColourOptions(2, 2);
  coarse.quality = 10;
  coarse.sixteenBitQuant = true;
  Bytes jpeg = BuildJpeg(source, coarse);
  Image reference;
  ASSERT_TRUE(StbDecode(jpeg, &reference));
  DecodeResult got = DecodeWithLibrary(jpeg);
  EXPECT_GT(Psnr(got.image, reference), 35.0);
}

TEST(DecoderFiles, OpenRefusals) {
  Image grey = MakeTestImage(16, 16, 1, 1);
  Image colour = MakeTestImage(16, 16, 3, 1);
  auto openCode = [](const Bytes& jpeg) { return DecodeWithLibrary(jpeg).openResult; };
  JpegBuildOptions o = GreyOptions();
  o.dataPrecision = 12;
  EXPECT_EQ(openCode(BuildJpeg(grey, o)), -7);
  o = GreyOptions();
  o.frameMarker = 0xC9;
  EXPECT_EQ(openCode(BuildJpeg(grey, o)), -4);
  o.frameMarker = 0xC2;
  EXPECT_EQ(openCode(BuildJpeg(grey, o)), -7);
  // Separate scans are read now; a scan that codes a component again is not.
  o = ColourOptions(1, 1);
  o.scans = {{0}, {1}, {2}};
  EXPECT_GT(openCode(BuildJpeg(colour, o)), 0);
  o.scans = {{0}, {1}, {1}};
  EXPECT_EQ(openCode(BuildJpeg(colour, o)), -7);
  // Three components with identifiers 1, 4, 5 and no JFIF segment.
  o = ColourOptions(1, 1);
  o.jfif = false;
  o.components[1].id = 4;
  o.components[2].id = 5;
  EXPECT_EQ(openCode(BuildJpeg(colour, o)), -7);
  // A component factor of 3 beside 2: no upsampler.
  o = ColourOptions(2, 1);
  o.components[0].h = 3;
  o.components[1].h = 2;
  Bytes jpeg = BuildJpeg(colour, o);
  EXPECT_EQ(openCode(jpeg), -7);
  // Width 0 in the frame header.
  jpeg = BuildJpeg(grey, GreyOptions());
  long sof = FindMarker(jpeg, 0xC0);
  ASSERT_GT(sof, 0);
  jpeg[static_cast<std::size_t>(sof) + 7] = 0;
  jpeg[static_cast<std::size_t>(sof) + 8] = 0;
  EXPECT_EQ(openCode(jpeg), -7);
  // A scan that names a DC table no DHT defined gives 2.
  o = ColourOptions(1, 1);
  o.components[2].dcTable = 2;
  jpeg = BuildJpeg(colour, o);
  long dht = FindMarker(jpeg, 0xC4);
  ASSERT_GT(dht, 0);
  // Retarget the builder's DC table 2 (if it wrote one) to slot 3.
  for (long p = dht; p >= 0; p = FindMarker(jpeg, 0xC4, static_cast<std::size_t>(p) + 2)) {
    if (jpeg[static_cast<std::size_t>(p) + 4] == 0x02) jpeg[static_cast<std::size_t>(p) + 4] = 0x03;
  }
  EXPECT_EQ(openCode(jpeg), -2);
}

// The first line whose code is not 0, or -1.
int FirstNonZero(const std::vector<int32_t>& codes) {
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (codes[i] != 0) return static_cast<int>(i);
  }
  return -1;
}

std::vector<long> MarkerOffsets(const Bytes& jpeg, int first, int last, long from) {
  std::vector<long> at;
  for (long p = from; p + 1 < static_cast<long>(jpeg.size()); ++p) {
    if (jpeg[p] == 0xFF && jpeg[p + 1] >= first && jpeg[p + 1] <= last) at.push_back(p);
  }
  return at;
}

// 4:2:0, 48 x 80: 3 MCUs a row, 5 MCU rows, bands of 16 lines; a restart
// after every MCU row marks the row boundaries in the stream.
Bytes RowMarkedFile(std::map<int, int> overrides = {}) {
  JpegBuildOptions o = ColourOptions(2, 2);
  o.restartInterval = 3;
  o.restartMarkerOverride = std::move(overrides);
  return BuildJpeg(MakeTestImage(48, 80, 3, 2), o);
}

TEST(DecoderTruncation, CodesAtTheRightLine) {
  Bytes jpeg = RowMarkedFile();
  long sos = FindMarker(jpeg, 0xDA);
  std::vector<long> rst = MarkerOffsets(jpeg, 0xD0, 0xD7, sos);
  ASSERT_EQ(rst.size(), 4u);
  DecodeResult whole = DecodeWithLibrary(jpeg);
  // Cut right after the marker that starts MCU row j (1..4). Row j is
  // decoded while line 16 (j - 1) is handed over (row 1 with row 0, before
  // line 0); the data ends there, and the restart due before row j + 1
  // finds the end-of-image marker instead.
  for (int j = 1; j <= 4; ++j) {
    SCOPED_TRACE(testing::Message() << "cut after the marker before row " << j);
    Bytes cut(jpeg.begin(), jpeg.begin() + rst[j - 1] + 2);
    DecodeResult got = DecodeWithLibrary(cut);
    ASSERT_GT(got.openResult, 0);
    ASSERT_EQ(got.lineCodes.size(), 80u);
    std::vector<int32_t> expected(80, 0);
    if (j < 4) {
      expected[16 * (j - 1)] = 10;
      expected[16 * j] = 10;
    }
    EXPECT_EQ(got.lineCodes, expected);
    // Lines of complete MCU rows are unaffected (the row before the cut is
    // finished with its neighbour below, so compare the rows before it).
    std::size_t intact = static_cast<std::size_t>(16 * (j - 1)) * 48 * 3;
    EXPECT_TRUE(std::equal(got.image.pixels.begin(), got.image.pixels.begin() + intact,
                           whole.image.pixels.begin()));
    EXPECT_EQ(got.closeResult, 0);
  }
}

TEST(DecoderTruncation, AnyCutIsSafe) {
  Bytes jpeg = BuildJpeg(MakeTestImage(40, 40, 3, 8), ColourOptions(2, 1));
  long sos = FindMarker(jpeg, 0xDA);
  int withTen = 0;
  for (std::size_t length = 0; length < jpeg.size(); length += 7) {
    Bytes cut(jpeg.begin(), jpeg.begin() + static_cast<long>(length));
    DecodeResult got = DecodeWithLibrary(cut);
    if (static_cast<long>(length) < sos + 14) {
      EXPECT_EQ(got.openResult, -7) << length;  // the header ended early
      continue;
    }
    ASSERT_GT(got.openResult, 0) << length;
    int tens = static_cast<int>(std::count(got.lineCodes.begin(), got.lineCodes.end(), 10));
    EXPECT_EQ(tens + std::count(got.lineCodes.begin(), got.lineCodes.end(), 0), 40);
    EXPECT_LE(tens, 1) << length;
    int first = FirstNonZero(got.lineCodes);
    if (first >= 0) {
      EXPECT_EQ(first % 8, 0) << length;  // a band boundary
    }
    withTen += tens;
  }
  EXPECT_GT(withTen, 0);
}

TEST(DecoderTruncation, ReadingSeveralLinesStopsAtTheCode) {
  Bytes jpeg = RowMarkedFile();
  long sos = FindMarker(jpeg, 0xDA);
  std::vector<long> rst = MarkerOffsets(jpeg, 0xD0, 0xD7, sos);
  Bytes cut(jpeg.begin(), jpeg.begin() + rst[2] + 2);  // row 3 is missing
  OpenFile f(cut);
  ASSERT_GT(f.handle, 0);
  Bytes lines(static_cast<std::size_t>(f.lineBytes()) * 80);
  // Line 32 reports the end of the data, line 48 the missing restart.
  EXPECT_EQ(IFFGetLine(f.handle, 80, lines.data()), 10);
  EXPECT_EQ(IFFSeek(f.handle, 40), 0);  // lines 33 to 39
  EXPECT_EQ(IFFGetLine(f.handle, 20, lines.data()), 10);
  EXPECT_EQ(IFFGetLine(f.handle, 20, lines.data()), 0);  // lines 49 to 68
  EXPECT_EQ(IFFSeek(f.handle, 30), 0);                   // back to the top
  EXPECT_EQ(IFFSeek(f.handle, 33), 10);
}

TEST(DecoderRestart, WrongNumberIsReportedAndDecodingContinues) {
  DecodeResult good = DecodeWithLibrary(RowMarkedFile());
  // The second marker (before MCU row 2) carries RST5 instead of RST1; the
  // numbering goes on from RST5, so RST6 and RST7 follow without complaint.
  DecodeResult got = DecodeWithLibrary(RowMarkedFile({{1, 0xD5}, {2, 0xD6}, {3, 0xD7}}));
  ASSERT_GT(got.openResult, 0);
  std::vector<int32_t> expected(80, 0);
  expected[16] = 10;  // row 2 is decoded while line 16 is handed over
  EXPECT_EQ(got.lineCodes, expected);
  EXPECT_EQ(got.image.pixels, good.image.pixels);
  // Only the second marker changed: the third (RST2, where RST6 is now
  // expected) is out of sequence too, and the fourth (RST3) fits again.
  got = DecodeWithLibrary(RowMarkedFile({{1, 0xD5}}));
  expected[32] = 10;
  EXPECT_EQ(got.lineCodes, expected);
  EXPECT_EQ(got.image.pixels, good.image.pixels);
}

TEST(DecoderRestart, OtherMarkerDecodesTheRestFromZeroBits) {
  DecodeResult good = DecodeWithLibrary(RowMarkedFile());
  // A COM marker where the restart before row 3 is due.
  DecodeResult got = DecodeWithLibrary(RowMarkedFile({{2, 0xFE}}));
  ASSERT_GT(got.openResult, 0);
  std::vector<int32_t> expected(80, 0);
  expected[32] = 10;
  EXPECT_EQ(got.lineCodes, expected);
  std::size_t intact = std::size_t{32} * 48 * 3;
  EXPECT_TRUE(std::equal(got.image.pixels.begin(), got.image.pixels.begin() + intact,
                         good.image.pixels.begin()));
  EXPECT_NE(got.image.pixels, good.image.pixels);
}

// Memory is one band whatever the height: the same allocations for a tall
// image as for a short one.
TEST(DecoderMemory, DoesNotGrowWithHeight) {
  auto measure = [](int height) {
    JpegBuildOptions o = GreyOptions();
    o.quality = 30;
    Image image;
    image.width = 64;
    image.height = height;
    image.channels = 1;
    image.pixels.assign(static_cast<std::size_t>(64) * height, 0);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < 64; ++x) image.row(y)[x] = static_cast<uint8_t>((x * 3 + y) & 0xFF);
    }
    Bytes jpeg = BuildJpeg(image, o);
    MemoryFile file(jpeg);
    IFFImageInfo info{};
    iffjpeg::testing::FailAllocationNumber(0);  // count from here
    int32_t h = IFFOpen(file.source(), IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
    EXPECT_GT(h, 0);
    long atOpen = iffjpeg::testing::AllocationsCounted();
    Bytes line(64);
    for (int y = 0; y < height; ++y) EXPECT_EQ(IFFGetLine(h, 1, line.data()), 0);
    long afterReading = iffjpeg::testing::AllocationsCounted();
    EXPECT_EQ(afterReading, atOpen) << "allocations while reading lines";
    EXPECT_EQ(IFFClose(h), 0);
    return atOpen;
  };
  long tall = measure(65000);
  long shortOne = measure(1000);
  EXPECT_EQ(tall, shortOne);
  std::printf("[ decoder  ] allocations for 64x1000: %ld, for 64x65000: %ld\n", shortOne, tall);
}

TEST(DecoderMemory, AllocationFailuresAtOpenGiveFiveAndLeakNothing) {
  Bytes jpeg = BuildJpeg(MakeTestImage(30, 30, 3, 1), ColourOptions(2, 2));
  iffjpeg::testing::FailAllocationNumber(0);
  DecodeResult ok = DecodeWithLibrary(jpeg);
  ASSERT_GT(ok.openResult, 0);
  long needed = iffjpeg::testing::AllocationsCounted();
  ASSERT_GT(needed, 2);
  for (long n = 1; n <= needed; ++n) {
    iffjpeg::testing::FailAllocationNumber(n);
    DecodeResult got = DecodeWithLibrary(jpeg);
    iffjpeg::testing::FailAllocationNumber(0);
    if (got.openResult > 0) {
      EXPECT_EQ(got.image.pixels, ok.image.pixels) << n;  // that allocation came later
    } else {
      EXPECT_EQ(got.openResult, -5) << n;
    }
  }
}

}  // namespace
