// Huffman coding of progressive scans (T.81 G.1.2): DC first and refinement
// scans, AC first scans with end-of-band runs and AC refinement scans with
// their correction bits, over quantized blocks in zigzag order. The same
// coder either counts the symbols a scan would code (for its tables, T.81
// K.2) or codes them, so that the counts and the data can never disagree.
#pragma once

#include <cstdint>

#include "encoder/compress_fields.h"
#include "entropy/huffman_optimizer.h"
#include "format/jpeg_records.h"
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
  // Coding state.
  int32_t lastDc[kMaxScanComponents];
  int32_t eobRun;
  int32_t correctionCount;
  uint8_t correction[kMaxCorrectionBits];
};

// Clears the predictions, the run and the correction bits; coding resets
// the bit writer too.
void StartProgressiveEncoding(ProgressiveEncoder& pe);
// Codes (or counts) one block of scan component ci.
void EncodeProgressiveBlock(ProgressiveEncoder& pe, const int16_t* block, int32_t ci);
// Ends a restart interval: the pending run goes out, the last byte is
// completed, RSTn follows and the predictions restart (T.81 G.1.2, F.1.2.3).
void RestartProgressiveEncoding(ProgressiveEncoder& pe, int32_t restartNumber);
// Ends the scan: the pending run, then the last byte completed.
void FinishProgressiveEncoding(ProgressiveEncoder& pe);

}  // namespace iffjpeg
