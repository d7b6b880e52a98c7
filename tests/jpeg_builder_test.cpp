// The test-only stream builder: its segment layout, its options, and its
// pictures as an independent decoder (stb_image) sees them.
#include "support/jpeg_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "support/images.h"

namespace {

using iffjpeg_test::BuildJpeg;
using iffjpeg_test::ColourOptions;
using iffjpeg_test::GreyOptions;
using iffjpeg_test::Image;
using iffjpeg_test::JpegBuildOptions;
using iffjpeg_test::JpegSegment;
using iffjpeg_test::ListSegments;
using iffjpeg_test::MakeTestImage;

std::vector<int> Markers(const std::vector<JpegSegment>& segments) {
  std::vector<int> markers;
  for (const auto& s : segments) markers.push_back(s.marker);
  return markers;
}

std::vector<JpegSegment> OfMarker(const std::vector<JpegSegment>& segments, int marker) {
  std::vector<JpegSegment> out;
  for (const auto& s : segments) {
    if (s.marker == marker) out.push_back(s);
  }
  return out;
}

// One plane of an image: the grey samples, or the JFIF Y, Cb or Cr of RGB.
std::vector<double> Plane(const Image& image, int plane) {
  static const double kWeights[3][3] = {
      {0.299, 0.587, 0.114}, {-0.168736, -0.331264, 0.5}, {0.5, -0.418688, -0.081312}};
  std::vector<double> out;
  for (std::size_t i = 0; i < image.pixels.size(); i += image.channels) {
    const uint8_t* p = &image.pixels[i];
    out.push_back(image.channels == 1 ? p[0]
                                      : kWeights[plane][0] * p[0] + kWeights[plane][1] * p[1] +
                                            kWeights[plane][2] * p[2]);
  }
  return out;
}

double PlanePsnr(const std::vector<double>& a, const std::vector<double>& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * a.size() / sum);
}

// What stb_image makes of a file, against the source: PSNR over all RGB or
// grey samples, and per Y/Cb/Cr plane, so that the luminance coding is judged
// apart from the detail that chroma downsampling removes on purpose.
struct StbResult {
  bool decoded = false;
  double all = 0, y = 0, cb = 0, cr = 0;
};

StbResult StbCompare(const Image& source, const std::vector<uint8_t>& jpeg) {
  StbResult result;
  Image decoded;
  if (!iffjpeg_test::StbDecode(jpeg, &decoded) || decoded.width != source.width ||
      decoded.height != source.height || decoded.channels != source.channels) {
    return result;
  }
  result.decoded = true;
  result.all = iffjpeg_test::Psnr(source, decoded);
  result.y = PlanePsnr(Plane(source, 0), Plane(decoded, 0));
  if (source.channels == 3) {
    result.cb = PlanePsnr(Plane(source, 1), Plane(decoded, 1));
    result.cr = PlanePsnr(Plane(source, 2), Plane(decoded, 2));
  }
  return result;
}

