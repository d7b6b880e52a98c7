#pragma once
// Error concealment for sequential scans with restart intervals (extended
// reading only). The MCUs of an interval that is lost (passed over after a
// restart marker named a later one) or whose data turn out to be damaged
// get flat blocks: the DC term of the block above the MCU row in the same
// column (T.81 leaves concealment to the decoder; lost intervals run along
// a row, so the row above is the nearest intact neighbour). The first MCU
// row of a scan, having none above it, takes the DC prediction at the end
// of the last interval that ended intact.

#include <cstdint>

#include "decoder/decoder_state.h"
#include "stream/byte_stream.h"

namespace iffjpeg {

// At the start of a scan: the counters reset, the store for the DC terms
// above allocated once (extended reading with restarts).
void startConcealment(DecoderState& dec);
// Before a sequential scan's MCU row is decoded: where its blocks are, the
// blocks of each scan component's block rows given (rows[c][0..mcuHeight)).
void beginMcuRow(DecoderState& dec, const BlockArray* rows);
// After the row: a restart due at the row's end is processed now rather
// than before the next MCU, so that an interval found damaged is concealed
// before its row is reconstructed; then the row's bottom DC terms are kept
// for the row below.
void finishMcuRow(ByteStream& stream, BitReader& bits, DecoderState& dec);
// A passed-over MCU (the last one begun): its blocks, zero, are given their
// concealment DC terms.
void concealSkippedMcu(const DecoderState& dec, CoefBlock** blocks);
// The scan's MCUs from .. to - 1 that lie in the MCU row being decoded are
// cleared and concealed; those of rows already reconstructed are left.
void concealMcus(DecoderState& dec, int32_t from, int32_t to);

}  // namespace iffjpeg
