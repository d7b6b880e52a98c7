// Huffman decoding of progressive scans (T.81 G.1.2, G.2): DC first and
// refinement scans, AC first scans with end-of-band runs, AC refinement
// scans with their correction bits, and restart intervals. Coefficients are
// kept quantized, in zigzag order, in blocks the caller owns for the whole
// frame; bytes come through the stream buffer's reader only.
#pragma once

#include <cstdint>

#include "decoder/coefficient_fields.h"
#include "decoder/decoder_state.h"
#include "stream/byte_stream.h"

namespace iffjpeg {

// Whether the current scan header (dec.scanComponents, spectral selection
// and successive approximation) may follow the scans recorded in history
// (per frame component and zigzag position, the last point transform, -1
// when never coded; null for the first scan). T.81 G.1.1.1.1: Ss <= Se <=
// 63, Ah and Al at most 13, a DC scan codes nothing else, an AC scan codes
// one component, and a refinement (Ah != 0) refines coefficients already
// coded, one bit further down (Al = Ah - 1).
bool ProgressiveScanValid(const DecoderState& dec, const int8_t (*history)[64]);

// Resets the reader, the predictions, the run and the restart count, and
// builds the tables the scan uses. kErrBadData when one is not defined.
int32_t StartProgressiveScan(ByteStream& stream, DecoderState& dec, ProgressiveScan& scan);

// Decodes count MCUs, their blocks listed one after another (dec.blocksInMcu
// each, in dec.mcuMembership order), with the restart step due before each.
// Stops early once the reader has overrun the scan's data or the restart
// sequence was abandoned (dec.restartsAbandoned); a wrong restart number
// records kErrDataEnded in stream.lineCode.
void DecodeProgressiveMcus(ByteStream& stream, DecoderState& dec, ProgressiveScan& scan,
                           CoefBlock** blocks, int32_t count);

}  // namespace iffjpeg
