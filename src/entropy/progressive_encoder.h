// Huffman coding of progressive scans (T.81 G.1.2): DC first and refinement
// scans, AC first scans with end-of-band runs and AC refinement scans with
// their correction bits, over quantized blocks in zigzag order. The same
// coder either counts the symbols a scan would code (for its tables, T.81
// K.2) or codes them, so that the counts and the data can never disagree.
#pragma once

#include <cstdint>

#include "encoder/compress_fields.h"
#include "entropy/coefficient_masks.h"
#include "entropy/huffman_optimizer.h"
#include "format/jpeg_records.h"
#include "memory/memory_manager.h"
#include "stream/byte_stream.h"

namespace iffjpeg {

// T.81 G.1.2.3: correction bits wait behind an end-of-band run until the
// run is coded; a run is cut short before more than this many pile up.
inline constexpr int32_t kMaxCorrectionBits = 1000;

struct ProgressiveEncoder {
  ProgressiveScanParams params;
  // Counting: per scan component, the counts its symbols go to; coding:
  // the tables they are coded with, and where the bits go.
  SymbolCounts* dcCounts[kMaxScanComponents];
  SymbolCounts* acCounts;
  const HuffTable* dcTables[kMaxScanComponents];
  const HuffTable* acTable;
  ByteStream* stream;
  BitWriter* writer;
  bool counting;
  // Row kernels for the AC scans' masks (coefficient_masks.h), set by the
  // caller; null ones leave each block to the per-block forms.
  MagnitudeMasksFn magnitudeMasks;
  RefinementMasksFn refinementMasks;
  // Restart interval in the scan's MCUs (0 none), set by the caller; the
  // rest is the coder's own.
  int32_t restartInterval;
  int32_t restartsLeft;
  int32_t restartNumber;
  int32_t lastDc[kMaxScanComponents];
  int32_t eobRun;
  int32_t correctionCount;
  // The correction bits waiting behind the run, packed from the top bit.
  uint64_t correctionWords[(kMaxCorrectionBits + 63) / 64];
  // Bits not yet handed to the bit writer, the last pendingCount of them.
  uint64_t pendingBits;
  int32_t pendingCount;
};

// Clears the predictions, the run, the correction bits and the restart
// count; coding resets the bit writer too.
void StartProgressiveEncoding(ProgressiveEncoder& pe);
// Codes (or counts) `count` blocks of a lone component's scan, each its own
// MCU, with the restart step before each.
void EncodeProgressiveRow(ProgressiveEncoder& pe, const CoefBlock* row, int32_t count);
// mcuCount MCUs of an interleaved scan, each blocksInMcu blocks in coding
// order (blocks lists them MCU after MCU), components[i] the position in
// the scan of each MCU's block i; the restart step comes before each MCU.
void EncodeProgressiveMcus(ProgressiveEncoder& pe, const int16_t* const* blocks,
                           const int32_t* components, int32_t blocksInMcu, int32_t mcuCount);
// mcuCount MCUs of a DC scan (first or refinement) from their DC terms
// alone, blocksInMcu of them per MCU one after another, components[i] as
// for EncodeProgressiveMcus; the restart step comes before each MCU. What
// EncodeProgressiveMcus codes from the same blocks.
void EncodeProgressiveDcTerms(ProgressiveEncoder& pe, const int16_t* terms,
                              const int32_t* components, int32_t blocksInMcu, int32_t mcuCount);
// Ends the scan: the pending run, then the last byte completed.
void FinishProgressiveEncoding(ProgressiveEncoder& pe);

}  // namespace iffjpeg
