// The stream buffer: refills, the EOI planted at the end of the data, bytes
// put back into the head room, and flushes in runs of exactly 262140 bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "driver/handle.h"
#include "driver/handle_registry.h"
#include "iffjpeg.h"
#include "stream/byte_stream.h"
#include "support/memory_file.h"

namespace {

using iffjpeg::IFFHandle;
using iffjpeg::kStreamBufferSize;
using iffjpeg::ReadByte;
using iffjpeg_test::MemoryFile;

constexpr int32_t kBuffer = static_cast<int32_t>(kStreamBufferSize);

uint8_t PatternByte(std::size_t i) { return static_cast<uint8_t>(i * 7 + i / 251); }

std::vector<uint8_t> Pattern(std::size_t size) {
  std::vector<uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = PatternByte(i);
  return bytes;
}

// A handle opened for reading by hand: set up as IFFOpen does, then the
// file and the buffer only.
class ReadingHandle {
 public:
  explicit ReadingHandle(MemoryFile& file) : handle_(std::make_unique<IFFHandle>()) {
    iffjpeg::PrepareHandle(*handle_, file.source()->ops);
    handle_->stream.fileId = handle_->stream.fileOps.open(file.source(), IFF_OPEN_FLAGS_READ, 438);
    EXPECT_GE(handle_->stream.fileId, 0);
    EXPECT_EQ(iffjpeg::AllocateStreamBuffer(handle_->stream, kStreamBufferSize), 0);
  }
  ~ReadingHandle() {
    iffjpeg::ReleaseStreamBuffer(handle_->stream);
    handle_->stream.fileOps.close(handle_->stream.fileId);
  }
  IFFHandle& operator*() { return *handle_; }
  IFFHandle* operator->() { return handle_.get(); }

 private:
  std::unique_ptr<IFFHandle> handle_;
};

// A handle opened for writing through IFFOpen, for the byte writer.
struct WritingHandle {
  explicit WritingHandle(MemoryFile& file) {
    IFFImageInfo info{};
    info.width = info.height = 8;
    info.planes = 1;
    info.bitsPerSample = 8;
    value = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
    handle = iffjpeg::LookUpHandle(value);
  }
  int32_t value;
  IFFHandle* handle;
};

TEST(StreamBufferRead, EmptyFileGivesEndlessEoiAndNoError) {
  MemoryFile file;
  ReadingHandle h(file);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ReadByte(h->stream), 0xFF);
    EXPECT_EQ(ReadByte(h->stream), 0xD9);
  }
  EXPECT_EQ(h->lastError, 0) << "header reading is not below the last MCU row";
  EXPECT_EQ(file.readCalls, 1) << "once the data has ended the file is not asked again";
}

TEST(StreamBufferRead, EndBeforeTheLastMcuRowRecordsTen) {
  for (int32_t row : {0, 2, 3}) {
    MemoryFile file({0x01, 0x02});
    ReadingHandle h(file);
    h->decoder.mcuRowsInScan = 4;
    h->decomp.mcuRowIndex = row;
    EXPECT_EQ(iffjpeg::ReadWord(h->stream), 0x0102);
    EXPECT_EQ(h->lastError, 0);
    EXPECT_EQ(iffjpeg::ReadWord(h->stream), 0xFFD9);
    EXPECT_EQ(h->lastError, row < 3 ? 10 : 0) << "MCU row " << row << " of 4";
  }
}

TEST(StreamBufferRead, RefillsDeliverEveryByteInOrder) {
  const std::size_t size = 2 * kStreamBufferSize + 3;
  for (int32_t chunk : {0x7FFFFFFF, 1000, 1}) {
    SCOPED_TRACE(chunk);
    MemoryFile file(Pattern(size));
    file.maxReadChunk = chunk;
    ReadingHandle h(file);
    for (std::size_t i = 0; i < size; ++i) {
      int byte = ReadByte(h->stream);
      if (byte != PatternByte(i)) {
        ADD_FAILURE() << "byte " << i << " is " << byte;
        break;
      }
    }
    EXPECT_EQ(ReadByte(h->stream), 0xFF);
    EXPECT_EQ(ReadByte(h->stream), 0xD9);
    EXPECT_EQ(h->lastError, 0);
    if (chunk == 0x7FFFFFFF) {
      EXPECT_EQ(file.readCalls, 4) << "three fills and the end";
    }
  }
}

