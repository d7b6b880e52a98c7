// The byte stream: every compressed byte passes through its buffer, filled
// and emptied only through the file callbacks. It is a record of its own so
// that the marker reader and writer and the Huffman coders take the stream,
// not the whole handle; it knows nothing of the decoder or the driver.
#pragma once

#include <cstdint>
#include <cstring>

#include "iffjpeg.h"

namespace iffjpeg {

// Room in the stream buffer, in both directions, and the head room in front
// of it that takes put-back marker bytes.
inline constexpr uint32_t kStreamBufferSize = 262140;
inline constexpr uint32_t kStreamHeadRoom = 5;

// Where FillBuffer reads the decoder's progress for its end-of-data rule:
// the data may end without a code only once the decoder works on the last
// MCU row of the scan (rowIndex + rowInBand >= rowsInScan - 1). The owner
// of the stream points these at its decoder's counters; unbound (null), the
// end of the data is never early.
struct McuRowWatch {
  const int32_t* rowIndex;
  const int32_t* rowInBand;
  const int32_t* rowsInScan;
};

struct ByteStream {
  uint8_t* bufferStart;
  uint8_t* cursor;
  uint32_t byteCount;
  uint32_t bufferSize;
  IFFFileOps fileOps;
  int32_t fileId;
  // Codes recorded while one line is transferred (10 data ended or restart
  // lost, 11 write failed). The driver clears it before each line and
  // reports it after the line.
  int32_t lineCode;
  // Set when FillBuffer found the end of the data (or a failed read) and
  // began handing out an EOI marker of its own. Later fills plant EOI again
  // without reading, so that a read that fails once cannot splice later
  // bytes onto the data already handed out. A rewind clears it.
  int32_t dataEnded;
  // The owner's last result: FillBuffer and FlushBuffer record 10 and 11 in
  // it too, and FlushBuffer returns it. Bound by the owner.
  int32_t* lastError;
  McuRowWatch rows;
};

// Allocates size + head-room bytes; kOk, or kErrMemory when the heap refuses.
int32_t AllocateStreamBuffer(ByteStream& stream, uint32_t size);
void ReleaseStreamBuffer(ByteStream& stream);

// Refills the buffer and returns its first byte. At the end of the data it
// plants 0xFF 0xD9 (EOI) in front of the buffer and hands those out, and
// records 10 when the decoder has not yet reached the last MCU row.
int FillBuffer(ByteStream& stream);

// Writes the held bytes; a short write records 11 and drops them. Returns
// the owner's lastError.
int32_t FlushBuffer(ByteStream& stream);

// The MCU row the decoder is working on, for FillBuffer's end-of-data rule
// (0 while unbound).
int32_t CurrentMcuRow(const ByteStream& stream);

inline int ReadByte(ByteStream& stream) {
  if (stream.byteCount > 0) {
    --stream.byteCount;
    return *stream.cursor++;
  }
  return FillBuffer(stream);
}

inline int ReadWord(ByteStream& stream) {
  int high = ReadByte(stream);
  return (high << 8) | ReadByte(stream);
}

// Steps the cursor back one byte and stores value there.
inline void PutBack(ByteStream& stream, int value) {
  --stream.cursor;
  *stream.cursor = static_cast<uint8_t>(value);
  ++stream.byteCount;
}

inline void PutByte(ByteStream& stream, int value) {
  if (stream.byteCount + 1 > stream.bufferSize) FlushBuffer(stream);
  *stream.cursor++ = static_cast<uint8_t>(value);
  ++stream.byteCount;
}

// count bytes, as count PutByte calls would write them (the buffer flushed
// at the same moments: when it is full and another byte comes), copied a
// bufferful at a time.
inline void PutBytes(ByteStream& stream, const uint8_t* bytes, uint32_t count) {
  while (count > 0) {
    if (stream.byteCount + 1 > stream.bufferSize) FlushBuffer(stream);
    uint32_t n = stream.bufferSize - stream.byteCount;
    if (n > count) n = count;
    std::memcpy(stream.cursor, bytes, n);
    stream.cursor += n;
    stream.byteCount += n;
    bytes += n;
    count -= n;
  }
}

inline void PutMarker(ByteStream& stream, int code) {
  PutByte(stream, 0xFF);
  PutByte(stream, code);
}

inline void PutWord(ByteStream& stream, int value) {
  PutByte(stream, (value >> 8) & 0xFF);
  PutByte(stream, value & 0xFF);
}

}  // namespace iffjpeg
