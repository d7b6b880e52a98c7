// Compression set-up: component geometry, method selection and the scan's
// MCU layout.
#pragma once

#include <cstdint>

#include "encoder/encoder_state.h"

namespace iffjpeg {

// Largest sampling factors and each component's true size. 7 for a factor
// outside 1..4; 2 for a component count outside 1..4 or a component whose
// quantization table slot is out of range or empty.
int32_t ComputeComponentSizes(EncoderState& enc);

// Colour converter, entropy encoder, controller and downsampler selection.
// 2 for an unsupported configuration, 5 when the colour table cannot be had.
int32_t SelectCompressMethods(EncoderState& enc);

// MCU layout of the scan. 2 when an MCU would exceed 10 blocks, when a
// sampling ratio is not integral, or when a scan component has no Huffman
// table.
int32_t SetUpInterleavedScan(EncoderState& enc);
int32_t SetUpSingleComponentScan(EncoderState& enc);

}  // namespace iffjpeg
