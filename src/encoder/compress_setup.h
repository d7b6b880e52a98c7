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

// MCU layout of the scan (LayOutScan: T.81 A.2.2 for a lone component,
// A.2.3 for several), its restart interval in MCUs and its downsamplers. 2
// when an MCU would exceed 10 blocks, when a sampling ratio is not
// integral, or when a scan component has no Huffman table.
int32_t SetUpScan(EncoderState& enc);

}  // namespace iffjpeg
