// One MCU row: entropy-decode its coefficient blocks, then transform them
// into the component sample rows.
#pragma once

#include <cstdint>

#include "driver/handle.h"

namespace iffjpeg {

// Both clear the blocks before decoding into them, unless
// handle.decomp.coefRowsClear says they are zero already.
// A one-component scan: one row of blocks, one block per MCU.
void DecodeMcuRowSingle(IFFHandle& handle, DecoderState& dec, BlockArray* coefRows);
// An interleaved scan: MCU-height block rows per component (T.81 A.2.3).
void DecodeMcuRowInterleaved(IFFHandle& handle, DecoderState& dec, BlockArray* coefRows);

// Inverse-transforms every block of the MCU row and stores the samples,
// level-shifted and clamped to 0..255, from row firstRow of each scan
// component's sample rows. With handle.decomp.coefRowsClear set, each block
// is left zero after its transform, so that the next MCU row's decoding
// needs no clearing.
void ReconstructMcuRow(IFFHandle& handle, DecoderState& dec, BlockArray* coefRows,
                       SampleArray* sampleRows, int32_t firstRow);

// One row of count blocks to 8 x 8 samples each, at out[0..8) from column
// 0, through the kernels ReconstructMcuRow uses (it calls this for each
// block row); with clear, each block is left zero after its transform.
void TransformBlockRow(BlockRow blocks, int32_t count, SampleRow const* out, bool clear);

}  // namespace iffjpeg
