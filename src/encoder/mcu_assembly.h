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

// One 8x8 block whose top-left sample is rows[firstRow][firstColumn] into 64
// quantized coefficients in zigzag order. workspace holds 64 values.
void TransformAndQuantize(const SampleArray rows, int32_t firstRow, int32_t firstColumn,
                          const QuantTable& table, int16_t* workspace, int16_t* destination);

// Quantizes 64 coefficients in natural order into zigzag order, each
// divided by its quantizer and rounded to nearest, halves away from zero.
void QuantizeBlock(const int16_t* coefficients, const QuantTable& table, int16_t* destination);

}  // namespace iffjpeg
