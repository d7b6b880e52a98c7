// The compression controller's working fields, kept in the handle.
#pragma once

#include <cstdint>

#include "format/jpeg_records.h"
#include "memory/memory_manager.h"

namespace iffjpeg {

struct CompressFields {
  int32_t fullSizeWidth;
  SampleArray* outputBuffers;     // per component
  SampleArray* fullSizeViews[2];  // per component, view 0 and view 1
  int32_t mcuRowsPerChunk;
  int32_t rowsPerChunk;
  int32_t mcuRowsEmitted;
  int32_t rowsConsumed;
  int32_t rowsLeft;
  int32_t currentView;
  int32_t chunkRows;
  int32_t scanStarted;  // mode 0 succeeded: lines may be taken
  int16_t mcuBuffer[kMaxBlocksInMcu * 64];
};

// The Huffman encoder's bit writer.
struct BitWriter {
  int32_t bitAccumulator;
  int32_t bitCount;
};

}  // namespace iffjpeg
