// Multi-scan sequential files through the public entry points: the same
// coefficients coded in one interleaved scan and in several scans decode to
// identical lines, in every layout and scan order, with restart intervals and
// tables between the scans; a large image through the backing store; data
// that ends or loses its restart sequence in a later scan; malformed scan
// sequences; seeking.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "iffjpeg.h"
#include "platform/platform.h"
#include "support/decode_helpers.h"
#include "support/jpeg_builder.h"
#include "support/memory_file.h"

#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer's count of heap bytes in use (its allocator
// interface; the header is not shipped with every compiler).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#define MULTISCAN_HEAP_BYTES() static_cast<long>(__sanitizer_get_current_allocated_bytes())
#endif

namespace {

using namespace iffjpeg_test;
using Bytes = std::vector<uint8_t>;
using Scans = std::vector<std::vector<int>>;

struct Layout {
  const char* name;
  JpegBuildOptions options;
};

std::vector<Layout> ColourLayouts() {
  return {{"4:4:4", ColourOptions(1, 1)},
          {"4:2:2", ColourOptions(2, 1)},
          {"4:2:0", ColourOptions(2, 2)},
          {"4:4:0", ColourOptions(1, 2)},
          {"4:1:1", ColourOptions(4, 1)},
          {"4:1:0", ColourOptions(4, 2)},
          {"2x2,1x2,1x2", ColourOptions(2, 2, 1, 2)}};
}

struct Split {
  const char* name;
  Scans scans;
};

const Split kSplits[] = {
    {"Y, Cb, Cr", {{0}, {1}, {2}}}, {"Y, CbCr", {{0}, {1, 2}}}, {"Cr, Cb, Y", {{2}, {1}, {0}}}};

JpegBuildOptions WithScans(JpegBuildOptions options, const Scans& scans) {
  options.scans = scans;
  return options;
}

// Every file of this suite that the default mode opens gives, in extended
// mode (which decodes the scans into coefficients at the first line), the
// same lines and line codes; the default mode's result is returned.
DecodeResult DecodeBothModes(const Bytes& jpeg) {
  DecodeResult plain = DecodeWithLibrary(jpeg);
  if (plain.openResult > 0) {
    DecodeResult extended = DecodeWithLibrary(jpeg, IFF_MODE_EXTENDED);
    EXPECT_GT(extended.openResult, 0);
    EXPECT_EQ(extended.lineCodes, plain.lineCodes) << "extended mode";
    EXPECT_TRUE(extended.image.pixels == plain.image.pixels) << "extended mode";
    EXPECT_EQ(extended.closeResult, plain.closeResult) << "extended mode";
  }
  return plain;
}

int FirstNonZero(const std::vector<int32_t>& codes) {
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (codes[i] != 0) return static_cast<int>(i);
  }
  return -1;
}

long CountNonZero(const std::vector<int32_t>& codes) {
  return static_cast<long>(codes.size()) - std::count(codes.begin(), codes.end(), 0);
}

// Lines 0 .. count-1 of two decodes are the same.
bool SameFirstLines(const DecodeResult& a, const DecodeResult& b, int count) {
  std::size_t bytes = static_cast<std::size_t>(count) * a.width * a.planes;
  return std::equal(a.image.pixels.begin(), a.image.pixels.begin() + bytes, b.image.pixels.begin());
}

// Offsets of the 0xFF of every SOS marker.
std::vector<std::size_t> ScanOffsets(const Bytes& jpeg) {
  std::vector<std::size_t> at;
  for (const JpegSegment& s : ListSegments(jpeg)) {
    if (s.marker == 0xDA) at.push_back(s.offset);
  }
  return at;
}

// The middle of the entropy-coded data of scan `index`.
std::size_t InsideScan(const Bytes& jpeg, std::size_t index) {
  std::vector<std::size_t> sos = ScanOffsets(jpeg);
  std::size_t start = sos.at(index) + 2 + 2 + 1 + 2 * jpeg[sos[index] + 4] + 3;
  std::size_t end = index + 1 < sos.size() ? sos[index + 1] : jpeg.size() - 2;
  return (start + end) / 2;
}

Bytes Truncated(Bytes jpeg, std::size_t size) {
  jpeg.resize(size);
  return jpeg;
}

