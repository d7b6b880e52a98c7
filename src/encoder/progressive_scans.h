// Progressive output (IFF_CTL_PROGRESSIVE): the stored coefficients go out
// at IFFClose in a fixed scan script, each Huffman-coded scan with tables
// built for it (T.81 K.2).
#pragma once

#include <cstdint>

#include "encoder/compress_fields.h"
#include "encoder/encoder_state.h"
#include "format/jpeg_records.h"
#include "stream/byte_stream.h"

namespace iffjpeg {

// One scan of the script: frame components by index, in scan order.
struct ScriptScan {
  int32_t count;
  int32_t components[kMaxScanComponents];
  ProgressiveScanParams params;
};

// The script for a frame of 1 or 3 components (T.81 G.1.1). Colour (Y, Cb,
// Cr), ten scans:
//   DC of all three, Al 1;  Y 1..5, Al 2;  Cr 1..63, Al 1;  Cb 1..63, Al 1;
//   Y 6..63, Al 2;  Y 1..63 refined to Al 1;  DC refined to Al 0;
//   Cr, Cb, then Y 1..63 refined to Al 0.
// Greyscale, six scans: DC, Al 1;  1..5, Al 2;  6..63, Al 2;  1..63
// refined to Al 1;  DC refined to Al 0;  1..63 refined to Al 0.
// Sets *scans and returns the number of scans.
int32_t ProgressiveScript(int32_t numComponents, const ScriptScan** scans);

// Sets up the symbol counters of the script's scans in the coefficient
// store (which must exist). kErrMemory when they cannot be had, kErrInvalid
// for a frame of neither 1 nor 3 components.
int32_t PrepareProgressiveScans(EncoderState& enc);

// Counts the symbols of the stored MCU rows below `rows` not yet counted,
// in every scan. False when the store cannot be read.
bool CountStoredRows(EncoderState& enc, int32_t rows);

// At IFFClose: every scan of the script from the coefficient store, with
// its tables, the DRI before the first scan when a restart interval is set.
// 0, or kErrMemory when the store cannot be read.
int32_t FinishProgressiveScans(ByteStream& stream, BitWriter& bits, EncoderState& enc);

}  // namespace iffjpeg
