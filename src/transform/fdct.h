// The forward 8x8 DCT in integer arithmetic.
#pragma once

#include <cstdint>

#include "format/jpeg_records.h"
#include "memory/memory_manager.h"

namespace iffjpeg {

// Transforms 64 level-shifted samples (natural order) in place into the true
// 2-D DCT coefficients: coefficient (u, v), u horizontal, at index 8v + u.
void forwardDct(int16_t* block);

}  // namespace iffjpeg

namespace iffjpeg {

// One 8x8 block of samples, rows[k][column + x], level-shifted by 128,
// transformed by forwardDct and quantized: natural-order coefficient i is
// divided by quantNatural[i] (16-bit sums, rounded to nearest, halves away
// from zero) and stored at its zigzag position in destination. Every
// variant gives exactly the scalar twin's coefficients.
using ForwardDctQuantizeFn = void (*)(SampleRow const* rows, int32_t column,
                                      const uint16_t* quantNatural, int16_t* destination);

void ForwardDctQuantizeScalar(SampleRow const* rows, int32_t column, const uint16_t* quantNatural,
                              int16_t* destination);
#if defined(IFFJPEG_HAVE_SSE2)
void ForwardDctQuantizeSse2(SampleRow const* rows, int32_t column, const uint16_t* quantNatural,
                            int16_t* destination);
#endif

// One coefficient quantized: q as a signed 16-bit value, h = q / 2, and
// |c| + h formed in 16 bits before the truncating division.
inline int16_t QuantizeCoefficient(int16_t c, uint16_t quantizer) {
  auto q = static_cast<int16_t>(quantizer);
  auto h = static_cast<int16_t>(q >> 1);
  if (c < 0) return static_cast<int16_t>(-(static_cast<int16_t>(h - c) / q));
  return static_cast<int16_t>(static_cast<int16_t>(c + h) / q);
}

}  // namespace iffjpeg
