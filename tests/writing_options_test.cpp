// The writing options through the public entry points: chroma subsampling,
// restart intervals, metadata segments and tables built for the image. Each
// file is checked by its markers and by what the project's decoder and
// stb_image make of it, against the plain file of the same settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "entropy/huffman_optimizer.h"
#include "iffjpeg.h"
#include "stream/byte_stream.h"
#include "support/decode_helpers.h"
#include "support/images.h"
#include "support/memory_file.h"

namespace {

using namespace iffjpeg_test;

struct Setting {
  int32_t code;
  int32_t value;
  int32_t length = 0;
  const void* pointer = nullptr;
};

struct Written {
  std::vector<int32_t> settingCodes;
  int32_t close = -1;
  std::vector<uint8_t> bytes;
  std::vector<int32_t> writeSizes;  // of each write callback
};

// Writes img with the settings made before the first line, in 5-line calls;
// with lines set, only that many lines before IFFClose.
Written Write(const Image& img, const std::vector<Setting>& settings, int quality = 75,
              int lines = -1) {
  if (lines < 0) lines = img.height;
  Written w;
  MemoryFile file;
  IFFImageInfo info{};
  info.width = img.width;
  info.height = img.height;
  info.planes = img.channels;
  info.bitsPerSample = 8;
  int32_t h = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  if (h <= 0) return w;
  if (quality != 75) IFFControl(h, IFF_CTL_QUALITY, quality, 0, nullptr);
  for (const Setting& s : settings) {
    w.settingCodes.push_back(
        IFFControl(h, s.code, s.value, s.length, const_cast<void*>(s.pointer)));
  }
  int32_t rc = 0;
  for (int y = 0; y < lines && rc == 0; y += 5) {
    int n = lines - y < 5 ? lines - y : 5;
    rc = IFFPutLine(h, static_cast<uint32_t>(n), img.row(y));
  }
  w.close = IFFClose(h);
  if (rc != 0) w.close = rc;
  w.bytes = file.data;
  w.writeSizes = file.writeSizes;
  return w;
}

struct Segment {
  int marker;
  std::vector<uint8_t> payload;  // after the length field
};

// The segments from SOI to SOS (SOS included), in file order.
std::vector<Segment> Segments(const std::vector<uint8_t>& f) {
  std::vector<Segment> out;
  std::size_t p = 2;
  while (p + 4 <= f.size() && f[p] == 0xFF) {
    int marker = f[p + 1];
    std::size_t length = static_cast<std::size_t>(f[p + 2]) << 8 | f[p + 3];
    if (p + 2 + length > f.size()) break;
    out.push_back({marker, std::vector<uint8_t>(f.begin() + p + 4, f.begin() + p + 2 + length)});
    p += 2 + length;
    if (marker == 0xDA) break;
  }
  return out;
}

// The RSTn markers of the entropy-coded data, in order (their low nibble).
std::vector<int> RestartMarkers(const std::vector<uint8_t>& f) {
  std::size_t p = 2;
  for (const Segment& s : Segments(f)) p += 4 + s.payload.size();
  std::vector<int> out;
  for (; p + 1 < f.size(); ++p) {
    if (f[p] == 0xFF && f[p + 1] >= 0xD0 && f[p + 1] <= 0xD7) out.push_back(f[p + 1] - 0xD0);
  }
  return out;
}

const Segment* Find(const std::vector<Segment>& segments, int marker) {
  for (const Segment& s : segments) {
    if (s.marker == marker) return &s;
  }
  return nullptr;
}

// Both decoders' pixels; the library in the default mode and in extended
// mode must agree.
struct Decoded {
  Image own;
  Image stb;
};

Decoded DecodeBoth(const std::vector<uint8_t>& jpeg) {
  Decoded d;
  DecodeResult own = DecodeWithLibrary(jpeg);
  EXPECT_GT(own.openResult, 0);
  for (int32_t code : own.lineCodes) EXPECT_EQ(code, 0);
  EXPECT_EQ(own.closeResult, 0);
  DecodeResult extended = DecodeWithLibrary(jpeg, IFF_MODE_EXTENDED);
  EXPECT_EQ(extended.image.pixels, own.image.pixels);
  d.own = own.image;
  EXPECT_TRUE(StbDecode(jpeg, &d.stb));
  return d;
}

TEST(WritingOptions, SubsamplingSetsTheFrameFactorsAndDecodes) {
  struct Case {
    int32_t value;
    int h, v;
    double minPsnr;  // stb_image's decoding against the source, RGB
  };
  // The test image's fine chroma texture: full-resolution chroma keeps the
  // most of it.
  const Case cases[] = {
      {0x420, 2, 2, 27.0}, {0x422, 2, 1, 27.5}, {0x440, 1, 2, 27.5},
      {0x444, 1, 1, 30.0}, {0x411, 4, 1, 25.0},
  };
  for (int channels : {1, 3}) {
    Image img = MakeTestImage(77, 45, channels, 3);
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << std::hex << c.value << " channels " << channels);
      Written w = Write(img, {{IFF_CTL_SUBSAMPLING, c.value}});
      ASSERT_EQ(w.settingCodes, std::vector<int32_t>{0});
      ASSERT_EQ(w.close, 0);
      std::vector<Segment> segments = Segments(w.bytes);
      const Segment* frame = Find(segments, 0xC0);
      ASSERT_NE(frame, nullptr);
      ASSERT_EQ(frame->payload[5], channels);
      if (channels == 1) {
        EXPECT_EQ(frame->payload[7], 0x11);
      } else {
        EXPECT_EQ(frame->payload[7], c.h << 4 | c.v);
        EXPECT_EQ(frame->payload[10], 0x11);
        EXPECT_EQ(frame->payload[13], 0x11);
      }
      Decoded d = DecodeBoth(w.bytes);
      EXPECT_GE(Psnr(img, d.stb), channels == 1 ? 33.0 : c.minPsnr);
      EXPECT_GE(Psnr(img, d.own), channels == 1 ? 33.0 : c.minPsnr);
      if (c.value == 0x420) {
        EXPECT_EQ(w.bytes, Write(img, {}).bytes);
      }
    }
  }
}

