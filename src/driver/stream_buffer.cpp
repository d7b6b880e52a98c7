#include "driver/stream_buffer.h"

#include "common/result_codes.h"
#include "platform/platform.h"

namespace iffjpeg {

int32_t AllocateStreamBuffer(IFFHandle& handle, uint32_t size) {
  auto* block = static_cast<uint8_t*>(platform::HeapAllocUncleared(size + kStreamHeadRoom));
  handle.byteCount = 0;
  handle.bufferSize = size;
  if (block == nullptr) {
    handle.bufferStart = nullptr;
    handle.cursor = nullptr;
    return kErrMemory;
  }
  handle.bufferStart = block + kStreamHeadRoom;
  handle.cursor = handle.bufferStart;
  return 0;
}

void ReleaseStreamBuffer(IFFHandle& handle) {
  if (handle.bufferStart == nullptr) return;
  platform::HeapFree(handle.bufferStart - kStreamHeadRoom);
  handle.bufferStart = nullptr;
  handle.cursor = nullptr;
  handle.byteCount = 0;
}

int32_t CurrentMcuRow(const IFFHandle& handle) {
  return handle.decomp.mcuRowIndex + handle.decomp.mcuRowInBand;
}

int FillBuffer(IFFHandle& handle) {
  handle.cursor = handle.bufferStart;
  int32_t n = handle.dataEnded ? 0
                               : handle.fileOps.read(handle.fileId, handle.bufferStart,
                                                     static_cast<int32_t>(handle.bufferSize));
  if (n > 0) {
    // A callback that claims more than it was asked for is held to the size.
    if (static_cast<uint32_t>(n) > handle.bufferSize) n = static_cast<int32_t>(handle.bufferSize);
    handle.byteCount = static_cast<uint32_t>(n) - 1;
    return *handle.cursor++;
  }
  // End of data (or a failed read): hand out an EOI marker of our own so
  // that every reader stops cleanly.
  handle.bufferStart[-1] = 0xD9;
  handle.bufferStart[-2] = 0xFF;
  handle.cursor = handle.bufferStart - 2;
  handle.byteCount = 2;
  handle.dataEnded = 1;
  if (CurrentMcuRow(handle) < handle.decoder.mcuRowsInScan - 1) {
    handle.lastError = kErrDataEnded;
    handle.lineCode = kErrDataEnded;
  }
  --handle.byteCount;
  return *handle.cursor++;
}

int32_t FlushBuffer(IFFHandle& handle) {
  int32_t held = static_cast<int32_t>(handle.cursor - handle.bufferStart);
  if (held > 0) {
    int32_t written = handle.fileOps.write(handle.fileId, handle.bufferStart, held);
    if (written != held) {
      handle.lastError = kErrWrite;
      handle.lineCode = kErrWrite;
    }
  }
  handle.cursor = handle.bufferStart;
  handle.byteCount = 0;
  return handle.lastError;
}

}  // namespace iffjpeg
