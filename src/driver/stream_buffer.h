// The stream buffer: every compressed byte passes through it, filled and
// emptied only through the file callbacks.
#pragma once

#include <cstdint>

#include "driver/handle.h"

namespace iffjpeg {

// Allocates size + head-room bytes; 0, or 5 when the heap refuses.
int32_t AllocateStreamBuffer(IFFHandle& handle, uint32_t size);
void ReleaseStreamBuffer(IFFHandle& handle);

// Refills the buffer and returns its first byte. At the end of the data it
// plants 0xFF 0xD9 (EOI) in front of the buffer and hands those out, and
// records 10 when the decoder has not yet reached the last MCU row.
int FillBuffer(IFFHandle& handle);

// Writes the held bytes; a short write records 11 and drops them. Returns
// lastError.
int32_t FlushBuffer(IFFHandle& handle);

// The MCU row the decoder is working on, for FillBuffer's end-of-data rule.
int32_t CurrentMcuRow(const IFFHandle& handle);

inline int ReadByte(IFFHandle& handle) {
  if (handle.byteCount > 0) {
    --handle.byteCount;
    return *handle.cursor++;
  }
  return FillBuffer(handle);
}

inline int ReadWord(IFFHandle& handle) {
  int high = ReadByte(handle);
  return (high << 8) | ReadByte(handle);
}

// Steps the cursor back one byte and stores value there.
inline void PutBack(IFFHandle& handle, int value) {
  --handle.cursor;
  *handle.cursor = static_cast<uint8_t>(value);
  ++handle.byteCount;
}

inline void PutByte(IFFHandle& handle, int value) {
  if (handle.byteCount + 1 > handle.bufferSize) FlushBuffer(handle);
  *handle.cursor++ = static_cast<uint8_t>(value);
  ++handle.byteCount;
}

inline void PutMarker(IFFHandle& handle, int code) {
  PutByte(handle, 0xFF);
  PutByte(handle, code);
}

inline void PutWord(IFFHandle& handle, int value) {
  PutByte(handle, (value >> 8) & 0xFF);
  PutByte(handle, value & 0xFF);
}

}  // namespace iffjpeg