TEST(WritingOptions, RestartMarkedFilesDecodeToThePlainFilesPixels) {
  struct Case {
    int channels;
    int32_t sampling;
    int width, height;
    int32_t interval;
  };
  const Case cases[] = {
      {3, 0x420, 100, 70, 1}, {3, 0x420, 100, 70, 3},     {3, 0x444, 61, 33, 7},
      {3, 0x411, 90, 20, 2},  {1, 0x420, 61, 33, 5},      {1, 0x420, 16, 8, 1},
      {3, 0x420, 33, 17, 4},  {3, 0x422, 100, 70, 65535},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.channels << " " << std::hex << c.sampling << std::dec << " " << c.width << "x"
                 << c.height << " every " << c.interval);
    Image img = MakeTestImage(c.width, c.height, c.channels, 9);
    Written plain = Write(img, {{IFF_CTL_SUBSAMPLING, c.sampling}});
    Written marked = Write(img, {{IFF_CTL_SUBSAMPLING, c.sampling}, {IFF_CTL_RESTART, c.interval}});
    ASSERT_EQ(marked.close, 0);
    std::vector<Segment> segments = Segments(marked.bytes);
    const Segment* dri = Find(segments, 0xDD);
    ASSERT_NE(dri, nullptr);
    EXPECT_EQ(dri->payload[0] << 8 | dri->payload[1], c.interval & 0xFFFF);

    // The luminance factors are the MCU's size in blocks.
    int hMax = 1, vMax = 1;
    if (c.channels == 3) {
      hMax = c.sampling == 0x411 ? 4 : (c.sampling == 0x420 || c.sampling == 0x422) ? 2 : 1;
      vMax = c.sampling == 0x420 || c.sampling == 0x440 ? 2 : 1;
    }
    int mcus = ((c.width + 8 * hMax - 1) / (8 * hMax)) * ((c.height + 8 * vMax - 1) / (8 * vMax));
    std::vector<int> markers = RestartMarkers(marked.bytes);
    ASSERT_EQ(static_cast<int>(markers.size()), (mcus + c.interval - 1) / c.interval - 1);
    for (std::size_t i = 0; i < markers.size(); ++i) EXPECT_EQ(markers[i], static_cast<int>(i % 8));

    Decoded a = DecodeBoth(plain.bytes);
    Decoded b = DecodeBoth(marked.bytes);
    EXPECT_EQ(a.own.pixels, b.own.pixels);
    EXPECT_EQ(a.stb.pixels, b.stb.pixels);
  }
}

