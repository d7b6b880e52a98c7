#include "stream/byte_stream.h"

#include "common/result_codes.h"
#include "platform/platform.h"

namespace iffjpeg {

int32_t AllocateStreamBuffer(ByteStream& stream, uint32_t size) {
  auto* block = static_cast<uint8_t*>(platform::HeapAllocUncleared(size + kStreamHeadRoom));
  stream.byteCount = 0;
  stream.bufferSize = size;
  if (block == nullptr) {
    stream.bufferStart = nullptr;
    stream.cursor = nullptr;
    return kErrMemory;
  }
  stream.bufferStart = block + kStreamHeadRoom;
  stream.cursor = stream.bufferStart;
  return kOk;
}

void ReleaseStreamBuffer(ByteStream& stream) {
  if (stream.bufferStart == nullptr) return;
  platform::HeapFree(stream.bufferStart - kStreamHeadRoom);
  stream.bufferStart = nullptr;
  stream.cursor = nullptr;
  stream.byteCount = 0;
}

int32_t CurrentMcuRow(const ByteStream& stream) {
  if (stream.rows.rowIndex == nullptr) return 0;
  return *stream.rows.rowIndex + *stream.rows.rowInBand;
}

namespace {

// The end of the data is early while the decoder has MCU rows of the scan
// left beyond the one it works on.
bool EndIsEarly(const ByteStream& stream) {
  if (stream.rows.rowsInScan == nullptr) return false;
  return CurrentMcuRow(stream) < *stream.rows.rowsInScan - 1;
}

}  // namespace

int FillBuffer(ByteStream& stream) {
  stream.cursor = stream.bufferStart;
  int32_t n = stream.dataEnded ? 0
                               : stream.fileOps.read(stream.fileId, stream.bufferStart,
                                                     static_cast<int32_t>(stream.bufferSize));
  if (n > 0) {
    // A callback that claims more than it was asked for is held to the size.
    if (static_cast<uint32_t>(n) > stream.bufferSize) n = static_cast<int32_t>(stream.bufferSize);
    stream.byteCount = static_cast<uint32_t>(n) - 1;
    return *stream.cursor++;
  }
  // End of data (or a failed read): hand out an EOI marker of our own so
  // that every reader stops cleanly.
  stream.bufferStart[-1] = 0xD9;
  stream.bufferStart[-2] = 0xFF;
  stream.cursor = stream.bufferStart - 2;
  stream.byteCount = 2;
  stream.dataEnded = 1;
  if (EndIsEarly(stream)) {
    *stream.lastError = kErrDataEnded;
    stream.lineCode = kErrDataEnded;
  }
  --stream.byteCount;
  return *stream.cursor++;
}

int32_t FlushBuffer(ByteStream& stream) {
  int32_t held = static_cast<int32_t>(stream.cursor - stream.bufferStart);
  if (held > 0) {
    int32_t written = stream.fileOps.write(stream.fileId, stream.bufferStart, held);
    if (written != held) {
      *stream.lastError = kErrWrite;
      stream.lineCode = kErrWrite;
    }
  }
  stream.cursor = stream.bufferStart;
  stream.byteCount = 0;
  return *stream.lastError;
}

}  // namespace iffjpeg
