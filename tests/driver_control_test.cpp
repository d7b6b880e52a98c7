// IFFControl rules that hold whatever the codec: code decoding, slot sizes,
// null pointers, refused late changes, and lastError left alone.
#include <gtest/gtest.h>

#include <cstring>

#include "iffjpeg.h"
#include "support/memory_file.h"

namespace {

using iffjpeg_test::MemoryFile;

class ControlOnWriteHandle : public testing::Test {
 protected:
  void SetUp() override {
    IFFImageInfo info{};
    info.width = 1000;
    info.height = 4;
    info.planes = 3;
    info.bitsPerSample = 8;
    handle_ = IFFOpen(file_.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
    ASSERT_GT(handle_, 0);
  }
  void TearDown() override {
    if (handle_ > 0) IFFClose(handle_);
  }
  MemoryFile file_;
  int32_t handle_ = 0;
};

TEST_F(ControlOnWriteHandle, LineBytesFillsExactlyOneSixteenBitSlot) {
  uint8_t slots[4];
  std::memset(slots, 0xAA, sizeof slots);
  ASSERT_EQ(IFFControl(handle_, IFF_CTL_LINE_BYTES, 0, 0, slots), 0);
  uint16_t bytes;
  std::memcpy(&bytes, slots, 2);
  EXPECT_EQ(bytes, 3000);
  EXPECT_EQ(slots[2], 0xAA);
  EXPECT_EQ(slots[3], 0xAA);
  // Bit 15 of the code is ignored; any other high bit makes it unknown.
  bytes = 0;
  EXPECT_EQ(IFFControl(handle_, 0x8001, 0, 0, &bytes), 0);
  EXPECT_EQ(bytes, 3000);
  EXPECT_EQ(IFFControl(handle_, 0x10001, 0, 0, &bytes), 3);
}

TEST_F(ControlOnWriteHandle, UnknownCodesAndNullSlots) {
  int32_t slot[2] = {0, 0};
  for (int32_t code : {2, 4, 5, 6, 8, 0x5700, 0x10007, 0x15701, -1}) {
    EXPECT_EQ(IFFControl(handle_, code, 0, 0, slot), 3) << code;
  }
  EXPECT_EQ(IFFControl(handle_, IFF_CTL_LAST_ERROR, 0, 0, nullptr), 2);
  EXPECT_EQ(IFFControl(handle_, IFF_CTL_LINE_BYTES, 0, 0, nullptr), 2);
  EXPECT_EQ(IFFControl(handle_, IFF_CTL_RESOLUTION, 3, 0, nullptr), 2);
  EXPECT_EQ(IFFControl(handle_, IFF_CTL_OPTION, 0x12345, 0, nullptr), 0);
}

TEST_F(ControlOnWriteHandle, LateChangesAreRefusedOnceHeadersAreWritten) {
  int32_t dpi[2] = {300, 150};
  EXPECT_EQ(IFFControl(handle_, IFF_CTL_RESOLUTION, 3, 0, dpi), 0);
  EXPECT_EQ(IFFControl(handle_, IFF_CTL_QUALITY, 90, 0, nullptr), 0);
  EXPECT_EQ(IFFControl(handle_, 0xD701, 90, 0, nullptr), 0);
  ASSERT_EQ(IFFPutLine(handle_, 0, nullptr), 0);  // writes the headers
  EXPECT_EQ(IFFControl(handle_, IFF_CTL_RESOLUTION, 3, 0, dpi), 2);
  EXPECT_EQ(IFFControl(handle_, IFF_CTL_QUALITY, 50, 0, nullptr), 2);
  int32_t last = -1;
  ASSERT_EQ(IFFControl(handle_, IFF_CTL_LAST_ERROR, 0, 0, &last), 0);
  EXPECT_EQ(last, 0) << "IFFControl never records its own result";
}

TEST(DriverControl, LastErrorStartsAtZeroAndCloseReportsLostBytes) {
  MemoryFile file;
  file.failWriteFromCall = 1;
  IFFImageInfo info{};
  info.width = 8;
  info.height = 8;
  info.planes = 1;
  info.bitsPerSample = 8;
  int32_t h = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  ASSERT_GT(h, 0);
  int32_t last = -1;
  ASSERT_EQ(IFFControl(h, IFF_CTL_LAST_ERROR, 0, 0, &last), 0);
  EXPECT_EQ(last, 0);
  EXPECT_EQ(IFFClose(h), 11);
}

}  // namespace
