// The entry points' own rules: modes, validation order, handle values,
// line-pointer checks and the close codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "iffjpeg.h"
#include "support/memory_file.h"

namespace {

using iffjpeg_test::MemoryFile;

IFFImageInfo WriteInfo(int32_t width, int32_t height, int32_t planes) {
  IFFImageInfo info{};
  info.width = width;
  info.height = height;
  info.planes = planes;
  info.bitsPerSample = 8;
  info.compression = 0;
  info.clearedOnOpen = 99;
  return info;
}

int32_t OpenMemory(MemoryFile& file, int32_t mode, IFFImageInfo& info) {
  return IFFOpen(file.source(), mode | IFF_MODE_CALLBACKS, &info);
}

TEST(DriverOpen, WriteDescriptionIsCheckedInOrder) {
  struct Case {
    int32_t planes, bits;
    uint32_t compression;
    int32_t width, height;
    int32_t expected;
  } cases[] = {
      {2, 8, 0, 10, 10, -3},  {3, 16, 0, 10, 10, -3}, {3, 8, 5, 10, 10, -3},
      {3, 8, 9, 10, 10, -2},  {3, 8, 8, 10, 10, 1},   {3, 8, 1, 10, 10, 1},
      {2, 16, 9, 10, 10, -3}, {3, 16, 9, 10, 10, -3}, {1, 8, 0xFFFFFFFFu, 10, 10, -2},
      {1, 8, 0, 0, 10, -2},   {1, 8, 0, 10, -1, -2},  {1, 8, 0, 65536, 10, -2},
      {1, 8, 0, 65535, 1, 1}, {2, 8, 0, 0, 0, -3},
  };
  for (const Case& c : cases) {
    MemoryFile file;
    IFFImageInfo info = WriteInfo(c.width, c.height, c.planes);
    info.bitsPerSample = c.bits;
    info.compression = c.compression;
    int32_t h = OpenMemory(file, IFF_MODE_WRITE, info);
    SCOPED_TRACE(testing::Message() << "planes " << c.planes << " bits " << c.bits << " comp "
                                    << c.compression << " w " << c.width << " h " << c.height);
    EXPECT_EQ(info.clearedOnOpen, 0);
    if (c.expected > 0) {
      ASSERT_GT(h, 0);
      EXPECT_EQ(IFFClose(h), 0);
    } else {
      EXPECT_EQ(h, c.expected);
      EXPECT_EQ(file.openCalls, 0) << "a refused description must not open the file";
    }
  }
}

TEST(DriverOpen, ModeTwoValidatesThenRefusesWithoutOpening) {
  MemoryFile file;
  IFFImageInfo info = WriteInfo(8, 8, 3);
  EXPECT_EQ(OpenMemory(file, IFF_MODE_REFUSED, info), -3);
  EXPECT_EQ(file.openCalls, 0);
  info.planes = 2;
  EXPECT_EQ(OpenMemory(file, IFF_MODE_REFUSED, info), -3);
  info = WriteInfo(8, 8, 3);
  info.compression = 12;
  EXPECT_EQ(OpenMemory(file, IFF_MODE_REFUSED, info), -2);
  EXPECT_EQ(file.openCalls, 0);
}

TEST(DriverOpen, ModesAboveThreeAreRefusedBeforeAnyFile) {
  for (int32_t mode : {4, 5, 0x7F, 0x7FFF, 0x0104}) {
    MemoryFile file;
    IFFImageInfo info = WriteInfo(8, 8, 3);
    EXPECT_EQ(OpenMemory(file, mode, info), -3) << mode;
    EXPECT_EQ(file.openCalls, 0);
    EXPECT_EQ(info.clearedOnOpen, 0);
  }
}

TEST(DriverOpen, NullArgumentsAreInvalid) {
  IFFImageInfo info = WriteInfo(8, 8, 3);
  EXPECT_EQ(IFFOpen(nullptr, IFF_MODE_WRITE, &info), -2);
  MemoryFile file;
  EXPECT_EQ(IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, nullptr), -2);
  EXPECT_EQ(file.openCalls, 0);
}

