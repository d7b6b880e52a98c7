// IFFHandle: everything of one open file.
#pragma once

#include <cstdint>

#include "decoder/decoder_state.h"
#include "decoder/decompress_fields.h"
#include "encoder/compress_fields.h"
#include "encoder/encoder_state.h"
#include "iffjpeg.h"
#include "memory/memory_manager.h"

namespace iffjpeg {

// Room in the stream buffer, in both directions, and the head room in front
// of it that takes put-back marker bytes.
inline constexpr uint32_t kStreamBufferSize = 262140;
inline constexpr uint32_t kStreamHeadRoom = 5;

struct IFFHandle {
  int32_t fileId;
  int32_t mode;
  int32_t planes;
  int32_t bitsPerSample;
  int32_t width;
  int32_t height;
  int32_t lineStride;
  int32_t lineBytes;
  int32_t controlOption;
  int32_t lineCounter;
  // Opened with IFF_MODE_EXTENDED (read modes only): the decoder also reads
  // what the default mode refuses. Copied into the decoder at every start.
  int32_t extendedReading;
  // Stream buffer.
  uint8_t* bufferStart;
  uint8_t* cursor;
  uint32_t byteCount;
  uint32_t bufferSize;
  IFFFileOps fileOps;
  int32_t lastError;
  DecoderState decoder;
  DecoderMethods decoderMethods;
  MemoryManager memoryTable;
  EncoderState encoder;
  EncoderMethods encoderMethods;
  int32_t headerPending;
  uint8_t* currentLine;
  // Codes recorded by the stream buffer or the entropy coders while one line
  // is transferred (10 data ended or restart lost, 11 write failed). The
  // driver clears it before each line and reports it after the line.
  int32_t lineCode;
  // Set when the stream buffer found the end of the data (or a failed read)
  // and began handing out an EOI marker of its own. Later fills plant EOI
  // again without reading, so that a read that fails once cannot splice
  // later bytes onto the data already handed out. A rewind clears it.
  int32_t dataEnded;
  // A code that makes every later line call fail at once: 11 after bytes
  // were lost in writing, or the code of a failed rewind.
  int32_t stickyError;
  const void* source;  // IFFOpen's source, kept for a backward seek
  DecompressFields decomp;
  BitReader bitReader;
  CompressFields comp;
  BitWriter bitWriter;
};

}  // namespace iffjpeg
