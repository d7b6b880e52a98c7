// The fast Huffman decoder's plan of a sequential scan's MCU: what each of
// its blocks needs (tables, coefficient placement, the last coefficient
// stored), made at the scan's first MCU and kept in the decoder's record,
// so that a batch of MCUs (an MCU row, or a single MCU for the whole-image
// controllers) does not make it again.
#pragma once

#include <cstdint>

#include "format/jpeg_records.h"

namespace iffjpeg {

// For coefficient k (zigzag order) of a component: its natural index in
// the low bits, its quantizer step in bits 16..31, one load per
// coefficient.
using CoefficientPlacement = uint32_t[64];

struct BlockPlan {
  int32_t component;  // index into the scan's components (and lastDcVal)
  const uint32_t* place;
  const HuffTable* dc;
  const HuffTable* ac;
  uint32_t last;  // the last coefficient (zigzag order) stored, 0..63
};

struct McuPlan {
  int32_t made;  // cleared when a scan starts
  int32_t blocks;
  bool drops;  // some component leaves coefficients unused
  BlockPlan block[kMaxBlocksInMcu];
  CoefficientPlacement place[kMaxScanComponents];
};

}  // namespace iffjpeg