TEST(MultiScan, SeparateScansDecodeLikeInterleaved) {
  struct Restarts {
    const char* name;
    int interval;
    std::map<int, int> perScan;
  };
  const Restarts restarts[] = {{"none", 0, {}},
                               {"every 2 MCUs", 2, {}},
                               {"per scan 0, 3, 1", 0, {{1, 3}, {2, 1}}},
                               {"per scan 5, 0, 7", 5, {{1, 0}, {2, 7}}}};
  const std::pair<int, int> sizes[] = {{41, 23}, {17, 9}, {1, 1}, {64, 48}};
  for (const Layout& layout : ColourLayouts()) {
    for (auto [w, h] : sizes) {
      Image image = MakeTestImage(w, h, 3, static_cast<uint32_t>(w * h));
      DecodeResult twin = DecodeBothModes(BuildJpeg(image, layout.options));
      ASSERT_GT(twin.openResult, 0);
      for (const Split& split : kSplits) {
        for (const Restarts& r : restarts) {
          SCOPED_TRACE(testing::Message() << layout.name << " " << w << "x" << h << " "
                                          << split.name << ", restarts " << r.name);
          JpegBuildOptions options = WithScans(layout.options, split.scans);
          options.restartInterval = r.interval;
          options.scanRestartInterval = r.perScan;
          DecodeResult got = DecodeBothModes(BuildJpeg(image, options));
          ASSERT_GT(got.openResult, 0);
          EXPECT_EQ(got.planes, 3);
          EXPECT_EQ(CountNonZero(got.lineCodes), 0);
          EXPECT_EQ(got.closeResult, 0);
          EXPECT_EQ(got.image.pixels, twin.image.pixels);
        }
      }
    }
  }
}

// Segments between the scans: tables in one segment, fill bytes, a COM and
// an APP1, and a quantization table defined only after the first scan.
TEST(MultiScan, SegmentsBetweenScans) {
  Image image = MakeTestImage(37, 29, 3, 3);
  JpegBuildOptions options = WithScans(ColourOptions(2, 2), {{0}, {1}, {2}});
  DecodeResult twin = DecodeBothModes(BuildJpeg(image, ColourOptions(2, 2)));
  for (bool oneSegment : {false, true}) {
    JpegBuildOptions o = options;
    o.tablesInOneSegment = oneSegment;
    o.fillBytes = !oneSegment;
    DecodeResult got = DecodeBothModes(BuildJpeg(image, o));
    ASSERT_GT(got.openResult, 0);
    EXPECT_EQ(got.image.pixels, twin.image.pixels) << oneSegment;
  }

  Bytes jpeg = BuildJpeg(image, options);
  std::vector<JpegSegment> segments = ListSegments(jpeg);
  const JpegSegment* chromaDqt = nullptr;
  for (const JpegSegment& s : segments) {
    if (s.marker == 0xDB && s.payload.at(0) == 0x01) chromaDqt = &s;
  }
  ASSERT_NE(chromaDqt, nullptr);
  std::size_t dqtSize = chromaDqt->payload.size() + 4;
  Bytes between;
  AppendSegment(between, 0xFE, {'h', 'i'});
  AppendSegment(between, 0xE1, {1, 2, 3});
  between.insert(between.end(), jpeg.begin() + static_cast<long>(chromaDqt->offset),
                 jpeg.begin() + static_cast<long>(chromaDqt->offset + dqtSize));
  // Move the chroma table to just before the second scan header.
  std::size_t secondSos = ScanOffsets(jpeg).at(1);
  Bytes moved(jpeg.begin(), jpeg.begin() + static_cast<long>(secondSos));
  moved.insert(moved.end(), between.begin(), between.end());
  moved.insert(moved.end(), jpeg.begin() + static_cast<long>(secondSos), jpeg.end());
  moved.erase(moved.begin() + static_cast<long>(chromaDqt->offset),
              moved.begin() + static_cast<long>(chromaDqt->offset + dqtSize));
  DecodeResult got = DecodeBothModes(moved);
  ASSERT_GT(got.openResult, 0);
  EXPECT_EQ(got.image.pixels, twin.image.pixels);

  // Without the chroma table at all, the second scan cannot be dequantized.
  Bytes missing = jpeg;
  missing.erase(missing.begin() + static_cast<long>(chromaDqt->offset),
                missing.begin() + static_cast<long>(chromaDqt->offset + dqtSize));
  EXPECT_EQ(DecodeBothModes(missing).openResult, -7);
}