TEST(StreamBufferRead, WordStraddlingARefillIsBigEndian) {
  MemoryFile file(Pattern(kStreamBufferSize + 1));
  ReadingHandle h(file);
  for (int32_t i = 0; i < kBuffer - 1; ++i) ReadByte(h->stream);
  EXPECT_EQ(iffjpeg::ReadWord(h->stream), PatternByte(kBuffer - 1) << 8 | PatternByte(kBuffer));
  EXPECT_EQ(file.readCalls, 2);
}

TEST(StreamBufferRead, BytesPutBackRightAfterAFillUseTheHeadRoom) {
  MemoryFile file({0xAB});
  ReadingHandle h(file);
  EXPECT_EQ(ReadByte(h->stream), 0xAB);
  // A marker met by the entropy decoder goes back code first, then 0xFF.
  iffjpeg::PutBack(h->stream, 0xD0);
  iffjpeg::PutBack(h->stream, 0xFF);
  EXPECT_EQ(h->stream.cursor, h->stream.bufferStart - 1);
  EXPECT_EQ(ReadByte(h->stream), 0xFF);
  EXPECT_EQ(ReadByte(h->stream), 0xD0);

  // The planted EOI, read and put back, sits two bytes into the head room.
  EXPECT_EQ(ReadByte(h->stream), 0xFF);
  EXPECT_EQ(ReadByte(h->stream), 0xD9);
  iffjpeg::PutBack(h->stream, 0xD9);
  iffjpeg::PutBack(h->stream, 0xFF);
  EXPECT_EQ(h->stream.cursor, h->stream.bufferStart - 2);
  EXPECT_EQ(iffjpeg::ReadWord(h->stream), 0xFFD9);
  EXPECT_EQ(iffjpeg::ReadWord(h->stream), 0xFFD9);
}

TEST(StreamBufferWrite, BytesGoOutInRunsOfExactly262140) {
  MemoryFile file;
  WritingHandle w(file);
  ASSERT_NE(w.handle, nullptr);
  std::vector<uint8_t> expected = Pattern(2 * kStreamBufferSize);
  for (int32_t i = 0; i < kBuffer; ++i) iffjpeg::PutByte(w.handle->stream, expected[i]);
  EXPECT_EQ(file.writeCalls, 0) << "a full buffer waits for the next byte";
  iffjpeg::PutByte(w.handle->stream, expected[kBuffer]);
  ASSERT_EQ(file.writeSizes, (std::vector<int32_t>{kBuffer}));
  for (int32_t i = kBuffer + 1; i < 2 * kBuffer; ++i)
    iffjpeg::PutByte(w.handle->stream, expected[i]);
  EXPECT_EQ(file.writeCalls, 1);

  EXPECT_EQ(IFFClose(w.value), 0);  // EOI: its first byte flushes the second run
  EXPECT_EQ(file.writeSizes, (std::vector<int32_t>{kBuffer, kBuffer, 2}));
  expected.push_back(0xFF);
  expected.push_back(0xD9);
  EXPECT_TRUE(file.data == expected);
}

TEST(StreamBufferWrite, ShortWriteRecordsElevenAndDropsTheHeldBytes) {
  MemoryFile file;
  file.shortWriteAtCall = 1;
  WritingHandle w(file);
  ASSERT_NE(w.handle, nullptr);
  for (int32_t i = 0; i <= kBuffer; ++i) iffjpeg::PutByte(w.handle->stream, 0x55);
  EXPECT_EQ(w.handle->lastError, 11);
  EXPECT_EQ(w.handle->stream.byteCount, 1u) << "the buffer starts again after the short write";
  EXPECT_EQ(w.handle->stream.cursor, w.handle->stream.bufferStart + 1);
  EXPECT_EQ(iffjpeg::FlushBuffer(w.handle->stream), 11) << "flush returns lastError, set or not";
  EXPECT_EQ(file.data.size(), static_cast<std::size_t>(kBuffer));
  EXPECT_EQ(IFFClose(w.value), 11);
  EXPECT_EQ(file.data.size(), static_cast<std::size_t>(kBuffer + 2));
}

TEST(StreamBufferWrite, WordsAndMarkersAreBigEndian) {
  MemoryFile file;
  WritingHandle w(file);
  ASSERT_NE(w.handle, nullptr);
  iffjpeg::PutMarker(w.handle->stream, 0xD8);
  iffjpeg::PutWord(w.handle->stream, 0x1234);
  iffjpeg::PutWord(w.handle->stream, 0xFF00);
  EXPECT_EQ(IFFClose(w.value), 0);
  EXPECT_EQ(file.data, (std::vector<uint8_t>{0xFF, 0xD8, 0x12, 0x34, 0xFF, 0x00, 0xFF, 0xD9}));
  EXPECT_EQ(file.writeCalls, 1);
}

}  // namespace
