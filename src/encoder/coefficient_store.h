// The whole image's quantized coefficients, for files whose Huffman tables
// are built for the image (IFF_CTL_OPTIMIZE) and progressive files
// (IFF_CTL_PROGRESSIVE): the MCUs are kept in virtual block arrays as the
// lines come, counted and coded at IFFClose.
#pragma once

#include <cstdint>

#include "encoder/compress_fields.h"
#include "encoder/encoder_state.h"
#include "entropy/huffman_optimizer.h"
#include "stream/byte_stream.h"

namespace iffjpeg {

using EncodeMcuFn = void (*)(ByteStream& stream, BitWriter& bits, EncoderState& enc, int16_t* mcu);

struct ProgressiveCounts;

struct CoefficientStore {
  // One array per scan component, its blocks as the MCUs place them: MCU
  // (row r, column c) holds block rows r*mcuHeight.. and block columns
  // c*mcuWidth.. of its component.
  VirtualBlockArray* arrays[kMaxScanComponents];
  int32_t mcusStored;
  int32_t failed;          // 5 once an array could not be reached
  EncodeMcuFn entropyMcu;  // the Huffman encoder the MCUs go through at the end
  // Tables built for the image: the symbol counts per table, counted as the
  // MCUs are stored, and the DC predictions of the count. Progressive
  // files: the counts of every scan instead.
  SymbolCounts* dcCounts;
  SymbolCounts* acCounts;
  int32_t lastDc[kMaxScanComponents];
  ProgressiveCounts* progressive;
  // Progressive files whose coefficients fit in memory: the DC term of
  // every stored block, MCU after MCU in storing order (which is the order
  // of the interleaved DC scans, and for greyscale the raster order of its
  // one scan). The two DC scans then read these 2 bytes per block instead
  // of a cache line of each block. Null otherwise.
  int16_t* dcTerms;
};

// Requests the scan's arrays and installs the storing entropy entries in
// place of the Huffman encoder's (set-up already laid the scan out). 5 when
// the coefficients need more than both whole-image limits, or a record
// cannot be had. The arrays are realized by the caller's
// realizeVirtualArrays, which CheckCoefficientStore then confirms (5).
int32_t RequestCoefficientStore(EncoderState& enc);
int32_t CheckCoefficientStore(EncoderState& enc);

// Block row `blockRow` of frame component c as stored (its blocks as the
// padded component plane holds them), or null when the array cannot be
// reached. For the progressive scans, which walk the planes their own way.
const CoefBlock* StoredBlockRow(EncoderState& enc, int32_t c, int32_t blockRow);

}  // namespace iffjpeg