// Layouts the independent decoder reads as multi-scan files too, including
// one that no interleaved scan can hold (4x4 luminance: 18 blocks an MCU).
TEST(MultiScan, MatchesIndependentDecoder) {
  std::vector<Layout> layouts = {{"4:2:0", ColourOptions(2, 2)},
                                 {"4:4:4", ColourOptions(1, 1)},
                                 {"4:1:1", ColourOptions(4, 1)},
                                 {"4x4,1x1,1x1", ColourOptions(4, 4)}};
  for (const Layout& layout : layouts) {
    for (const Split& split : kSplits) {
      SCOPED_TRACE(testing::Message() << layout.name << " " << split.name);
      Image image = MakeTestImage(123, 77, 3, 9);
      Bytes jpeg = BuildJpeg(image, WithScans(layout.options, split.scans));
      Image reference;
      ASSERT_TRUE(StbDecode(jpeg, &reference));
      DecodeResult got = DecodeBothModes(jpeg);
      ASSERT_GT(got.openResult, 0);
      EXPECT_EQ(CountNonZero(got.lineCodes), 0);
      double psnr = Psnr(got.image, reference);
      EXPECT_GT(psnr, 38.0);
      if (&split == &kSplits[0]) {
        std::printf("[ multiscan] %-12s PSNR against stb_image %.2f dB\n", layout.name, psnr);
      }
    }
  }
}

