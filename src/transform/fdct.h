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

// A quantization table laid out for the transform kernels: the quantizer of
// each natural-order coefficient, and the reciprocal the SIMD quantizer
// multiplies by instead of dividing (TruncatingReciprocal).
struct QuantDivisors {
  uint16_t natural[64];
  float reciprocal[64];
};

// From a table in zigzag order, as a DQT segment holds it.
void PrepareQuantDivisors(const uint16_t* quantval, QuantDivisors& divisors);

// 1 / q for the quantizer taken as a signed 16-bit value, rounded away from
// zero to a float r with |r| >= 1 / |q|: for every |n| < 2^21, n x r (in
// single precision) truncates to exactly n / q truncated, since
// |n x r - n / q| <= |n / q| x 2^-22 stays below the distance 1 / |q| from
// n / q to the next integer away from zero.
float TruncatingReciprocal(uint16_t quantizer);

// One 8x8 block of samples, rows[k][column + x], level-shifted by 128,
// transformed by forwardDct and quantized: natural-order coefficient i is
// divided by divisors.natural[i] (16-bit sums, rounded to nearest, halves
// away from zero) and stored at its zigzag position in destination. Every
// variant gives exactly the scalar twin's coefficients.
using ForwardDctQuantizeFn = void (*)(SampleRow const* rows, int32_t column,
                                      const QuantDivisors& divisors, int16_t* destination);

void ForwardDctQuantizeScalar(SampleRow const* rows, int32_t column, const QuantDivisors& divisors,
                              int16_t* destination);
#if defined(IFFJPEG_HAVE_SSE2)
void ForwardDctQuantizeSse2(SampleRow const* rows, int32_t column, const QuantDivisors& divisors,
                            int16_t* destination);
#endif

// One block for the pair kernel: its samples rows[k][column + x], its
// table and where its zigzag-ordered coefficients go.
struct FdctBlock {
  SampleRow const* rows;
  int32_t column;
  const QuantDivisors* divisors;
  int16_t* destination;
};

// Any two blocks (of one component or of two), each exactly as
// ForwardDctQuantizeScalar's.
using ForwardDctQuantizePairFn = void (*)(const FdctBlock& a, const FdctBlock& b);
#if defined(IFFJPEG_HAVE_AVX2)
void ForwardDctQuantizePairAvx2(const FdctBlock& a, const FdctBlock& b);
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