std::vector<uint8_t> Pattern(std::size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return v;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<uint8_t> Bytes(const char* text, std::size_t n) {
  return std::vector<uint8_t>(text, text + n);
}

TEST(WritingOptions, MetadataSegmentsFollowTheJfifSegmentInOrder) {
  Image img = MakeTestImage(40, 24, 3, 4);
  std::vector<uint8_t> icc = Pattern(2 * 65519 + 100, 1);
  std::vector<uint8_t> exif = Pattern(3000, 2);
  std::vector<uint8_t> xmp = Pattern(500, 3);
  std::vector<uint8_t> comment = Bytes("made by a test", 14);
  std::vector<uint8_t> dropped = Pattern(10, 4);
  // Set in another order than written; a replaced and a removed item.
  Written w = Write(img, {
                             {IFF_CTL_METADATA, 4, 10, dropped.data()},
                             {IFF_CTL_METADATA, 4, 14, comment.data()},
                             {IFF_CTL_METADATA, 3, 500, xmp.data()},
                             {IFF_CTL_METADATA, 1, static_cast<int32_t>(icc.size()), icc.data()},
                             {IFF_CTL_METADATA, 2, 3000, exif.data()},
                         });
  ASSERT_EQ(w.settingCodes, std::vector<int32_t>(5, 0));
  ASSERT_EQ(w.close, 0);
  std::vector<Segment> s = Segments(w.bytes);
  ASSERT_GE(s.size(), 8u);
  EXPECT_EQ(s[0].marker, 0xE0);
  EXPECT_EQ(s[1].marker, 0xE1);
  EXPECT_EQ(s[1].payload, Concat({Bytes("Exif\0\0", 6), exif}));
  std::vector<uint8_t> chunks;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(s[2 + i].marker, 0xE2);
    const std::vector<uint8_t>& p = s[2 + i].payload;
    ASSERT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 12), Bytes("ICC_PROFILE\0", 12));
    EXPECT_EQ(p[12], i + 1);
    EXPECT_EQ(p[13], 3);
    EXPECT_LE(p.size() - 14, 65519u);
    chunks.insert(chunks.end(), p.begin() + 14, p.end());
  }
  EXPECT_EQ(chunks, icc);
  EXPECT_EQ(s[5].marker, 0xE1);
  const char kXmp[] = "http://ns.adobe.com/xap/1.0/";
  EXPECT_EQ(s[5].payload, Concat({Bytes(kXmp, sizeof kXmp), xmp}));
  EXPECT_EQ(s[6].marker, 0xFE);
  EXPECT_EQ(s[6].payload, comment);
  EXPECT_EQ(s[7].marker, 0xDB);

  // The image data are the plain file's.
  Written plain = Write(img, {});
  Decoded a = DecodeBoth(plain.bytes);
  Decoded b = DecodeBoth(w.bytes);
  EXPECT_EQ(a.own.pixels, b.own.pixels);
  EXPECT_EQ(a.stb.pixels, b.stb.pixels);

  // Every item removed again: the plain file.
  Written removed = Write(img, {{IFF_CTL_METADATA, 2, 3000, exif.data()},
                                {IFF_CTL_METADATA, 2, 0, nullptr},
                                {IFF_CTL_METADATA, 4, 14, comment.data()},
                                {IFF_CTL_METADATA, 4, 0, comment.data()}});
  EXPECT_EQ(removed.bytes, plain.bytes);
}

// A profile larger than the stream buffer goes out in whole bufferfuls,
// the buffer written when full as byte-by-byte writing would, and comes
// back whole.
TEST(WritingOptions, MetadataLargerThanTheStreamBufferKeepsItsBytesAndBufferfuls) {
  Image img = MakeTestImage(16, 16, 3, 9);
  std::vector<uint8_t> icc = Pattern(5 * 65519 + 77, 5);
  Written w = Write(img, {{IFF_CTL_METADATA, 1, static_cast<int32_t>(icc.size()), icc.data()}});
  ASSERT_EQ(w.close, 0);
  ASSERT_GE(w.writeSizes.size(), 2u);
  for (std::size_t i = 0; i + 1 < w.writeSizes.size(); ++i) {
    EXPECT_EQ(w.writeSizes[i], static_cast<int32_t>(iffjpeg::kStreamBufferSize)) << i;
  }
  std::vector<uint8_t> chunks;
  for (const Segment& segment : Segments(w.bytes)) {
    if (segment.marker == 0xE2)
      chunks.insert(chunks.end(), segment.payload.begin() + 14, segment.payload.end());
  }
  EXPECT_EQ(chunks, icc);
}

