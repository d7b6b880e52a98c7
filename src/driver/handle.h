// IFFHandle: everything of one open file.
#pragma once

#include <cstdint>

#include "decoder/decoder_state.h"
#include "decoder/decompress_fields.h"
#include "encoder/compress_fields.h"
#include "encoder/encoder_state.h"
#include "iffjpeg.h"
#include "memory/memory_manager.h"
#include "stream/byte_stream.h"

namespace iffjpeg {

struct IFFHandle {
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
  // IFF_CTL_SCALE's denominator (0: not set, full size), copied into the
  // decoder at every start; and whether a line call was made, after which
  // the scale is fixed.
  int32_t scaleDenom;
  int32_t lineCallsMade;
  // The stream buffer, the file callbacks and id, and the codes the stream
  // records; PrepareHandle binds it to lastError and the decoder's rows.
  ByteStream stream;
  int32_t lastError;
  DecoderState decoder;
  DecoderMethods decoderMethods;
  MemoryManager memoryTable;
  EncoderState encoder;
  EncoderMethods encoderMethods;
  int32_t headerPending;
  uint8_t* currentLine;
  // A code that makes every later line call fail at once: 11 after bytes
  // were lost in writing, or the code of a failed rewind.
  int32_t stickyError;
  const void* source;  // IFFOpen's source, kept for a backward seek
  DecompressFields decomp;
  BitReader bitReader;
  CompressFields comp;
  BitWriter bitWriter;
};

// The one set-up of a new handle, before it is opened (IFFOpen and the test
// fixtures alike): the handle's defaults, the file callbacks, no file and
// no stream buffer yet, and the stream bound to the handle's lastError and
// its decoder's MCU row counters. The handle must be zeroed and stay where
// it is: the stream keeps pointers into it.
void PrepareHandle(IFFHandle& handle, const IFFFileOps& fileOps);

}  // namespace iffjpeg
