// Lenient reading in extended mode, through the public entry points: frames
// without Huffman tables take those of T.81 Annex K, restart markers are
// trusted for their number (lost and damaged intervals are passed over),
// and scans whose identifiers name no frame component are matched by
// position. The default mode refuses or spoils these files as before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "iffjpeg.h"
#include "support/decode_helpers.h"
#include "support/images.h"
#include "support/jpeg_builder.h"

namespace {

using namespace iffjpeg_test;
using Bytes = std::vector<uint8_t>;

// The file without the segments of the given marker code whose payload
// passes keep() false (all of them when keep is null).
Bytes WithoutSegments(const Bytes& jpeg, int marker, bool (*keep)(const JpegSegment&) = nullptr) {
  Bytes out;
  std::size_t from = 0;
  for (const JpegSegment& s : ListSegments(jpeg)) {
    if (s.marker != marker || (keep != nullptr && keep(s))) continue;
    out.insert(out.end(), jpeg.begin() + static_cast<long>(from),
               jpeg.begin() + static_cast<long>(s.offset));
    from = s.offset + 4 + s.payload.size();
  }
  out.insert(out.end(), jpeg.begin() + static_cast<long>(from), jpeg.end());
  return out;
}

Bytes Avi1Segment() {
  Bytes seg = {0xFF, 0xE0, 0x00, 0x10, 'A', 'V', 'I', '1', 0, 0};
  seg.resize(18, 0);
  return seg;
}

void ExpectSameDecode(const DecodeResult& got, const DecodeResult& want) {
  ASSERT_GT(got.openResult, 0);
  ASSERT_GT(want.openResult, 0);
  EXPECT_EQ(got.lineCodes, want.lineCodes);
  EXPECT_EQ(got.image.pixels, want.image.pixels);
  EXPECT_EQ(got.closeResult, 0);
}

bool KeepAcChrominance(const JpegSegment& s) { return s.payload[0] != 0x11; }

TEST(LenientReading, FramesWithoutHuffmanTablesUseAnnexK) {
  struct Case {
    const char* name;
    JpegBuildOptions options;
    int channels;
    bool avi1;                         // AVI1 APP0 instead of JFIF
    bool (*keep)(const JpegSegment&);  // DHT segments kept; null: none
  };
  JpegBuildOptions chromaSlot3 = ColourOptions(2, 2);
  chromaSlot3.components = {{1, 2, 2, 0, 0, 0}, {2, 1, 1, 1, 3, 3}, {3, 1, 1, 1, 3, 3}};
  JpegBuildOptions restarts = ColourOptions(2, 1);
  restarts.restartInterval = 3;
  JpegBuildOptions twoScans = ColourOptions(1, 1);
  twoScans.scans = {{0}, {1, 2}};
  const Case cases[] = {
      {"Motion-JPEG frame, 4:2:0", ColourOptions(2, 2), 3, true, nullptr},
      {"4:2:0 with JFIF", ColourOptions(2, 2), 3, false, nullptr},
      {"grey", GreyOptions(), 1, true, nullptr},
      {"chroma in slot 3", chromaSlot3, 3, true, nullptr},
      {"4:2:2 with restarts", restarts, 3, true, nullptr},
      {"only the chroma AC table missing", ColourOptions(2, 2), 3, false, KeepAcChrominance},
      {"two scans", twoScans, 3, false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JpegBuildOptions options = c.options;
    if (c.avi1) {
      options.jfif = false;
      options.extraSegments = {Avi1Segment()};
    }
    Bytes full = BuildJpeg(MakeTestImage(61, 37, c.channels, 4), options);
    Bytes bare = WithoutSegments(full, 0xC4, c.keep);
    ASSERT_LT(bare.size(), full.size());
    ExpectSameDecode(DecodeWithLibrary(bare, IFF_MODE_EXTENDED),
                     DecodeWithLibrary(full, IFF_MODE_EXTENDED));
    // The default mode refuses a scan without its tables, as it always has.
    EXPECT_EQ(DecodeWithLibrary(bare).openResult, -2);
  }
}

// Frame component identifiers 1, 2, 3 (or 1 for grey); the scans' selectors
// replaced, in order of the scans, by those given.
Bytes WithScanSelectors(const Bytes& jpeg, const std::vector<std::vector<int>>& selectors) {
  Bytes out = jpeg;
  std::size_t scan = 0;
  for (const JpegSegment& s : ListSegments(jpeg)) {
    if (s.marker != 0xDA || scan >= selectors.size()) continue;
    const std::vector<int>& ids = selectors[scan++];
    for (std::size_t i = 0; i < ids.size() && i < s.payload[0]; ++i) {
      out[s.offset + 5 + 2 * i] = static_cast<uint8_t>(ids[i]);
    }
  }
  return out;
}

TEST(LenientReading, ScanSelectorsMatchedByPosition) {
  JpegBuildOptions twoScans = ColourOptions(1, 1);
  twoScans.scans = {{0, 1}, {2}};
  JpegBuildOptions lone = ColourOptions(1, 1);
  lone.scans = {{0}, {1}, {2}};
  JpegBuildOptions progressive = ColourOptions(2, 2);
  progressive.progressiveScans = BandSelectionScript(3);
  struct Case {
    const char* name;
    JpegBuildOptions options;
    int channels;
    std::vector<std::vector<int>> selectors;
    bool decodes;  // extended mode: as the untouched file; otherwise 7
  };
  const Case cases[] = {
      {"0, 1, 2 for 1, 2, 3", ColourOptions(2, 2), 3, {{0, 1, 2}}, true},
      {"none matching", ColourOptions(2, 2), 3, {{7, 8, 9}}, true},
      {"grey 0 for 1", GreyOptions(), 1, {{0}}, true},
      {"a component named twice", ColourOptions(2, 2), 3, {{1, 1, 2}}, false},
      {"one selector named three times", ColourOptions(2, 2), 3, {{0, 0, 0}}, false},
      {"fewer scan components than frame components", twoScans, 3, {{0, 1}, {2}}, false},
      {"lone scans", lone, 3, {{0}, {1}, {2}}, false},
      // The DC scan's selectors, matched by position, stand for the
      // components in the AC scans that follow.
      {"progressive, then by the same selectors",
       progressive,
       3,
       {{0, 1, 2}, {0}, {0}, {1}, {1}, {2}, {2}},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes good = BuildJpeg(MakeTestImage(40, 24, c.channels, 9), c.options);
    Bytes odd = WithScanSelectors(good, c.selectors);
    ASSERT_NE(odd, good);
    DecodeResult got = DecodeWithLibrary(odd, IFF_MODE_EXTENDED);
    if (c.decodes) {
      ExpectSameDecode(got, DecodeWithLibrary(good, IFF_MODE_EXTENDED));
    } else {
      EXPECT_EQ(got.openResult, -7);
    }
    EXPECT_EQ(DecodeWithLibrary(odd).openResult, -7) << "default mode";
  }
}

// A 512 x 512 photograph: the middle of a desktop background when the
// package is installed, else the synthetic test image.
Image Photograph(const char* name) {
  Image photo;
  Bytes jpeg = ReadFileBytes((std::string("/usr/share/backgrounds/mate/") + name).c_str());
  if (jpeg.empty() || !StbDecode(jpeg, &photo) || photo.width < 512 || photo.height < 512 ||
      photo.channels != 3) {
    return MakeTestImage(512, 512, 3, 31);
  }
  Image crop;
  crop.width = crop.height = 512;
  crop.channels = 3;
  crop.pixels.resize(512 * 512 * 3);
  int x0 = (photo.width - 512) / 2, y0 = (photo.height - 512) / 2;
  for (int y = 0; y < 512; ++y) {
    std::copy_n(photo.row(y0 + y) + 3 * x0, 512 * 3, crop.row(y));
  }
  return crop;
}

std::vector<std::size_t> RestartOffsets(const Bytes& jpeg) {
  std::vector<std::size_t> at;
  for (const JpegSegment& s : ListSegments(jpeg)) {
    if (s.marker >= 0xD0 && s.marker <= 0xD7) at.push_back(s.offset);
  }
  return at;
}

// The lines made from MCU rows firstRow..lastRow (16 lines each) and their
// neighbours, which the 2x2 upsampling takes as context.
bool SameOutside(const Image& a, const Image& b, int firstRow, int lastRow) {
  int from = std::max(0, 16 * firstRow - 1), to = std::min(a.height, 16 * (lastRow + 1) + 1);
  std::size_t line = static_cast<std::size_t>(a.width) * a.channels;
  for (int y = 0; y < a.height; ++y) {
    if (y >= from && y < to) continue;
    if (!std::equal(a.row(y), a.row(y) + line, b.row(y))) return false;
  }
  return true;
}

int CountTens(const std::vector<int32_t>& codes) {
  return static_cast<int>(std::count(codes.begin(), codes.end(), 10));
}

TEST(LenientReading, RestartNumbersResynchronise) {
  // 4:2:0, 32 MCUs a row, interval 4: eight intervals a row, RST k - 1
  // before interval k. Interval 100 is in MCU row 12.
  JpegBuildOptions options = ColourOptions(2, 2);
  options.restartInterval = 4;
  options.quality = 85;
  const Image photo = Photograph("nature/Garden.jpg");
  const Bytes jpeg = BuildJpeg(photo, options);
  const std::vector<std::size_t> rst = RestartOffsets(jpeg);
  ASSERT_EQ(rst.size(), 255u);
  const DecodeResult intact = DecodeWithLibrary(jpeg, IFF_MODE_EXTENDED);
  ASSERT_GT(intact.openResult, 0);
  ASSERT_EQ(CountTens(intact.lineCodes), 0);

  auto cut = [&](std::size_t from, std::size_t to) {
    Bytes out(jpeg.begin(), jpeg.begin() + static_cast<long>(from));
    out.insert(out.end(), jpeg.begin() + static_cast<long>(to), jpeg.end());
    return out;
  };
  // The markers at the given indices removed (in descending order, so
  // that the earlier offsets stay valid).
  auto markersCut = [&](std::vector<std::size_t> indices) {
    Bytes out = jpeg;
    std::sort(indices.rbegin(), indices.rend());
    for (std::size_t i : indices) {
      out.erase(out.begin() + static_cast<long>(rst[i]),
                out.begin() + static_cast<long>(rst[i]) + 2);
    }
    return out;
  };
  // Interval k's data run from just after rst[k - 1] to rst[k].
  auto garbled = [&](std::size_t from, std::size_t to) {
    Bytes out = jpeg;
    uint32_t x = 12345;
    for (std::size_t i = from; i < to; ++i) {
      x = x * 1103515245 + 12345;
      out[i] = static_cast<uint8_t>((x >> 16) % 255);  // no 0xFF: no marker
    }
    return out;
  };
  struct Case {
    const char* name;
    Bytes damaged;
    int maxTens;  // events: one per lost marker number, one per interval cut short
    int lost;     // intervals passed over or decoded from damaged data
  };
  // A lone lost marker leaves the next interval's data whole: they decode
  // in step, and only the event is reported.
  const Case cases[] = {
      {"one RST removed", cut(rst[99], rst[99] + 2), 1, 0},
      {"two RSTs in a row removed", markersCut({99, 100}), 2, 0},
      {"seven RSTs in a row removed", markersCut({99, 100, 101, 102, 103, 104, 105}), 7, 0},
      {"every other RST of a row removed", markersCut({97, 99, 101, 103}), 4, 0},
      {"two adjacent intervals cut out", cut(rst[99] + 2, rst[101]), 2, 2},
      {"two adjacent intervals and the RST between garbled", garbled(rst[99] + 2, rst[101]), 2, 2},
      {"a few bytes across an RST damaged", garbled(rst[99] - 3, rst[99] + 3), 2, 2},
      {"RST removed at the end of a row", cut(rst[103], rst[103] + 2), 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecodeResult got = DecodeWithLibrary(c.damaged, IFF_MODE_EXTENDED);
    ASSERT_GT(got.openResult, 0);
    EXPECT_EQ(got.closeResult, 0);
    int tens = CountTens(got.lineCodes);
    EXPECT_GE(tens, 1);
    EXPECT_LE(tens, c.maxTens);
    EXPECT_EQ(tens + std::count(got.lineCodes.begin(), got.lineCodes.end(), 0), 512);
    double psnr = Psnr(got.image, intact.image);
    EXPECT_TRUE(SameOutside(got.image, intact.image, 12, 13));
    // Only the lost intervals' pixels (64 x 16 each, and the 2x2
    // upsampling's context around them) differ.
    int differing = 0;
    for (std::size_t i = 0; i < got.image.pixels.size(); i += 3) {
      differing +=
          !std::equal(&got.image.pixels[i], &got.image.pixels[i] + 3, &intact.image.pixels[i]);
    }
    EXPECT_LE(differing, c.lost * 66 * 18);
    double today = Psnr(DecodeWithLibrary(c.damaged).image, intact.image);
    EXPECT_LT(today, 30.0) << "the default mode decodes the rest of the image out of step";
    // The lost intervals are concealed from the row above: mid-grey blocks
    // would give 29 to 31 dB for two intervals of this photograph.
    EXPECT_GT(psnr, today + 8.0);
    EXPECT_GE(psnr, 35.0);
    testing::Test::RecordProperty(c.name, std::to_string(psnr));
    printf("  %s: %.2f dB (default mode %.2f dB)\n", c.name, psnr, today);
  }
}

// Concealment in each decoding path: a lone component (interval 4 of 64
// MCUs a row), an interval of exactly one MCU row (its end found damaged at
// the row's end, before the row is reconstructed), intervals that straddle
// rows, and a file of one scan per component (whole-image decoding). Two
// adjacent intervals garbled each time.
TEST(LenientReading, DamagedIntervalsAreConcealedInEveryLayout) {
  const Image photo = Photograph("nature/Garden.jpg");
  Image grey{512, 512, 1, {}};
  for (std::size_t i = 0; i < photo.pixels.size(); i += 3) {
    grey.pixels.push_back(static_cast<uint8_t>(
        (77 * photo.pixels[i] + 150 * photo.pixels[i + 1] + 29 * photo.pixels[i + 2] + 128) >> 8));
  }
  auto options = [](JpegBuildOptions o, int interval, std::vector<std::vector<int>> scans) {
    o.restartInterval = interval;
    o.quality = 85;
    o.scans = std::move(scans);
    return o;
  };
  struct Case {
    const char* name;
    const Image& image;
    JpegBuildOptions options;
    std::size_t firstGarbled;  // the marker after which two intervals are garbled
    double minPsnr;
    int maxDiffering;  // pixels
  };
  const Case cases[] = {
      {"grey, interval 4", grey, options(GreyOptions(), 4, {}), 674, 36.0, 2 * 32 * 8 + 160},
      {"4:2:0, interval one MCU row", photo, options(ColourOptions(2, 2), 32, {}), 20, 23.0,
       2 * 512 * 16 + 2 * 512},
      {"4:4:4, interval 5 across rows", photo, options(ColourOptions(1, 1), 5, {}), 554, 35.0,
       2 * 40 * 8 + 2 * 64 * 8},
      {"4:2:0, one scan per component", photo, options(ColourOptions(2, 2), 8, {{0}, {1}, {2}}),
       347, 40.0, 2 * 64 * 8 + 160},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes jpeg = BuildJpeg(c.image, c.options);
    const std::vector<std::size_t> rst = RestartOffsets(jpeg);
    ASSERT_GT(rst.size(), c.firstGarbled + 2);
    const DecodeResult intact = DecodeWithLibrary(jpeg, IFF_MODE_EXTENDED);
    Bytes damaged = jpeg;
    uint32_t x = 777;
    for (std::size_t i = rst[c.firstGarbled] + 2; i < rst[c.firstGarbled + 2]; ++i) {
      x = x * 1103515245 + 12345;
      damaged[i] = static_cast<uint8_t>((x >> 16) % 255);
    }
    const DecodeResult got = DecodeWithLibrary(damaged, IFF_MODE_EXTENDED);
    ASSERT_GT(got.openResult, 0);
    EXPECT_GE(CountTens(got.lineCodes), 1);
    int differing = 0;
    const int channels = c.image.channels;
    for (std::size_t i = 0; i < got.image.pixels.size(); i += channels) {
      differing += !std::equal(&got.image.pixels[i], &got.image.pixels[i] + channels,
                               &intact.image.pixels[i]);
    }
    EXPECT_LE(differing, c.maxDiffering);
    const double psnr = Psnr(got.image, intact.image);
    EXPECT_GE(psnr, c.minPsnr);
    printf("  %s: %.2f dB, %d pixels differ\n", c.name, psnr, differing);
  }
}

// A restart marker out of sequence names the interval that follows it: the
// intervals between are passed over, concealed in sequential scans and left
// unrefined in progressive ones.
TEST(LenientReading, SkippedIntervalsStayAsTheScanLeftThem) {
  // 4:2:0, 48 x 80: three MCUs a row, one row an interval.
  auto build = [](bool progressive) {
    JpegBuildOptions o = ColourOptions(2, 2);
    o.restartInterval = 3;
    if (progressive) o.progressiveScans = SuccessiveApproximationScript(3);
    return BuildJpeg(MakeTestImage(48, 80, 3, 2), o);
  };
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "sequential");
    Bytes jpeg = build(progressive);
    DecodeResult good = DecodeWithLibrary(jpeg, IFF_MODE_EXTENDED);
    // The first marker of the file (RST0, before row 1 of the first scan)
    // removed and a stray byte left after row 1's data, so that they cannot
    // be taken for an intact interval: RST1 names row 2, row 1 is passed
    // over, rows 2 to 4 decode in step.
    const std::vector<std::size_t> rst = RestartOffsets(jpeg);
    Bytes damaged = jpeg;
    damaged.insert(damaged.begin() + static_cast<long>(rst.at(1)), uint8_t{0x5A});
    damaged.erase(damaged.begin() + static_cast<long>(rst[0]),
                  damaged.begin() + static_cast<long>(rst[0]) + 2);
    DecodeResult got = DecodeWithLibrary(damaged, IFF_MODE_EXTENDED);
    ASSERT_GT(got.openResult, 0);
    EXPECT_EQ(CountTens(got.lineCodes), 1);
    EXPECT_TRUE(SameOutside(got.image, good.image, 1, 1));
    EXPECT_NE(got.image.pixels, good.image.pixels);
    if (!progressive) {
      // Sequential: the skipped row is concealed by flat blocks, each the DC
      // term of the block above, far nearer the undamaged row than the
      // mid-grey of zero blocks.
      const uint8_t* mid = got.image.row(24);
      const uint8_t* want = good.image.row(24);
      int concealedError = 0, greyError = 0;
      for (int x = 0; x < 48 * 3; ++x) {
        concealedError += std::abs(mid[x] - want[x]);
        greyError += std::abs(128 - want[x]);
      }
      EXPECT_LT(concealedError, greyError);
    }
  }
}

}  // namespace