TEST(JpegBuilderStructure, GreyDefaultLayout) {
  Image image = MakeTestImage(17, 9, 1, 1);
  auto segments = ListSegments(BuildJpeg(image, JpegBuildOptions{}));
  EXPECT_EQ(Markers(segments), (std::vector<int>{0xD8, 0xE0, 0xDB, 0xC0, 0xC4, 0xC4, 0xDA, 0xD9}));
  EXPECT_EQ(segments[1].payload,
            (std::vector<uint8_t>{'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}));
  EXPECT_EQ(segments[2].payload.size(), 65u);
  EXPECT_EQ(segments[2].payload[0], 0x00);
  EXPECT_EQ(segments[2].payload[1], 8);  // quality 75: first luminance quantizer
  EXPECT_EQ(segments[3].payload, (std::vector<uint8_t>{8, 0, 9, 0, 17, 1, 1, 0x11, 0}));
  EXPECT_EQ(segments[4].payload.size(), 29u);   // DC 0: 17 + 12 symbols
  EXPECT_EQ(segments[5].payload.size(), 179u);  // AC 0: 17 + 162 symbols
  EXPECT_EQ(segments[6].payload, (std::vector<uint8_t>{1, 1, 0x00, 0x00, 0x3F, 0x00}));
}

TEST(JpegBuilderStructure, ColourDefaultLayout) {
  Image image = MakeTestImage(33, 20, 3, 2);
  auto segments = ListSegments(BuildJpeg(image, JpegBuildOptions{}));
  EXPECT_EQ(Markers(segments),
            (std::vector<int>{0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA, 0xD9}));
  EXPECT_EQ(segments[3].payload[0], 0x01);
  EXPECT_EQ(segments[3].payload[1], 9);  // quality 75: first chrominance quantizer
  EXPECT_EQ(segments[4].payload,
            (std::vector<uint8_t>{8, 0, 20, 0, 33, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1}));
  std::vector<int> tableBytes;
  for (int i = 5; i < 9; ++i) tableBytes.push_back(segments[i].payload[0]);
  EXPECT_EQ(tableBytes, (std::vector<int>{0x00, 0x10, 0x01, 0x11}));
  EXPECT_EQ(segments[9].payload,
            (std::vector<uint8_t>{3, 1, 0x00, 2, 0x11, 3, 0x11, 0x00, 0x3F, 0x00}));
}

// A typo in the Annex K tables would still give a decodable file for most
// images; every AC table must code each of the 162 run/size symbols once.
TEST(JpegBuilderStructure, HuffmanTablesAreComplete) {
  auto segments = ListSegments(BuildJpeg(MakeTestImage(8, 8, 3, 3), JpegBuildOptions{}));
  for (const auto& dht : OfMarker(segments, 0xC4)) {
    const auto& p = dht.payload;
    int total = 0;
    for (int i = 1; i <= 16; ++i) total += p[i];
    ASSERT_EQ(p.size(), 17u + total);
    std::set<int> symbols(p.begin() + 17, p.end());
    EXPECT_EQ(symbols.size(), static_cast<std::size_t>(total)) << "table " << int(p[0]);
    if (p[0] & 0x10) {
      EXPECT_EQ(total, 162);
      for (int run = 0; run < 16; ++run) {
        for (int size = 1; size <= 10; ++size) EXPECT_TRUE(symbols.count(run << 4 | size));
      }
      EXPECT_TRUE(symbols.count(0x00) && symbols.count(0xF0));
    } else {
      EXPECT_EQ(symbols, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    }
    // Kraft: the codes of each length fit the space the shorter ones leave.
    long space = 1;
    for (int length = 1; length <= 16; ++length) {
      space = space * 2 - p[length];
      EXPECT_GE(space, 1) << "length " << length;  // all-ones code stays unused
    }
  }
}

TEST(JpegBuilderStructure, HeaderOptionsAreWrittenAsGiven) {
  Image image = MakeTestImage(20, 10, 3, 4);
  JpegBuildOptions options = ColourOptions(1, 1);
  options.frameMarker = 0xC1;
  options.dataPrecision = 12;
  options.sixteenBitQuant = true;
  options.tablesInOneSegment = true;
  options.jfifMajor = 2;
  options.jfifMinor = 7;
  options.densityUnit = 2;
  options.xDensity = 300;
  options.yDensity = 150;
  options.extraSegments = {{0xFF, 0xE1, 0x00, 0x04, 1, 2}, {0xFF, 0xFE, 0x00, 0x03, 'x'}};
  options.writeEoi = false;
  std::vector<uint8_t> jpeg = BuildJpeg(image, options);
  auto segments = ListSegments(jpeg);
  EXPECT_EQ(Markers(segments), (std::vector<int>{0xD8, 0xE0, 0xE1, 0xFE, 0xDB, 0xC1, 0xC4, 0xDA}));
  EXPECT_EQ(segments[1].payload,
            (std::vector<uint8_t>{'J', 'F', 'I', 'F', 0, 2, 7, 2, 0x01, 0x2C, 0x00, 0x96, 0, 0}));
  EXPECT_EQ(segments[2].payload, (std::vector<uint8_t>{1, 2}));
  const auto& dqt = segments[4].payload;  // two 16-bit tables: 2 x 129 bytes
  ASSERT_EQ(dqt.size(), 258u);
  EXPECT_EQ(dqt[0], 0x10);
  EXPECT_EQ(dqt[1] << 8 | dqt[2], 8);
  EXPECT_EQ(dqt[129], 0x11);
  EXPECT_EQ(dqt[130] << 8 | dqt[131], 9);
  EXPECT_EQ(segments[5].payload[0], 12);
  EXPECT_EQ(segments[6].payload.size(), 2u * (29 + 179));  // four tables in one DHT
  EXPECT_NE(jpeg[jpeg.size() - 2] << 8 | jpeg.back(), 0xFFD9);

  options = GreyOptions();
  options.jfif = false;
  options.quality = 1;  // quantizers beyond 8 bits are held at 255
  segments = ListSegments(BuildJpeg(MakeTestImage(8, 8, 1, 4), options));
  EXPECT_EQ(Markers(segments), (std::vector<int>{0xD8, 0xDB, 0xC0, 0xC4, 0xC4, 0xDA, 0xD9}));
  EXPECT_EQ(segments[1].payload[1], 255);
}

// Slot numbers choose the tables; slots above 1 carry copies of 0 (even) or
// 1 (odd), and are written under their own numbers.
TEST(JpegBuilderStructure, TableSlotsFollowTheComponents) {
  JpegBuildOptions options = ColourOptions(2, 2);
  options.components[0].quantTable = 2;
  options.components[1].dcTable = 3;
  options.components[2].acTable = 2;
  auto segments = ListSegments(BuildJpeg(MakeTestImage(16, 16, 3, 6), options));
  auto dqt = OfMarker(segments, 0xDB);
  ASSERT_EQ(dqt.size(), 2u);
  EXPECT_EQ(dqt[0].payload[0], 0x01);
  EXPECT_EQ(dqt[1].payload[0], 0x02);
  EXPECT_EQ(dqt[1].payload[1], 8);  // a luminance copy
  std::vector<int> dht;
  for (const auto& s : OfMarker(segments, 0xC4)) dht.push_back(s.payload[0]);
  EXPECT_EQ(dht, (std::vector<int>{0x00, 0x10, 0x03, 0x11, 0x01, 0x12}));
  EXPECT_EQ(OfMarker(segments, 0xDA)[0].payload,
            (std::vector<uint8_t>{3, 1, 0x00, 2, 0x31, 3, 0x12, 0x00, 0x3F, 0x00}));
  Image decoded;
  EXPECT_TRUE(iffjpeg_test::StbDecode(BuildJpeg(MakeTestImage(16, 16, 3, 6), options), &decoded));
}

TEST(JpegBuilderStructure, RestartMarkersCycleAndCanBeOverridden) {
  // 4:2:0 at 70x20: 5 x 2 = 10 MCUs; interval 1 gives RST0..7, RST0 and no
  // marker after the last MCU.
  Image image = MakeTestImage(70, 20, 3, 8);
  JpegBuildOptions options = ColourOptions(2, 2);
  options.restartInterval = 1;
  auto segments = ListSegments(BuildJpeg(image, options));
  auto dri = OfMarker(segments, 0xDD);
  ASSERT_EQ(dri.size(), 1u);
  EXPECT_EQ(dri[0].payload, (std::vector<uint8_t>{0, 1}));
  std::vector<int> markers = Markers(segments);
  std::vector<int> afterSos(std::find(markers.begin(), markers.end(), 0xDA) + 1, markers.end());
  EXPECT_EQ(afterSos,
            (std::vector<int>{0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD0, 0xD9}));

  options.restartInterval = 3;  // 10 MCUs: markers after MCUs 3, 6, 9
  options.restartMarkerOverride = {{1, 0xD5}, {2, 0xD9}};
  markers = Markers(ListSegments(BuildJpeg(image, options)));
  afterSos.assign(std::find(markers.begin(), markers.end(), 0xDA) + 1, markers.end());
  EXPECT_EQ(afterSos, (std::vector<int>{0xD0, 0xD5, 0xD9}));
}

TEST(JpegBuilderStructure, FillBytesStandBeforeEveryMarkerButSoi) {
  JpegBuildOptions options = GreyOptions();
  options.fillBytes = true;
  options.restartInterval = 2;
  std::vector<uint8_t> jpeg = BuildJpeg(MakeTestImage(40, 8, 1, 9), options);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);
  EXPECT_NE(jpeg[2], 0xD8);
  auto segments = ListSegments(jpeg);
  EXPECT_EQ(Markers(segments),
            (std::vector<int>{0xD8, 0xE0, 0xDB, 0xC0, 0xC4, 0xC4, 0xDD, 0xDA, 0xD0, 0xD1, 0xD9}));
  for (std::size_t i = 1; i < segments.size(); ++i) {
    std::size_t at = segments[i].offset;
    ASSERT_GE(at, 2u);
    EXPECT_EQ(jpeg[at - 1] & jpeg[at - 2], 0xFF) << "marker " << segments[i].marker;
  }
}

// Tables and intervals not yet in force are written before the scan that
// first needs them.
TEST(JpegBuilderStructure, SeparateScansCarryTheirOwnTablesAndIntervals) {
  JpegBuildOptions options = ColourOptions(2, 2);
  options.scans = {{0}, {1, 2}};
  options.scanRestartInterval = {{1, 2}};
  Image image = MakeTestImage(64, 32, 3, 10);
  auto segments = ListSegments(BuildJpeg(image, options));
  std::vector<int> markers = Markers(segments);
  markers.erase(
      std::remove_if(markers.begin(), markers.end(), [](int m) { return m >= 0xD0 && m <= 0xD7; }),
      markers.end());
  EXPECT_EQ(markers, (std::vector<int>{0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xDA, 0xC4, 0xC4,
                                       0xDD, 0xDA, 0xD9}));
  auto sos = OfMarker(segments, 0xDA);
  EXPECT_EQ(sos[0].payload, (std::vector<uint8_t>{1, 1, 0x00, 0x00, 0x3F, 0x00}));
  EXPECT_EQ(sos[1].payload, (std::vector<uint8_t>{2, 2, 0x11, 3, 0x11, 0x00, 0x3F, 0x00}));
  // The luminance scan has no interval; the chroma scan is interleaved over
  // 4 x 2 MCUs of 16x16 pixels, so interval 2 puts markers after MCUs 2, 4, 6.
  std::vector<int> all = Markers(segments);
  std::vector<int> afterSecondSos(std::find(all.begin(), all.end(), 0xDD), all.end());
  EXPECT_EQ(afterSecondSos, (std::vector<int>{0xDD, 0xDA, 0xD0, 0xD1, 0xD2, 0xD9}));
}

// stb_image as an independent judge of the pictures, one layout per case:
// the luminance (or grey) plane must reach minY, each chroma plane minChroma.
struct StbCase {
  const char* name;
  int width, height, channels;
  JpegBuildOptions options;
  double minY, minChroma;
};

void ExpectStbDecodes(const StbCase& c) {
  Image image = MakeTestImage(c.width, c.height, c.channels, 7);
  StbResult r = StbCompare(image, BuildJpeg(image, c.options));
  std::printf("[ builder  ] %-22s %3dx%-3d q%-3d all %5.2f  Y %5.2f  Cb %5.2f  Cr %5.2f dB\n",
              c.name, c.width, c.height, c.options.quality, r.all, r.y, r.cb, r.cr);
  ASSERT_TRUE(r.decoded) << c.name << ": stb_image refused the file";
  EXPECT_GT(r.y, c.minY) << c.name;
  if (c.channels == 3) {
    EXPECT_GT(r.cb, c.minChroma) << c.name;
    EXPECT_GT(r.cr, c.minChroma) << c.name;
  }
}

JpegBuildOptions WithQuality(JpegBuildOptions options, int quality) {
  options.quality = quality;
  return options;
}

JpegBuildOptions SixteenBit(JpegBuildOptions options) {
  options.sixteenBitQuant = true;
  return options;
}

TEST(JpegBuilderStb, GreyAndColourInterleaved) {
  const StbCase cases[] = {
      {"grey", 100, 50, 1, WithQuality(GreyOptions(), 75), 30, 0},
      {"grey", 100, 50, 1, WithQuality(GreyOptions(), 95), 40, 0},
      {"grey", 1, 1, 1, GreyOptions(), 30, 0},
      {"grey 16-bit DQT", 100, 50, 1, SixteenBit(WithQuality(GreyOptions(), 10)), 25, 0},
      {"grey", 100, 50, 1, WithQuality(GreyOptions(), 100), 50, 0},
      {"4:4:4", 100, 50, 3, WithQuality(ColourOptions(1, 1), 95), 40, 40},
      {"4:2:0", 100, 50, 3, WithQuality(ColourOptions(2, 2), 75), 30, 30},
      {"4:2:0", 100, 50, 3, WithQuality(ColourOptions(2, 2), 95), 40, 30},
      {"4:2:0", 17, 9, 3, WithQuality(ColourOptions(2, 2), 95), 40, 25},
  };
  for (const auto& c : cases) ExpectStbDecodes(c);
}

TEST(JpegBuilderStb, EverySamplingLayout) {
  struct Layout {
    const char* name;
    JpegBuildOptions options;
  };
  JpegBuildOptions odd = ColourOptions(2, 2, 1, 2);
  const Layout layouts[] = {
      {"grey 2x2", GreyOptions(2, 2)}, {"4:2:2", ColourOptions(2, 1)},
      {"4:4:0", ColourOptions(1, 2)},  {"4:1:1", ColourOptions(4, 1)},
      {"4:1:0", ColourOptions(4, 2)},  {"2x2,1x2,1x2", odd},
  };
  for (const auto& layout : layouts) {
    int channels = layout.options.components.size() == 1 ? 1 : 3;
    for (auto [w, h] : {std::pair{100, 50}, std::pair{17, 9}}) {
      ExpectStbDecodes({layout.name, w, h, channels, WithQuality(layout.options, 90), 36, 20});
    }
  }
}

// Options that change the bytes but not one coefficient must decode to the
// very same picture.
TEST(JpegBuilderStb, LosslessVariantsDecodeIdentically) {
  struct Variant {
    const char* name;
    void (*apply)(JpegBuildOptions&);
  };
  const Variant variants[] = {
      {"restart 1", [](JpegBuildOptions& o) { o.restartInterval = 1; }},
      {"restart 3", [](JpegBuildOptions& o) { o.restartInterval = 3; }},
      {"16-bit DQT", [](JpegBuildOptions& o) { o.sixteenBitQuant = true; }},
      {"one DQT, one DHT", [](JpegBuildOptions& o) { o.tablesInOneSegment = true; }},
      {"fill bytes", [](JpegBuildOptions& o) { o.fillBytes = true; }},
      {"fill bytes, restart 2",
       [](JpegBuildOptions& o) {
         o.fillBytes = true;
         o.restartInterval = 2;
       }},
      {"SOF1", [](JpegBuildOptions& o) { o.frameMarker = 0xC1; }},
      // A lone component is coded non-interleaved whatever its factors.
      {"factors 2x2",
       [](JpegBuildOptions& o) {
         if (o.components.size() == 1) o.components[0].h = o.components[0].v = 2;
       }},
      {"no JFIF, COM", [](JpegBuildOptions& o) {
         o.jfif = false;
         o.extraSegments = {{0xFF, 0xFE, 0x00, 0x05, 'a', 'b', 'c'}};
       }}};
  for (int channels : {1, 3}) {
    Image image = MakeTestImage(45, 37, channels, 11);
    JpegBuildOptions base = channels == 1 ? GreyOptions() : ColourOptions(2, 2);
    Image reference;
    ASSERT_TRUE(iffjpeg_test::StbDecode(BuildJpeg(image, base), &reference));
    for (const auto& variant : variants) {
      JpegBuildOptions options = base;
      variant.apply(options);
      Image decoded;
      ASSERT_TRUE(iffjpeg_test::StbDecode(BuildJpeg(image, options), &decoded)) << variant.name;
      EXPECT_EQ(decoded.pixels, reference.pixels) << variant.name << ", channels " << channels;
    }
  }
}

// The same coefficients, coded in one scan or in several (T.81 A.2.2: a lone
// component covers ceil(width/8) blocks, not the MCU grid).
TEST(JpegBuilderStb, SeparateScansDecodeLikeInterleaved) {
  struct Split {
    const char* name;
    std::vector<std::vector<int>> scans;
  };
  const Split splits[] = {
      {"Y, Cb, Cr", {{0}, {1}, {2}}}, {"Y, CbCr", {{0}, {1, 2}}}, {"Cr, Cb, Y", {{2}, {1}, {0}}}};
  for (const auto& layout : {ColourOptions(2, 2), ColourOptions(2, 1), ColourOptions(1, 1)}) {
    Image image = MakeTestImage(41, 23, 3, 5);
    Image reference;
    ASSERT_TRUE(iffjpeg_test::StbDecode(BuildJpeg(image, layout), &reference));
    for (const auto& split : splits) {
      for (int interval : {0, 2}) {
        JpegBuildOptions options = layout;
        options.scans = split.scans;
        options.restartInterval = interval;
        Image decoded;
        bool ok = iffjpeg_test::StbDecode(BuildJpeg(image, options), &decoded);
        ASSERT_TRUE(ok) << split.name << ": stb_image refused the file";
        EXPECT_EQ(decoded.pixels, reference.pixels) << split.name << ", restart " << interval;
      }
    }
  }
}

}  // namespace
