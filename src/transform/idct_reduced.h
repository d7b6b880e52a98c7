// Reduced inverse DCTs for scaled decoding: an 8 x 8 block of dequantized
// coefficients (natural order) to size x size samples, size 8, 4, 2 or 1.
#pragma once

#include <cstdint>

#include "memory/memory_manager.h"
#include "transform/dct_constants.h"

namespace iffjpeg {

// Size 8: the full transform. Otherwise only the top-left size x size
// coefficients are read. Size 4 and 2: the
// n-point inverse transform of those terms, with the 8-point transform's
// normalization, so that each output approximates the mean of the 2 x 2 or
// 4 x 4 samples the full transform gives (T.81 A.3.3 evaluated at their
// centres). Size 1: exactly the value the full transform gives a block
// holding only its DC term. Samples are level-shifted by 128 and clamped,
// and stored at rows[k][column + x].
void ReducedInverseDctToSamples(const int16_t* block, int32_t size, SampleRow const* rows,
                                int32_t column);

// A width x height reduced transform (each 1, 2, 4 or 8), for components
// whose subsampling differs across and down: the same formula in each
// direction; equal sides are the square transform above.
void ReducedInverseDctToSamples(const int16_t* block, int32_t width, int32_t height,
                                SampleRow const* rows, int32_t column);

// One of the transforms above, chosen once for blocks of one size
// (scaled decoding picks it per component, not per block): the same
// samples as ReducedInverseDctToSamples(block, width, height, rows, column).
using ReducedTransform = void (*)(const int16_t* block, SampleRow const* rows, int32_t column);
ReducedTransform SelectReducedTransform(int32_t width, int32_t height);

// The 2 x 2 transform of a row of count blocks, block b to samples 2b and
// 2b + 1 of rows[0] and rows[1], and with clear its four terms zeroed
// after: what the transform above gives block by block, without a call
// per block (1/4 of a full component, 1/8 of a subsampled one).
void ReducedTwoRowToSamples(CoefBlock* blocks, int32_t count, SampleRow const* rows, bool clear);

// The 4 x 4 transform, scalar, and four columns at a time (AVX2, doubles:
// every value is an integer below 2^53, so the same samples); scaled
// decoding takes the one the transform kernels select.
void ReducedFourToSamplesScalar(const int16_t* block, SampleRow const* rows, int32_t column);
#if defined(IFFJPEG_HAVE_AVX2)
void ReducedFourToSamplesAvx2(const int16_t* block, SampleRow const* rows, int32_t column);
#endif

// Half size (4 samples across or down a block) as the means of pairs of
// the full transform's samples. The mean of samples 2x and 2x + 1 of the
// term of frequency u is cos(u pi / 16) times its value at their centre,
// which is the 4-point term u for u < 4, zero for u = 4, and minus the
// 4-point term 8 - u for u > 4 (T.81 A.3.3). Folding the coefficients
// accordingly, X[u] := cos(u pi / 16) X[u] - cos((8 - u) pi / 16) X[8 - u]
// for u = 1..3 (13-bit weights, rounded, saturated to 16 bits), makes the
// size-4 transform give those means but for rounding and the clamping of
// the full samples. across folds the columns of all eight rows, down the
// rows of all eight columns first (then across only rows 0..3 matter).
// Scaled decoding folds only the blocks that hold terms past the fourth
// along a folded side; the others keep their terms 1..3 unweighted (the
// factors 0.98, 0.92, 0.83), which costs far less than the terms 5..7 a
// fold takes in (at least 48 dB against the means on photographs).
// The weights: kFoldKeep[u] = cos(u pi / 16), kFoldAlias[u] =
// cos((8 - u) pi / 16), kFoldBits fraction bits (u = 0 keeps the DC term).
inline constexpr int32_t kFoldBits = 13;
inline constexpr int32_t kFoldKeep[4] = {8192, 8035, 7568, 6811};
inline constexpr int32_t kFoldAlias[4] = {0, 1598, 3135, 4551};
using FoldForHalfSizeFn = void (*)(int16_t* block, bool across, bool down);
void FoldForHalfSizeScalar(int16_t* block, bool across, bool down);
#if defined(IFFJPEG_HAVE_SSE2)
void FoldForHalfSizeSse2(int16_t* block, bool across, bool down);
#endif

// The one sample of size 1, as DcOnlyToSamples gives it: pass 1 keeps
// dc x 4 in 16 bits, pass 2 descales it; level-shifted and clamped.
inline uint8_t ReducedDcSample(int16_t dc) {
  using dct::kPass1Bits;
  auto scaled = static_cast<int16_t>(static_cast<int32_t>(dc) * (1 << kPass1Bits));
  int32_t value = ((scaled + (1 << (kPass1Bits + 2))) >> (kPass1Bits + 3)) + 128;
  return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

}  // namespace iffjpeg
