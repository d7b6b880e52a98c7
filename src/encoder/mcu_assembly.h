// MCU assembly: blocks cut from the downsampled rows, level-shifted,
// transformed and quantized into zigzag order, handed on MCU by MCU.
#pragma once

#include <cstdint>

#include "encoder/encoder_state.h"
#include "format/jpeg_records.h"

namespace iffjpeg {

struct IFFHandle;

// Encodes n MCU rows from the output buffers, counted from their top.
void EncodeMcuRows(IFFHandle& handle, EncoderState& enc, int32_t n);

}  // namespace iffjpeg