TEST(WritingOptions, RefusedSettingsAndSettingsAfterTheFirstLineChangeNothing) {
  Image img = MakeTestImage(30, 20, 3, 6);
  const std::vector<uint8_t> plain = Write(img, {}).bytes;
  std::vector<uint8_t> big(255u * 65519 + 1, 0x5A);
  const int32_t bigLength = static_cast<int32_t>(big.size());
  struct Case {
    Setting setting;
    int32_t code;
  };
  const Case refused[] = {
      {{IFF_CTL_SUBSAMPLING, 0x421}, IFF_ERR_INVALID},
      {{IFF_CTL_SUBSAMPLING, 0}, IFF_ERR_INVALID},
      {{IFF_CTL_OPTIMIZE, 2}, IFF_ERR_INVALID},
      {{IFF_CTL_PROGRESSIVE, 2}, IFF_ERR_INVALID},
      {{IFF_CTL_METADATA, 0, 4, big.data()}, IFF_ERR_INVALID},
      {{IFF_CTL_METADATA, 5, 4, big.data()}, IFF_ERR_INVALID},
      {{IFF_CTL_METADATA, 4, -1, big.data()}, IFF_ERR_INVALID},
      {{IFF_CTL_METADATA, 4, 4, nullptr}, IFF_ERR_INVALID},
      {{IFF_CTL_METADATA, 1, bigLength, big.data()}, IFF_ERR_INVALID},
      {{IFF_CTL_METADATA, 2, 65528, big.data()}, IFF_ERR_INVALID},
      {{IFF_CTL_METADATA, 3, 65505, big.data()}, IFF_ERR_INVALID},
      {{IFF_CTL_METADATA, 4, 65534, big.data()}, IFF_ERR_INVALID},
      // At the limits: accepted, then removed again.
      {{IFF_CTL_METADATA, 1, bigLength - 1, big.data()}, 0},
      {{IFF_CTL_METADATA, 1, 0, nullptr}, 0},
      {{IFF_CTL_METADATA, 2, 65527, big.data()}, 0},
      {{IFF_CTL_METADATA, 2, 0, nullptr}, 0},
      {{IFF_CTL_METADATA, 3, 65504, big.data()}, 0},
      {{IFF_CTL_METADATA, 3, 0, nullptr}, 0},
      {{IFF_CTL_METADATA, 4, 65533, big.data()}, 0},
      {{IFF_CTL_METADATA, 4, 0, nullptr}, 0},
      {{IFF_CTL_RESTART, 0}, 0},
      {{IFF_CTL_OPTIMIZE, 0}, 0},
      {{IFF_CTL_PROGRESSIVE, 1}, 0},
      {{IFF_CTL_PROGRESSIVE, 0}, 0},
  };
  std::vector<Setting> settings;
  std::vector<int32_t> codes;
  for (const Case& c : refused) {
    settings.push_back(c.setting);
    codes.push_back(c.code);
  }
  Written w = Write(img, settings);
  EXPECT_EQ(w.settingCodes, codes);
  EXPECT_EQ(w.bytes, plain);

  // After the first line every option gives 2 and the file stays plain.
  MemoryFile file;
  IFFImageInfo info{0, img.width, img.height, 3, 8, 0, 0};
  int32_t h = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  ASSERT_GT(h, 0);
  ASSERT_EQ(IFFPutLine(h, 0, img.row(0)), 0);
  int32_t limits[2] = {8, 8};
  EXPECT_EQ(IFFControl(h, IFF_CTL_SUBSAMPLING, 0x444, 0, nullptr), IFF_ERR_INVALID);
  EXPECT_EQ(IFFControl(h, IFF_CTL_RESTART, 2, 0, nullptr), IFF_ERR_INVALID);
  EXPECT_EQ(IFFControl(h, IFF_CTL_OPTIMIZE, 1, 0, nullptr), IFF_ERR_INVALID);
  EXPECT_EQ(IFFControl(h, IFF_CTL_PROGRESSIVE, 1, 0, nullptr), IFF_ERR_INVALID);
  EXPECT_EQ(IFFControl(h, IFF_CTL_METADATA, 4, 3, big.data()), IFF_ERR_INVALID);
  EXPECT_EQ(IFFControl(h, IFF_CTL_WHOLE_IMAGE_LIMITS, 0, 0, limits), IFF_ERR_INVALID);
  for (int y = 0; y < img.height; ++y) ASSERT_EQ(IFFPutLine(h, 1, img.row(y)), 0);
  EXPECT_EQ(IFFClose(h), 0);
  EXPECT_EQ(file.data, plain);

  // Read handles: the writing options are refused.
  MemoryFile source(plain);
  h = IFFOpen(source.source(), IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
  ASSERT_GT(h, 0);
  EXPECT_EQ(IFFControl(h, IFF_CTL_SUBSAMPLING, 0x444, 0, nullptr), IFF_ERR_INVALID);
  EXPECT_EQ(IFFControl(h, IFF_CTL_RESTART, 2, 0, nullptr), IFF_ERR_INVALID);
  EXPECT_EQ(IFFControl(h, IFF_CTL_OPTIMIZE, 1, 0, nullptr), IFF_ERR_INVALID);
  // On a read handle the metadata code reads the item: the plain file has no
  // comment, so nothing is copied.
  EXPECT_EQ(IFFControl(h, IFF_CTL_METADATA, 4, 3, big.data()), 0);
  EXPECT_EQ(big[0], 0x5A);
  EXPECT_EQ(IFFClose(h), 0);
}

}  // namespace