TEST(DriverOpen, ModeBitsSelectDirectionAndCallbacks) {
  MemoryFile file;
  IFFImageInfo info = WriteInfo(8, 8, 1);
  // 0x81: write with the caller's callbacks; open gets the record pointer.
  int32_t h = IFFOpen(file.source(), 0x81, &info);
  ASSERT_GT(h, 0);
  EXPECT_EQ(file.lastOpenSource, static_cast<const void*>(file.source()));
  EXPECT_EQ(file.lastOpenFlags, 0x8302);
  EXPECT_EQ(file.lastOpenPermission, 438);
  EXPECT_EQ(IFFClose(h), 0);

  // 0x8001 | callbacks: bit 15 is ignored, so this is a write as well.
  MemoryFile second;
  h = IFFOpen(second.source(), 0x8001 | IFF_MODE_CALLBACKS, &info);
  ASSERT_GT(h, 0);
  EXPECT_EQ(second.lastOpenFlags, 0x8302);
  EXPECT_EQ(IFFClose(h), 0);

  // 0x8000: a read; an empty file opens for reading (flags 0x8000) and is
  // refused as bad data.
  MemoryFile empty;
  h = IFFOpen(empty.source(), 0x8000 | IFF_MODE_CALLBACKS, &info);
  EXPECT_EQ(h, -7);
  EXPECT_EQ(empty.lastOpenFlags, 0x8000);
  EXPECT_EQ(empty.closeCalls, 1) << "a failed open closes what it opened";
  EXPECT_EQ(info.clearedOnOpen, 0);
}

TEST(DriverOpen, FailingOpenCallbackGivesEight) {
  MemoryFile file;
  file.failOpen = true;
  IFFImageInfo info = WriteInfo(8, 8, 3);
  EXPECT_EQ(OpenMemory(file, IFF_MODE_WRITE, info), -8);
  EXPECT_EQ(OpenMemory(file, IFF_MODE_READ, info), -8);
  EXPECT_EQ(file.closeCalls, 0);
}

TEST(DriverHandles, ValuesThatAreNotLiveHandlesGiveTwo) {
  MemoryFile file;
  IFFImageInfo info = WriteInfo(8, 8, 3);
  int32_t closed = OpenMemory(file, IFF_MODE_WRITE, info);
  ASSERT_GT(closed, 0);
  ASSERT_EQ(IFFClose(closed), 0);
  uint8_t line[64] = {};
  int32_t slot = 0;
  for (int32_t value : {0, -7, 12345, closed, 0x7FFFFFFF, static_cast<int32_t>(0x80000000)}) {
    SCOPED_TRACE(value);
    EXPECT_EQ(IFFClose(value), 2);
    EXPECT_EQ(IFFGetLine(value, 1, line), 2);
    EXPECT_EQ(IFFPutLine(value, 1, line), 2);
    EXPECT_EQ(IFFSeek(value, 0), 2);
    EXPECT_EQ(IFFControl(value, 0, 0, 0, &slot), 2);
  }
}

TEST(DriverHandles, OpenHandlesAreDistinctAndNotReusedAtOnce) {
  std::vector<MemoryFile> files(20);
  std::vector<int32_t> handles;
  for (auto& f : files) {
    IFFImageInfo info = WriteInfo(8, 8, 1);
    int32_t h = OpenMemory(f, IFF_MODE_WRITE, info);
    ASSERT_GT(h, 0);
    for (int32_t other : handles) ASSERT_NE(h, other);
    handles.push_back(h);
  }
  for (int32_t h : handles) ASSERT_EQ(IFFClose(h), 0);
  MemoryFile again;
  IFFImageInfo info = WriteInfo(8, 8, 1);
  int32_t h = OpenMemory(again, IFF_MODE_WRITE, info);
  ASSERT_GT(h, 0);
  for (int32_t old : handles) EXPECT_NE(h, old);
  EXPECT_EQ(IFFClose(h), 0);
}

TEST(DriverLines, WrongDirectionAndNullLinesAreRefused) {
  MemoryFile file;
  IFFImageInfo info = WriteInfo(8, 8, 1);
  int32_t h = OpenMemory(file, IFF_MODE_WRITE, info);
  ASSERT_GT(h, 0);
  uint8_t line[8] = {};
  EXPECT_EQ(IFFGetLine(h, 1, line), 2);
  EXPECT_EQ(IFFSeek(h, 0), 2);
  EXPECT_EQ(IFFPutLine(h, 1, nullptr), 2);
  // The refusal is the handle's last result: code 0 reports it, and so does
  // IFFClose, which returns the last recorded code.
  int32_t last = -1;
  EXPECT_EQ(IFFControl(h, IFF_CTL_LAST_ERROR, 0, 0, &last), 0);
  EXPECT_EQ(last, 2);
  EXPECT_EQ(IFFClose(h), 2);
}