// 1500 x 1200, 4:2:0: 2,707,200 bytes of planes, far above the 1,000,000
// the virtual arrays may hold, so most rows live in the backing store.
TEST(MultiScan, LargeImageThroughBackingStore) {
  Image image = MakeTestImage(1500, 1200, 3, 17);
  JpegBuildOptions options = ColourOptions(2, 2);
  options.quality = 60;
  DecodeResult twin = DecodeBothModes(BuildJpeg(image, options));
  ASSERT_GT(twin.openResult, 0);
  Bytes jpeg = BuildJpeg(image, WithScans(options, {{2}, {0}, {1}}));

  Image got = twin.image;
  std::fill(got.pixels.begin(), got.pixels.end(), 0);
  MemoryFile file(jpeg);
  IFFImageInfo info{};
#ifdef MULTISCAN_HEAP_BYTES
  long before = MULTISCAN_HEAP_BYTES();
#endif
  int32_t h = IFFOpen(file.source(), IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
  ASSERT_GT(h, 0);
#ifdef MULTISCAN_HEAP_BYTES
  long held = MULTISCAN_HEAP_BYTES() - before;
#endif
  for (int y = 0; y < 1200; ++y) ASSERT_EQ(IFFGetLine(h, 1, got.row(y)), 0) << y;
#ifdef MULTISCAN_HEAP_BYTES
  long afterLines = MULTISCAN_HEAP_BYTES() - before;
  EXPECT_EQ(afterLines, held) << "memory changed while serving lines";
  // The planes' windows, plus line buffers, the stream buffer and the handle.
  EXPECT_LT(held, 1000000 + 700000);
  std::printf("[ multiscan] 1500x1200 4:2:0 in three scans: %ld bytes held after open\n", held);
#endif
  EXPECT_EQ(IFFClose(h), 0);
  EXPECT_EQ(got.pixels, twin.image.pixels);

  // Without a backing store the open fails cleanly.
  iffjpeg::testing::FailNextTempFile(true);
  EXPECT_EQ(DecodeBothModes(jpeg).openResult, -5);
  iffjpeg::testing::FailNextTempFile(false);
}

TEST(MultiScan, DataEndingInALaterScan) {
  Image image = MakeTestImage(64, 64, 3, 21);
  JpegBuildOptions options = WithScans(ColourOptions(2, 2), {{0}, {1}, {2}});
  Bytes jpeg = BuildJpeg(image, options);
  DecodeResult intact = DecodeBothModes(jpeg);
  ASSERT_EQ(CountNonZero(intact.lineCodes), 0);

  // Inside the second scan, or right after the first: the third component is
  // never coded, so line 0 already reports 10 (and only line 0).
  for (std::size_t cut : {InsideScan(jpeg, 1), ScanOffsets(jpeg).at(1)}) {
    DecodeResult got = DecodeBothModes(Truncated(jpeg, cut));
    ASSERT_GT(got.openResult, 0) << cut;
    EXPECT_EQ(FirstNonZero(got.lineCodes), 0) << cut;
    EXPECT_EQ(CountNonZero(got.lineCodes), 1) << cut;
    EXPECT_EQ(got.lineCodes[0], 10);
  }

  // Inside the last scan: the first line that may differ reports 10; every
  // line above it is intact.
  for (const Scans& scans : {Scans{{0}, {1}, {2}}, Scans{{0}, {1, 2}}, Scans{{1}, {2}, {0}}}) {
    Bytes file = BuildJpeg(image, WithScans(ColourOptions(2, 2), scans));
    DecodeResult whole = DecodeBothModes(file);
    DecodeResult got = DecodeBothModes(Truncated(file, InsideScan(file, scans.size() - 1)));
    ASSERT_GT(got.openResult, 0);
    int reported = FirstNonZero(got.lineCodes);
    EXPECT_GT(reported, 0);
    EXPECT_LT(reported, 64);
    EXPECT_EQ(CountNonZero(got.lineCodes), 1);
    EXPECT_TRUE(SameFirstLines(got, whole, reported));
    EXPECT_NE(got.image.pixels, whole.image.pixels);
  }
}

// A tiny file whose frame header declares 65535 x 65535: decoding stops
// where the data ends, so the open costs work in proportion to the file's
// bytes, and the rows never decoded come out mid-grey.
TEST(MultiScan, HugeFrameWithLittleDataOpensQuickly) {
  Image image = MakeTestImage(16, 16, 3, 4);
  Bytes jpeg = BuildJpeg(image, WithScans(ColourOptions(2, 2), {{0}, {1}, {2}}));
  std::size_t sof = static_cast<std::size_t>(FindMarker(jpeg, 0xC0));
  for (std::size_t i : {sof + 5, sof + 6, sof + 7, sof + 8}) jpeg[i] = 0xFF;
  MemoryFile file(jpeg);
  IFFImageInfo info{};
  int32_t h = IFFOpen(file.source(), IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
  ASSERT_GT(h, 0);
  EXPECT_EQ(info.width, 65535);
  EXPECT_EQ(info.height, 65535);
  std::vector<uint8_t> line(65535 * 3);
  int32_t codes = 0;
  for (int y = 0; y < 40; ++y) codes += IFFGetLine(h, 1, line.data()) != 0;
  EXPECT_EQ(codes, 1) << "the damage is reported once";
  // Far below the data: the grey of undecoded rows (YCbCr 128,128,128).
  ASSERT_EQ(IFFSeek(h, 100), 0);
  ASSERT_EQ(IFFGetLine(h, 1, line.data()), 0);
  EXPECT_EQ(line[0], 129);
  EXPECT_EQ(line[1], 127);
  EXPECT_EQ(IFFClose(h), 0);
}

// Cut anywhere after the frame header, or with a byte changed anywhere: the
// open succeeds or refuses the file with 7 (or 2 for a table byte that now
// names an undefined table), lines carry 0 or a single 10, nothing crashes.
TEST(MultiScan, TruncatedAndCorruptedFilesAreSafe) {
  Image image = MakeTestImage(40, 24, 3, 31);
  JpegBuildOptions options = WithScans(ColourOptions(2, 1), {{1}, {0}, {2}});
  options.restartInterval = 3;
  Bytes jpeg = BuildJpeg(image, options);
  std::size_t frame = static_cast<std::size_t>(FindMarker(jpeg, 0xC0));
  auto check = [](const Bytes& file, const char* what, std::size_t at) {
    DecodeResult got = DecodeBothModes(file);
    if (got.openResult <= 0) {
      EXPECT_TRUE(got.openResult == -7 || got.openResult == -2 || got.openResult == -4)
          << what << " at " << at << ": " << got.openResult;
      return;
    }
    for (int32_t code : got.lineCodes) EXPECT_TRUE(code == 0 || code == 10) << what << at;
    EXPECT_LE(CountNonZero(got.lineCodes), 1) << what << " at " << at;
  };
  for (std::size_t cut = frame + 20; cut < jpeg.size(); cut += 5)
    check(Truncated(jpeg, cut), "cut", cut);
  uint32_t seed = 12345;
  for (int i = 0; i < 300; ++i) {
    seed = seed * 1664525u + 1013904223u;
    std::size_t at = frame + 20 + (seed >> 8) % (jpeg.size() - frame - 20);
    Bytes file = jpeg;
    file[at] = static_cast<uint8_t>(file[at] ^ (1u + (seed & 0x7Fu)));
    check(file, "changed byte", at);
  }
}

// A wrong restart number in the second scan: the restart is still taken, and
// the line made from the MCU row where it was due reports 10.
TEST(MultiScan, LostRestartInALaterScan) {
  Image image = MakeTestImage(64, 64, 3, 23);
  JpegBuildOptions options = WithScans(ColourOptions(2, 2), {{0}, {1}, {2}});
  options.restartInterval = 4;  // one block row of a 32 x 32 chroma plane
  DecodeResult intact = DecodeBothModes(BuildJpeg(image, options));
  // Scan 1 writes 64 / 4 - 1 = 15 restarts; the 2nd of scan 2 comes before
  // chroma block row 2, that is image line 32, and line 31 uses it through
  // the 2x2 filter.
  options.restartMarkerOverride = {{15 + 1, 0xD5}};
  DecodeResult got = DecodeBothModes(BuildJpeg(image, options));
  ASSERT_GT(got.openResult, 0);
  EXPECT_EQ(FirstNonZero(got.lineCodes), 31);
  EXPECT_EQ(CountNonZero(got.lineCodes), 1);
  EXPECT_EQ(got.image.pixels, intact.image.pixels);
}

TEST(MultiScan, MalformedScanSequences) {
  Image image = MakeTestImage(24, 24, 3, 5);
  auto openCode = [&](const JpegBuildOptions& o) {
    return DecodeBothModes(BuildJpeg(image, o)).openResult;
  };
  JpegBuildOptions base = ColourOptions(2, 2);
  EXPECT_EQ(openCode(WithScans(base, {{0}, {1}, {1}})), -7) << "a component coded twice";
  EXPECT_EQ(openCode(WithScans(base, {{0}, {1}, {2, 0}})), -7) << "luminance again";
  EXPECT_EQ(openCode(WithScans(base, {{0}, {1}})), -7) << "EOI before Cr is coded";
  EXPECT_EQ(openCode(WithScans(base, {{0}, {}})), -7) << "a scan header with no component";
  // The data simply end before Cr is coded: it comes out mid-grey, which for
  // a neutral image (Cb = Cr = 128 throughout) is what its scan would give.
  Image neutral = MakeTestImage(24, 24, 1, 5);
  Image rgb{24, 24, 3, {}};
  for (uint8_t v : neutral.pixels) rgb.pixels.insert(rgb.pixels.end(), {v, v, v});
  DecodeResult whole = DecodeBothModes(BuildJpeg(rgb, WithScans(base, {{0}, {1}, {2}})));
  JpegBuildOptions noEoi = WithScans(base, {{0}, {1}});
  noEoi.writeEoi = false;
  DecodeResult ended = DecodeBothModes(BuildJpeg(rgb, noEoi));
  ASSERT_GT(ended.openResult, 0);
  EXPECT_EQ(ended.lineCodes[0], 10);
  EXPECT_EQ(CountNonZero(ended.lineCodes), 1);
  EXPECT_EQ(ended.image.pixels, whole.image.pixels);

  // A progressive frame stays refused.
  JpegBuildOptions progressive = WithScans(base, {{0}, {1}, {2}});
  progressive.frameMarker = 0xC2;
  EXPECT_EQ(openCode(progressive), -7);

  // A later interleaved scan of 8 + 4 blocks an MCU gives 2.
  JpegBuildOptions big = ColourOptions(4, 2, 2, 2);
  big.components[2].h = big.components[2].v = 1;
  EXPECT_EQ(openCode(WithScans(big, {{2}, {0, 1}})), -2);
  EXPECT_GT(openCode(WithScans(big, {{0}, {1}, {2}})), 0);

  // The third scan's DC table was never defined: 2, as for a first scan.
  JpegBuildOptions o = WithScans(base, {{0}, {1}, {2}});
  o.components[2].dcTable = 2;
  Bytes jpeg = BuildJpeg(image, o);
  for (const JpegSegment& s : ListSegments(jpeg)) {
    if (s.marker == 0xC4 && s.payload.at(0) == 0x02) jpeg[s.offset + 4] = 0x03;
  }
  EXPECT_EQ(DecodeBothModes(jpeg).openResult, -2);
}

// Backward seeks decode the file again from the top; forward ones skip
// lines. Both give the lines of a fresh decode.
TEST(MultiScan, SeekingEqualsFreshDecode) {
  Image image = MakeTestImage(40, 70, 3, 8);
  Bytes jpeg = BuildJpeg(image, WithScans(ColourOptions(2, 2), {{0}, {1, 2}}));
  DecodeResult fresh = DecodeBothModes(jpeg);
  MemoryFile file(jpeg);
  IFFImageInfo info{};
  int32_t h = IFFOpen(file.source(), IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
  ASSERT_GT(h, 0);
  int32_t readsAtOpen = file.readCalls;
  Bytes line(40 * 3);
  for (int y = 0; y < 50; ++y) ASSERT_EQ(IFFGetLine(h, 1, line.data()), 0);
  for (int target : {3, 45, 17, 0, 69}) {
    ASSERT_EQ(IFFSeek(h, target), 0) << target;
    ASSERT_EQ(IFFGetLine(h, 1, line.data()), 0);
    EXPECT_TRUE(std::equal(line.begin(), line.end(), fresh.image.row(target))) << target;
  }
  EXPECT_EQ(file.readCalls, readsAtOpen) << "the planes hold the image: no second pass";
  EXPECT_EQ(IFFClose(h), 0);
}

// After a backward seek the damaged line reports 10 again when reached.
TEST(MultiScan, SeekingPastADamagedLineReportsAgain) {
  Image image = MakeTestImage(64, 64, 3, 23);
  JpegBuildOptions options = WithScans(ColourOptions(2, 2), {{0}, {1}, {2}});
  options.restartInterval = 4;
  options.restartMarkerOverride = {{16, 0xD5}};  // reported on line 31
  MemoryFile file(BuildJpeg(image, options));
  IFFImageInfo info{};
  int32_t h = IFFOpen(file.source(), IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
  ASSERT_GT(h, 0);
  EXPECT_EQ(IFFSeek(h, 40), 10);
  EXPECT_EQ(IFFSeek(h, 50), 0);
  EXPECT_EQ(IFFSeek(h, 10), 0);
  EXPECT_EQ(IFFSeek(h, 40), 10);
  Bytes lines(64 * 3 * 24);
  EXPECT_EQ(IFFGetLine(h, 24, lines.data()), 0);
  EXPECT_EQ(IFFClose(h), 0);
}

TEST(MultiScan, AllocationFailuresAtOpenGiveFiveAndLeakNothing) {
  Bytes jpeg =
      BuildJpeg(MakeTestImage(30, 30, 3, 1), WithScans(ColourOptions(2, 2), kSplits[0].scans));
  iffjpeg::testing::FailAllocationNumber(0);
  DecodeResult ok = DecodeWithLibrary(jpeg);
  ASSERT_GT(ok.openResult, 0);
  long needed = iffjpeg::testing::AllocationsCounted();
  for (long n = 1; n <= needed; ++n) {
    iffjpeg::testing::FailAllocationNumber(n);
    DecodeResult got = DecodeWithLibrary(jpeg);
    iffjpeg::testing::FailAllocationNumber(0);
    if (got.openResult > 0) {
      EXPECT_EQ(got.image.pixels, ok.image.pixels) << n;
    } else {
      EXPECT_EQ(got.openResult, -5) << n;
    }
  }
}

}  // namespace
