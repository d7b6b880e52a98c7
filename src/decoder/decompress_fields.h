// The decompression controller's working fields, kept in the handle.
#pragma once

#include <cstdint>

#include "format/jpeg_records.h"
#include "memory/memory_manager.h"

namespace iffjpeg {

struct DecompressFields {
  int32_t paddedWidth;     // image width rounded up to 8 x max horizontal sampling
  int32_t mcuRowIndex;     // first MCU row of the band the next step reads
  int32_t linesDelivered;  // lines of all bands but the last
  int32_t mcuRowsPerBand;
  BlockArray* coefRows;        // per scan component
  SampleArray* sampleSets[2];  // per scan component: natural and exchanged lists
  SampleArray* upsampledRows;  // per frame component
  int32_t rowsPerBand;
  int32_t currentSet;
  int32_t mcuRowInBand;
  int32_t linesAvailable;
  int32_t linesHandedOver;
  int32_t bandPending;
  CoefBlock transformBlock;
};

// The Huffman decoder's bit reader.
struct BitReader {
  uint32_t bitBuffer;
  int32_t bitsLeft;
  int32_t heldBits;
  int32_t heldCount;
};

}  // namespace iffjpeg