// A null line buffer on a live handle of the right direction is refused
// with 2, and that 2 is what IFFControl code 0 reports afterwards.
TEST(DriverLines, NullLinesAreRecordedAsTheLastError) {
  struct Case {
    const char* name;
    int32_t mode;
  };
  for (const Case& c : {Case{"read", IFF_MODE_READ}, Case{"write", IFF_MODE_WRITE}}) {
    SCOPED_TRACE(c.name);
    MemoryFile file;
    if (c.mode == IFF_MODE_READ) {
      MemoryFile written;
      IFFImageInfo w = WriteInfo(8, 8, 1);
      int32_t out = OpenMemory(written, IFF_MODE_WRITE, w);
      ASSERT_GT(out, 0);
      uint8_t rows[64] = {};
      ASSERT_EQ(IFFPutLine(out, 8, rows), 0);
      ASSERT_EQ(IFFClose(out), 0);
      file.data = written.data;
    }
    IFFImageInfo info = WriteInfo(8, 8, 1);
    int32_t h = OpenMemory(file, c.mode, info);
    ASSERT_GT(h, 0);
    uint8_t first[8] = {};
    ASSERT_EQ(c.mode == IFF_MODE_READ ? IFFGetLine(h, 1, first) : IFFPutLine(h, 1, first), 0);
    int32_t rc = c.mode == IFF_MODE_READ ? IFFGetLine(h, 1, nullptr) : IFFPutLine(h, 1, nullptr);
    EXPECT_EQ(rc, 2);
    int32_t last = -1;
    EXPECT_EQ(IFFControl(h, IFF_CTL_LAST_ERROR, 0, 0, &last), 0);
    EXPECT_EQ(last, 2);
    // The next accepted call records its own result again.
    uint8_t line[8] = {};
    rc = c.mode == IFF_MODE_READ ? IFFGetLine(h, 1, line) : IFFPutLine(h, 1, line);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(IFFControl(h, IFF_CTL_LAST_ERROR, 0, 0, &last), 0);
    EXPECT_EQ(last, 0);
    IFFClose(h);
  }
}

TEST(DriverClose, WriteOpenWithoutLinesLeavesOnlyEoi) {
  MemoryFile file;
  IFFImageInfo info = WriteInfo(16, 16, 3);
  int32_t h = OpenMemory(file, IFF_MODE_WRITE, info);
  ASSERT_GT(h, 0);
  EXPECT_EQ(IFFClose(h), 0);
  EXPECT_EQ(file.data, (std::vector<uint8_t>{0xFF, 0xD9}));
  EXPECT_EQ(file.writeCalls, 1);
  EXPECT_EQ(file.closeCalls, 1);
}

TEST(DriverClose, FailingCloseGivesNineEvenAfterAnotherError) {
  MemoryFile file;
  file.failClose = true;
  file.shortWriteAtCall = 1;
  IFFImageInfo info = WriteInfo(16, 16, 3);
  int32_t h = OpenMemory(file, IFF_MODE_WRITE, info);
  ASSERT_GT(h, 0);
  EXPECT_EQ(IFFClose(h), 9);
}

TEST(DriverClose, ShortFinalFlushGivesEleven) {
  MemoryFile file;
  file.shortWriteAtCall = 1;
  IFFImageInfo info = WriteInfo(16, 16, 1);
  int32_t h = OpenMemory(file, IFF_MODE_WRITE, info);
  ASSERT_GT(h, 0);
  EXPECT_EQ(IFFClose(h), 11);
}

TEST(DriverDefaultCallbacks, MissingFileAndCreateTruncate) {
  IFFImageInfo info = WriteInfo(8, 8, 1);
  EXPECT_EQ(IFFOpen("/nonexistent/dir/none.jpg", IFF_MODE_READ, &info), -8);
  std::string path = testing::TempDir() + "iffjpeg_default_callbacks.jpg";
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("a longer file that must be truncated", f);
    std::fclose(f);
  }
  int32_t h = IFFOpen(path.c_str(), IFF_MODE_WRITE, &info);
  ASSERT_GT(h, 0);
  ASSERT_EQ(IFFClose(h), 0);
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  uint8_t bytes[64];
  size_t n = std::fread(bytes, 1, sizeof bytes, f);
  std::fclose(f);
  std::remove(path.c_str());
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xD9);
}

}  // namespace