namespace {

// One component's lengths from BITS: every code at most 16 bits, and the
// codes leave room (the Kraft sum below 1), so that no code is all 1-bits.
void ExpectUsableTable(const iffjpeg::HuffTable& t, const iffjpeg::SymbolCounts& counts) {
  int n = 0;
  uint64_t kraft = 0;  // in units of 2^-16
  for (int l = 1; l <= 16; ++l) {
    n += t.bits[l];
    kraft += static_cast<uint64_t>(t.bits[l]) << (16 - l);
  }
  EXPECT_LT(kraft, uint64_t{1} << 16);
  std::vector<bool> present(256, false);
  for (int i = 0; i < n; ++i) present[t.huffval[i]] = true;
  int counted = 0;
  for (int v = 0; v < 256; ++v) {
    if (counts.count[v] != 0) {
      ++counted;
      EXPECT_TRUE(present[v]) << "symbol " << v;
    }
  }
  EXPECT_EQ(n, counted == 0 ? 1 : counted);
}

TEST(OptimizedTables, EveryCountedSymbolGetsACodeOfAtMost16Bits) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, int64_t>> counts;
  };
  std::vector<std::pair<int, int64_t>> fibonacci, flat, one;
  int64_t a = 1, b = 1;
  for (int v = 0; v < 40; ++v) {  // lengths far above 16 before the adjustment
    fibonacci.push_back({v * 6, a});
    int64_t c = a + b;
    a = b;
    b = c;
  }
  for (int v = 0; v < 256; ++v) flat.push_back({v, 1000});
  one.push_back({0xF0, 5});
  const Case cases[] = {
      {"fibonacci", fibonacci}, {"all 256 alike", flat}, {"one symbol", one}, {"none", {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    iffjpeg::SymbolCounts counts{};
    for (auto [symbol, n] : c.counts) counts.count[symbol] = n;
    iffjpeg::HuffTable table{};
    iffjpeg::BuildOptimalTable(counts, table);
    ExpectUsableTable(table, counts);
  }
  // Shorter codes for more frequent symbols.
  iffjpeg::SymbolCounts skewed{};
  skewed.count[1] = 1000;
  skewed.count[2] = 10;
  skewed.count[3] = 10;
  iffjpeg::HuffTable table{};
  iffjpeg::BuildOptimalTable(skewed, table);
  EXPECT_EQ(table.bits[1], 1);
  EXPECT_EQ(table.huffval[0], 1);
}

TEST(WritingOptions, OptimizedFilesDecodeToThePlainFilesPixelsAndAreSmaller) {
  struct Case {
    int channels;
    int32_t sampling;
    int width, height;
    int32_t restart;
    int quality;
  };
  const Case cases[] = {
      {3, 0x420, 203, 150, 0, 75}, {3, 0x420, 203, 150, 0, 95}, {3, 0x444, 120, 77, 0, 50},
      {3, 0x411, 130, 40, 3, 75},  {1, 0x420, 150, 101, 0, 90}, {1, 0x420, 150, 101, 7, 75},
      {3, 0x422, 1, 1, 0, 75},     {3, 0x440, 9, 17, 1, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.channels << " " << std::hex << c.sampling << std::dec << " " << c.width << "x"
                 << c.height << " restart " << c.restart << " q" << c.quality);
    Image img = MakeTestImage(c.width, c.height, c.channels, 12);
    std::vector<Setting> settings = {{IFF_CTL_SUBSAMPLING, c.sampling},
                                     {IFF_CTL_RESTART, c.restart}};
    Written plain = Write(img, settings, c.quality);
    settings.push_back({IFF_CTL_OPTIMIZE, 1});
    Written optimized = Write(img, settings, c.quality);
    ASSERT_EQ(optimized.close, 0);
    std::vector<Segment> segments = Segments(optimized.bytes);
    ASSERT_NE(Find(segments, 0xC0), nullptr);
    ASSERT_EQ(segments.back().marker, 0xDA);
    if (c.width >= 100) {
      EXPECT_LT(optimized.bytes.size(), plain.bytes.size());
    }
    Decoded a = DecodeBoth(plain.bytes);
    Decoded b = DecodeBoth(optimized.bytes);
    EXPECT_EQ(a.own.pixels, b.own.pixels);
    EXPECT_EQ(a.stb.pixels, b.stb.pixels);
  }
}

TEST(WritingOptions, StoredCoefficientsStayWithinTheWholeImageLimits) {
  // 1024 x 768 at 0x420 keeps 2.25 MiB of coefficients: with 1 MiB in
  // memory they go through the backing store.
  Image img = MakeTestImage(1024, 768, 3, 13);
  int32_t backed[2] = {1, 8};
  int32_t tooSmall[2] = {1, 2};
  const std::vector<uint8_t> plain = DecodeWithLibrary(Write(img, {}).bytes).image.pixels;
  for (int32_t option : {IFF_CTL_OPTIMIZE, IFF_CTL_PROGRESSIVE}) {
    SCOPED_TRACE(option);
    Written stored = Write(img, {{option, 1}, {IFF_CTL_WHOLE_IMAGE_LIMITS, 0, 0, backed}});
    ASSERT_EQ(stored.settingCodes, (std::vector<int32_t>{0, 0}));
    ASSERT_EQ(stored.close, 0);
    EXPECT_EQ(DecodeWithLibrary(stored.bytes, IFF_MODE_EXTENDED).image.pixels, plain);
    Written refused = Write(img, {{option, 1}, {IFF_CTL_WHOLE_IMAGE_LIMITS, 0, 0, tooSmall}});
    EXPECT_EQ(refused.close, IFF_ERR_MEMORY);
    // In memory, a progressive file's DC scans come from a copy of the DC
    // terms rather than from the arrays: the same bytes either way, also
    // for a file closed before its last line.
    for (int lines : {img.height, 301}) {
      EXPECT_EQ(
          Write(img, {{option, 1}}, 75, lines).bytes,
          Write(img, {{option, 1}, {IFF_CTL_WHOLE_IMAGE_LIMITS, 0, 0, backed}}, 75, lines).bytes);
    }
  }
}

// The scan headers of a file: (components, Ss, Se, Ah, Al) of each SOS.
std::vector<std::vector<int>> ScanHeaders(const std::vector<uint8_t>& f) {
  std::vector<std::vector<int>> out;
  for (std::size_t p = 2; p + 4 <= f.size(); ++p) {
    if (f[p] != 0xFF || f[p + 1] != 0xDA) continue;
    int n = f[p + 4];
    std::size_t q = p + 5 + 2 * static_cast<std::size_t>(n);
    if (q + 3 > f.size()) break;
    out.push_back({n, f[q], f[q + 1], f[q + 2] >> 4, f[q + 2] & 15});
  }
  return out;
}

// A progressive file against the plain file of the same settings: whole and
// without codes in extended mode, and the same pixels in the project's
// decoder and in stb_image.
void ExpectPlainPixels(const Written& plain, const Written& progressive) {
  DecodeResult own = DecodeWithLibrary(progressive.bytes, IFF_MODE_EXTENDED);
  EXPECT_GT(own.openResult, 0);
  for (int32_t code : own.lineCodes) EXPECT_EQ(code, 0);
  EXPECT_EQ(own.closeResult, 0);
  EXPECT_EQ(own.image.pixels, DecodeWithLibrary(plain.bytes).image.pixels);
  Image stbPlain, stbProgressive;
  ASSERT_TRUE(StbDecode(plain.bytes, &stbPlain));
  ASSERT_TRUE(StbDecode(progressive.bytes, &stbProgressive));
  EXPECT_EQ(stbProgressive.pixels, stbPlain.pixels);
}

TEST(WritingOptions, ProgressiveFilesDecodeToThePlainFilesPixels) {
  struct Case {
    int channels;
    int32_t sampling;
    int width, height;
    int32_t restart;
    int quality;
  };
  // Widths and heights off the block and MCU grid, restart intervals that
  // cut end-of-band runs, and quality 100, whose magnitudes reach every
  // refinement bit.
  const Case cases[] = {
      {3, 0x420, 203, 150, 0, 75}, {3, 0x420, 203, 150, 0, 100}, {3, 0x444, 120, 77, 5, 50},
      {3, 0x411, 130, 40, 3, 75},  {3, 0x422, 1, 1, 0, 75},      {3, 0x440, 9, 17, 1, 95},
      {1, 0x420, 150, 101, 0, 90}, {1, 0x420, 150, 101, 7, 100}, {1, 0x420, 13, 3, 1, 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.channels << " " << std::hex << c.sampling << std::dec << " " << c.width << "x"
                 << c.height << " restart " << c.restart << " q" << c.quality);
    Image img = MakeTestImage(c.width, c.height, c.channels, 21);
    std::vector<Setting> settings = {{IFF_CTL_SUBSAMPLING, c.sampling},
                                     {IFF_CTL_RESTART, c.restart}};
    Written plain = Write(img, settings, c.quality);
    settings.push_back({IFF_CTL_PROGRESSIVE, 1});
    Written progressive = Write(img, settings, c.quality);
    ASSERT_EQ(progressive.close, 0);
    std::vector<Segment> segments = Segments(progressive.bytes);
    ASSERT_NE(Find(segments, 0xC2), nullptr);
    std::vector<std::vector<int>> scans = ScanHeaders(progressive.bytes);
    ASSERT_EQ(scans.size(), c.channels == 3 ? 10u : 6u);
    EXPECT_EQ(scans[0], (std::vector<int>{c.channels, 0, 0, 0, 1}));
    EXPECT_EQ(scans.back(), (std::vector<int>{1, 1, 63, 1, 0}));
    if (c.restart != 0) {
      EXPECT_FALSE(RestartMarkers(progressive.bytes).empty());
    }

    ExpectPlainPixels(plain, progressive);
  }
}

// A flat picture codes every AC band as one end-of-band run, which must be
// cut at 32767 blocks (T.81 G.1.2.2): 32768 blocks of greyscale and of
// luminance here.
TEST(WritingOptions, ProgressiveEndOfBandRunsStopAt32767Blocks) {
  for (int channels : {1, 3}) {
    SCOPED_TRACE(channels);
    Image img = MakeTestImage(2048, 1024, channels, 3);
    std::fill(img.pixels.begin(), img.pixels.end(), uint8_t{140});
    Written plain = Write(img, {});
    Written progressive = Write(img, {{IFF_CTL_PROGRESSIVE, 1}});
    ASSERT_EQ(progressive.close, 0);
    ExpectPlainPixels(plain, progressive);
  }
}

// The same two cosines in every block: each block's few non-zero
// coefficients are large, so the last refinement scans send only correction
// bits, and the end-of-band run must also be cut before more than about a
// thousand of them wait (T.81 G.1.2.3).
TEST(WritingOptions, ProgressiveCorrectionBitsBehindLongRuns) {
  Image img = MakeTestImage(512, 512, 1, 3);
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width; ++x) {
      auto basis = [&](int u, int v) {
        return std::cos((2 * (x % 8) + 1) * u * M_PI / 16) *
               std::cos((2 * (y % 8) + 1) * v * M_PI / 16);
      };
      img.row(y)[x] = static_cast<uint8_t>(std::lround(128 + 50 * basis(3, 2) + 40 * basis(1, 5)));
    }
  }
  for (int quality : {50, 75, 90}) {
    SCOPED_TRACE(quality);
    Written plain = Write(img, {}, quality);
    Written progressive = Write(img, {{IFF_CTL_PROGRESSIVE, 1}}, quality);
    ASSERT_EQ(progressive.close, 0);
    ExpectPlainPixels(plain, progressive);
  }
}

}  // namespace
