// The coefficient controller's fields (extended reading): one virtual block
// array per frame component holding every scan's coefficients, what the
// scans made of them, and the progressive scan decoder's state.
#pragma once

#include <cstdint>

#include "format/jpeg_records.h"
#include "memory/memory_manager.h"

namespace iffjpeg {

// The progressive decoder's bit reader. Bits stand left-aligned in acc;
// past a marker it supplies zero bits, counted in fake, and overrun is set
// once one of them is taken: the scan's data are used up.
struct ProgressiveReader {
  uint64_t acc;
  int32_t bits;
  int32_t fake;
  int32_t atMarker;
  int32_t overrun;
};

enum class ProgressiveKind : int32_t { kDcFirst, kDcRefine, kAcFirst, kAcRefine };

struct ProgressiveScan {
  ProgressiveReader reader;
  ProgressiveKind kind;
  int32_t eobRun;  // blocks left in the current end-of-band run (T.81 G.1.2.2)
  const HuffTable* dcTables[kMaxScanComponents];  // per scan component
  const HuffTable* acTable;
};

struct CoefficientFields {
  VirtualBlockArray* arrays[kMaxScanComponents];
  int32_t blocksPerRow[kMaxScanComponents];  // as an interleaved scan pads them
  int32_t blockRows[kMaxScanComponents];
  // The blocks a scan of the component alone covers (T.81 A.2.2).
  int32_t coveredCols[kMaxScanComponents];
  int32_t coveredRows[kMaxScanComponents];
  // No interleaved scan coded the component: its padding blocks hold
  // nothing, and its samples there repeat the covered edge, as they do for a
  // sequential file that codes the component in a scan of its own.
  int32_t loneOnly[kMaxScanComponents];
  int32_t coded[kMaxScanComponents];
  // Block rows some scan has written; the rows below hold zeros.
  int32_t rowsReached[kMaxScanComponents];
  // A progressive frame's arrays hold quantized coefficients in zigzag
  // order, put in natural order and dequantized
  // on output with each component's table as it stood at its first scan; a
  // sequential frame's are dequantized by the Huffman decoder.
  int32_t quantized;
  int32_t quantKnown[kMaxScanComponents];
  uint16_t quantZigzag[kMaxScanComponents][64];
  // Per component and zigzag position: the point transform Al of the last
  // scan that coded the coefficient, -1 before any did.
  int8_t coefBits[kMaxScanComponents][64];
  int32_t begun;             // the first line call came
  int32_t startCode;         // what the decoding of the scans returned
  int32_t firstDamagedLine;  // the line that reports 10, -1 for none
  int32_t nextLine;
  ProgressiveScan scan;
};

}  // namespace iffjpeg
