// IFFSeek forwards and backwards: lines read after any seek equal a fresh
// decode's, for every layout and with restart intervals, through memory
// callbacks and through the default (file system) callbacks.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "iffjpeg.h"
#include "support/images.h"
#include "support/jpeg_builder.h"
#include "support/memory_file.h"

namespace {

using iffjpeg_test::BuildJpeg;
using iffjpeg_test::ColourOptions;
using iffjpeg_test::GreyOptions;
using iffjpeg_test::Image;
using iffjpeg_test::JpegBuildOptions;
using iffjpeg_test::MakeTestImage;
using iffjpeg_test::MemoryFile;

struct Opened {
  int32_t handle;
  IFFImageInfo info;
  std::size_t stride() const { return static_cast<std::size_t>(info.width) * info.planes; }
};

Opened OpenMemory(MemoryFile& file, int32_t mode = IFF_MODE_READ) {
  Opened o{};
  o.handle = IFFOpen(file.source(), mode | IFF_MODE_CALLBACKS, &o.info);
  return o;
}

// Every line of a fresh decode, one call per line.
std::vector<std::vector<uint8_t>> DecodeLines(const std::vector<uint8_t>& jpeg) {
  MemoryFile file(jpeg);
  Opened o = OpenMemory(file);
  EXPECT_GT(o.handle, 0);
  std::vector<std::vector<uint8_t>> lines;
  if (o.handle <= 0) return lines;
  for (int32_t y = 0; y < o.info.height; ++y) {
    std::vector<uint8_t> line(o.stride());
    EXPECT_EQ(IFFGetLine(o.handle, 1, line.data()), 0);
    lines.push_back(std::move(line));
  }
  EXPECT_EQ(IFFClose(o.handle), 0);
  return lines;
}

// Reads lines [from, to) of an open handle and compares them with expected.
void ExpectLines(const Opened& o, const std::vector<std::vector<uint8_t>>& expected, int32_t from,
                 int32_t to) {
  std::vector<uint8_t> line(o.stride());
  for (int32_t y = from; y < to; ++y) {
    ASSERT_EQ(IFFGetLine(o.handle, 1, line.data()), 0) << "line " << y;
    ASSERT_EQ(line, expected[static_cast<std::size_t>(y)]) << "line " << y;
  }
}

struct Layout {
  const char* name;
  JpegBuildOptions options;
  int channels;
};

std::vector<Layout> Layouts() {
  JpegBuildOptions restart = ColourOptions(2, 2);
  restart.restartInterval = 3;
  JpegBuildOptions greyTall = GreyOptions(1, 2);
  return {
      {"grey", GreyOptions(), 1},          {"grey 1x2", greyTall, 1},
      {"4:4:4", ColourOptions(1, 1), 3},   {"4:2:2", ColourOptions(2, 1), 3},
      {"4:2:0", ColourOptions(2, 2), 3},   {"4:1:1", ColourOptions(4, 1), 3},
      {"4:2:0 restart 3", restart, 3},
  };
}

TEST(DriverSeek, BackwardSeeksGiveTheLinesOfAFreshDecode) {
  for (const Layout& layout : Layouts()) {
    SCOPED_TRACE(layout.name);
    Image img = MakeTestImage(45, 53, layout.channels, 7);
    std::vector<uint8_t> jpeg = BuildJpeg(img, layout.options);
    auto expected = DecodeLines(jpeg);
    ASSERT_EQ(expected.size(), 53u);

    MemoryFile file(jpeg);
    Opened o = OpenMemory(file);
    ASSERT_GT(o.handle, 0);
    ExpectLines(o, expected, 0, 53);
    ASSERT_EQ(IFFSeek(o.handle, 0), 0);  // after the end, back to the top
    ExpectLines(o, expected, 0, 20);
    ASSERT_EQ(IFFSeek(o.handle, 17), 0);  // into the middle, backwards
    ExpectLines(o, expected, 17, 40);
    ASSERT_EQ(IFFSeek(o.handle, 50), 0);  // forwards
    ExpectLines(o, expected, 50, 53);
    ASSERT_EQ(IFFSeek(o.handle, 1), 0);
    ExpectLines(o, expected, 1, 3);
    EXPECT_GE(file.seekCalls, 3);
    EXPECT_EQ(IFFClose(o.handle), 0);
  }
}

TEST(DriverSeek, ForwardSeekDecodesTheSkippedLines) {
  Image img = MakeTestImage(64, 40, 3, 3);
  std::vector<uint8_t> jpeg = BuildJpeg(img, ColourOptions(2, 2));
  auto expected = DecodeLines(jpeg);
  MemoryFile file(jpeg);
  Opened o = OpenMemory(file);
  ASSERT_GT(o.handle, 0);
  EXPECT_EQ(IFFSeek(o.handle, 0), 0);  // the current line: nothing happens
  EXPECT_EQ(file.seekCalls, 0);
  ASSERT_EQ(IFFSeek(o.handle, 23), 0);
  ExpectLines(o, expected, 23, 40);
  EXPECT_EQ(file.seekCalls, 0) << "a forward seek never rewinds";
  EXPECT_EQ(IFFClose(o.handle), 0);
}

TEST(DriverSeek, RefusedTargetsAndModes) {
  Image img = MakeTestImage(16, 16, 1, 1);
  std::vector<uint8_t> jpeg = BuildJpeg(img, GreyOptions());
  MemoryFile file(jpeg);
  Opened o = OpenMemory(file);
  ASSERT_GT(o.handle, 0);
  EXPECT_EQ(IFFSeek(o.handle, -1), 2);
  EXPECT_EQ(IFFClose(o.handle), 0);

  MemoryFile again(jpeg);
  Opened noSeek = OpenMemory(again, IFF_MODE_READ_NOSEEK);
  ASSERT_GT(noSeek.handle, 0);
  EXPECT_EQ(IFFSeek(noSeek.handle, 0), 2);
  EXPECT_EQ(IFFSeek(noSeek.handle, 3), 2);
  EXPECT_EQ(IFFClose(noSeek.handle), 0);
}

TEST(DriverSeek, FailingSeekCallbackLeavesTheHandleReadingForward) {
  Image img = MakeTestImage(40, 40, 3, 5);
  std::vector<uint8_t> jpeg = BuildJpeg(img, ColourOptions(2, 2));
  auto expected = DecodeLines(jpeg);
  MemoryFile file(jpeg);
  file.failSeek = true;
  Opened o = OpenMemory(file);
  ASSERT_GT(o.handle, 0);
  ExpectLines(o, expected, 0, 10);
  EXPECT_EQ(IFFSeek(o.handle, 2), 3);
  int32_t last = -1;
  ASSERT_EQ(IFFControl(o.handle, IFF_CTL_LAST_ERROR, 0, 0, &last), 0);
  EXPECT_EQ(last, 3);
  ExpectLines(o, expected, 10, 40);
  EXPECT_EQ(IFFClose(o.handle), 0) << "the lines read afterwards recorded 0";
}

TEST(DriverSeek, MultiScanFilesRewindThroughTheSeekCallbackToo) {
  Image img = MakeTestImage(40, 40, 3, 6);
  JpegBuildOptions options = ColourOptions(2, 2);
  options.scans = {{0}, {1}, {2}};
  std::vector<uint8_t> jpeg = BuildJpeg(img, options);
  auto expected = DecodeLines(jpeg);
  MemoryFile file(jpeg);
  Opened o = OpenMemory(file);
  ASSERT_GT(o.handle, 0);
  ExpectLines(o, expected, 0, 12);
  ASSERT_EQ(IFFSeek(o.handle, 3), 0);
  EXPECT_EQ(file.seekCalls, 1);
  ExpectLines(o, expected, 3, 20);
  file.failSeek = true;
  EXPECT_EQ(IFFSeek(o.handle, 0), 3);
  ExpectLines(o, expected, 20, 40);
  EXPECT_EQ(IFFClose(o.handle), 0);
}

TEST(DriverSeek, FileChangedUnderneathFailsTheHandleUntilClose) {
  Image img = MakeTestImage(24, 24, 3, 2);
  std::vector<uint8_t> jpeg = BuildJpeg(img, ColourOptions(2, 2));
  MemoryFile file(jpeg);
  Opened o = OpenMemory(file);
  ASSERT_GT(o.handle, 0);
  std::vector<uint8_t> line(o.stride());
  ASSERT_EQ(IFFGetLine(o.handle, 4, std::vector<uint8_t>(o.stride() * 4).data()), 0);
  file.data.assign({'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'});
  EXPECT_EQ(IFFSeek(o.handle, 1), 7);
  EXPECT_EQ(IFFGetLine(o.handle, 1, line.data()), 7);
  EXPECT_EQ(IFFSeek(o.handle, 3), 7);
  EXPECT_EQ(IFFClose(o.handle), 7);
}

TEST(DriverSeek, BackwardSeekAfterTruncationDecodesTheSameAgain) {
  Image img = MakeTestImage(48, 64, 3, 9);
  std::vector<uint8_t> jpeg = BuildJpeg(img, ColourOptions(2, 2));
  jpeg.resize(jpeg.size() / 2);
  MemoryFile file(jpeg);
  Opened o = OpenMemory(file);
  ASSERT_GT(o.handle, 0);
  std::vector<std::vector<uint8_t>> first;
  std::vector<int32_t> codes;
  for (int32_t y = 0; y < 64; ++y) {
    std::vector<uint8_t> line(o.stride());
    codes.push_back(IFFGetLine(o.handle, 1, line.data()));
    first.push_back(line);
  }
  ASSERT_EQ(IFFSeek(o.handle, 0), 0);
  for (int32_t y = 0; y < 64; ++y) {
    std::vector<uint8_t> line(o.stride());
    EXPECT_EQ(IFFGetLine(o.handle, 1, line.data()), codes[static_cast<std::size_t>(y)]) << y;
    EXPECT_EQ(line, first[static_cast<std::size_t>(y)]) << y;
  }
  IFFClose(o.handle);
}

TEST(DriverSeek, DefaultCallbacksRewindTheRealFile) {
  Image img = MakeTestImage(33, 35, 3, 4);
  std::vector<uint8_t> jpeg = BuildJpeg(img, ColourOptions(2, 1));
  auto expected = DecodeLines(jpeg);
  std::string path = testing::TempDir() + "iffjpeg_seek_test.jpg";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(jpeg.data(), 1, jpeg.size(), f);
  std::fclose(f);
  Opened o{};
  o.handle = IFFOpen(path.c_str(), IFF_MODE_READ, &o.info);
  ASSERT_GT(o.handle, 0);
  ExpectLines(o, expected, 0, 35);
  ASSERT_EQ(IFFSeek(o.handle, 5), 0);
  ExpectLines(o, expected, 5, 35);
  EXPECT_EQ(IFFClose(o.handle), 0);
  std::remove(path.c_str());
}

}  // namespace
