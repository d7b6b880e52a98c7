// Resolution and quality through IFFControl: queried from the JFIF segment
// of a file being read, carried into the file being written.
#include <gtest/gtest.h>

#include <vector>

#include "iffjpeg.h"
#include "support/images.h"
#include "support/jpeg_builder.h"
#include "support/memory_file.h"

namespace {

using iffjpeg_test::BuildJpeg;
using iffjpeg_test::FindMarker;
using iffjpeg_test::GreyOptions;
using iffjpeg_test::JpegBuildOptions;
using iffjpeg_test::MakeTestImage;
using iffjpeg_test::MemoryFile;

struct Query {
  int32_t result;
  int32_t slots[2];
};

Query QueryResolution(const JpegBuildOptions& options, int32_t value) {
  std::vector<uint8_t> jpeg = BuildJpeg(MakeTestImage(8, 8, 1, 1), options);
  MemoryFile file(jpeg);
  IFFImageInfo info{};
  int32_t h = IFFOpen(file.source(), IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
  EXPECT_GT(h, 0);
  Query q{-1, {-5, -5}};
  if (h <= 0) return q;
  q.result = IFFControl(h, IFF_CTL_RESOLUTION, value, 0, q.slots);
  EXPECT_EQ(IFFClose(h), 0);
  return q;
}

JpegBuildOptions Density(int unit, int x, int y, bool jfif = true) {
  JpegBuildOptions o = GreyOptions();
  o.jfif = jfif;
  o.densityUnit = static_cast<uint8_t>(unit);
  o.xDensity = static_cast<uint16_t>(x);
  o.yDensity = static_cast<uint16_t>(y);
  return o;
}

TEST(ControlResolution, QueryFollowsTheDensityUnit) {
  struct Case {
    JpegBuildOptions options;
    int32_t h, v;
  } cases[] = {
      {Density(0, 1, 1, false), 300, 300},  // no JFIF segment
      {Density(0, 2, 1), 300, 150},         // aspect ratio only
      {Density(0, 0, 7), 300, 300},         // no division by zero
      {Density(1, 300, 600), 300, 600},     // dots per inch
      {Density(2, 118, 72), 299, 182},      // dots per cm, truncated products
      {Density(2, 72, 72), 182, 182},
  };
  for (const Case& c : cases) {
    Query q = QueryResolution(c.options, 3);
    EXPECT_EQ(q.result, 0);
    EXPECT_EQ(q.slots[0], c.h);
    EXPECT_EQ(q.slots[1], c.v);
  }
  // One flag: only the first slot is written.
  Query vertical = QueryResolution(Density(1, 300, 600), 2);
  EXPECT_EQ(vertical.slots[0], 600);
  EXPECT_EQ(vertical.slots[1], -5);
  Query horizontal = QueryResolution(Density(1, 300, 600), 1 | 0x10000);
  EXPECT_EQ(horizontal.slots[0], 300);
  EXPECT_EQ(horizontal.slots[1], -5);
  Query none = QueryResolution(Density(1, 300, 600), 0);
  EXPECT_EQ(none.result, 0);
  EXPECT_EQ(none.slots[0], -5);
}

TEST(ControlResolution, UnknownUnitStoresNothing) {
  Query q = QueryResolution(Density(3, 10, 10), 3);
  EXPECT_EQ(q.result, 4);
  EXPECT_EQ(q.slots[0], -5);
  EXPECT_EQ(q.slots[1], -5);
}

TEST(ControlResolution, ReadHandlesRefuseQuality) {
  std::vector<uint8_t> jpeg = BuildJpeg(MakeTestImage(8, 8, 1, 1), GreyOptions());
  for (int32_t mode : {IFF_MODE_READ, IFF_MODE_READ_NOSEEK}) {
    MemoryFile file(jpeg);
    IFFImageInfo info{};
    int32_t h = IFFOpen(file.source(), mode | IFF_MODE_CALLBACKS, &info);
    ASSERT_GT(h, 0);
    EXPECT_EQ(IFFControl(h, IFF_CTL_QUALITY, 50, 0, nullptr), 2);
    if (mode == IFF_MODE_READ_NOSEEK) {
      // Mode 3 takes the setting branch, which reaches no file.
      int32_t slots[2] = {200, 100};
      EXPECT_EQ(IFFControl(h, IFF_CTL_RESOLUTION, 3, 0, slots), 0);
      EXPECT_EQ(slots[0], 200);
    }
    EXPECT_EQ(IFFClose(h), 0);
  }
}

// The JFIF APP0 payload of a written file: unit, x density, y density.
std::vector<int> WrittenDensity(int32_t value, std::vector<int32_t> slots) {
  MemoryFile file;
  IFFImageInfo info{};
  info.width = 16;
  info.height = 16;
  info.planes = 3;
  info.bitsPerSample = 8;
  int32_t h = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  EXPECT_GT(h, 0);
  EXPECT_EQ(IFFControl(h, IFF_CTL_RESOLUTION, value, 0, slots.data()), 0);
  std::vector<uint8_t> line(48, 128);
  for (int y = 0; y < 16; ++y) EXPECT_EQ(IFFPutLine(h, 1, line.data()), 0);
  EXPECT_EQ(IFFClose(h), 0);
  long app0 = FindMarker(file.data, 0xE0);
  EXPECT_EQ(app0, 2);
  const uint8_t* p = file.data.data() + app0 + 4 + 7;  // marker, length, "JFIF\0", version
  return {p[0], p[1] << 8 | p[2], p[3] << 8 | p[4]};
}

TEST(ControlResolution, SettingReachesTheJfifSegment) {
  EXPECT_EQ(WrittenDensity(3, {200, 100}), (std::vector<int>{1, 200, 100}));
  EXPECT_EQ(WrittenDensity(3, {300, 150}), (std::vector<int>{1, 0x012C, 0x0096}));
  EXPECT_EQ(WrittenDensity(2, {72, 0}), (std::vector<int>{1, 1, 72}));
  EXPECT_EQ(WrittenDensity(0, {0, 0}), (std::vector<int>{1, 1, 1})) << "the unit becomes 1 always";
  EXPECT_EQ(WrittenDensity(0x8000 | 1, {0x10096, 0}), (std::vector<int>{1, 0x96, 1}));
}

TEST(ControlQuality, QualityReachesTheQuantizationTables) {
  for (int32_t quality : {90, 50, 0, -3, 0xFFFF, 150}) {
    MemoryFile file;
    IFFImageInfo info{};
    info.width = 8;
    info.height = 8;
    info.planes = 1;
    info.bitsPerSample = 8;
    int32_t h = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
    ASSERT_GT(h, 0);
    ASSERT_EQ(IFFControl(h, IFF_CTL_QUALITY, quality, 0, nullptr), 0);
    ASSERT_EQ(IFFPutLine(h, 0, nullptr), 0);
    ASSERT_EQ(IFFClose(h), 0);
    long dqt = FindMarker(file.data, 0xDB);
    ASSERT_GT(dqt, 0);
    // First luminance quantizer 16, scaled: 90 -> 3, 50 -> 16, 0/-3/-1 -> 800
    // (quality 1, 16-bit table), above 100 -> 1.
    int pq = file.data[static_cast<std::size_t>(dqt) + 4] >> 4;
    int first = pq ? (file.data[static_cast<std::size_t>(dqt) + 5] << 8 |
                      file.data[static_cast<std::size_t>(dqt) + 6])
                   : file.data[static_cast<std::size_t>(dqt) + 5];
    int expected = quality == 90 ? 3 : quality == 50 ? 16 : quality == 150 ? 1 : 800;
    EXPECT_EQ(first, expected) << quality;
  }
}

TEST(ControlLastError, ReportsTheFailedLinesCode) {
  MemoryFile file;
  file.failWriteFromCall = 1;
  IFFImageInfo info{};
  info.width = 1024;
  info.height = 512;
  info.planes = 3;
  info.bitsPerSample = 8;
  int32_t h = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  ASSERT_GT(h, 0);
  ASSERT_EQ(IFFControl(h, IFF_CTL_QUALITY, 100, 0, nullptr), 0);
  iffjpeg_test::Image img = MakeTestImage(1024, 512, 3, 11);
  int32_t failed = 0;
  for (int y = 0; y < 512 && failed == 0; ++y) failed = IFFPutLine(h, 1, img.row(y));
  ASSERT_EQ(failed, 11);
  int32_t last = 0;
  ASSERT_EQ(IFFControl(h, IFF_CTL_LAST_ERROR, 0, 0, &last), 0);
  EXPECT_EQ(last, 11);
  EXPECT_EQ(IFFPutLine(h, 1, img.row(0)), 11);
  EXPECT_EQ(IFFClose(h), 11);
}

}  // namespace
