// The 8x8 inverse DCT: separable integer Loeffler-Ligtenberg-Moschytz form
// with 13-bit constants (T.81 A.3.3 defines the transform it approximates).
#pragma once

#include <cstring>

#include "memory/memory_manager.h"

namespace iffjpeg {

// Transforms a block of dequantized coefficients (natural order, index
// 8 x row + column) in place. The outputs are the samples minus 128, not
// limited: for valid data they lie near -128..127.
void inverseDct(CoefBlock& block);

}  // namespace iffjpeg

namespace iffjpeg {

// The inverse DCT of one block straight into 8 x 8 samples: each output
// value is level-shifted by 128 and clamped to 0..255, then stored at
// rows[k][column + x]. Every variant gives exactly the samples of
// inverseDct followed by the clamp.
using InverseDctToSamplesFn = void (*)(const int16_t* block, SampleRow const* rows, int32_t column);

void InverseDctToSamplesScalar(const int16_t* block, SampleRow const* rows, int32_t column);
#if defined(IFFJPEG_HAVE_SSE2)
void InverseDctToSamplesSse2(const int16_t* block, SampleRow const* rows, int32_t column);
#endif

// A block whose AC coefficients are all zero (common in smooth areas and in
// chroma) transforms to one value everywhere; these two give exactly the
// samples InverseDctToSamplesScalar gives for such a block.
// A block with nonzero coefficients in its top-left 4 x 4 corner alone
// (most blocks of photographs) can take a transform that leaves the zero
// terms out. BlockExtent says which kind of block this is.
enum class BlockExtent { kDcOnly, kLowFour, kFull };
inline BlockExtent ClassifyBlock(const int16_t* block) {
  // Sixteen 64-bit words of four coefficients: word 2r holds row r's
  // columns 0..3, word 2r + 1 its columns 4..7. Each is loaded straight
  // from the block (ORs the compiler may widen into vector ones).
  auto word = [block](int i) {
    uint64_t w;
    std::memcpy(&w, block + 4 * i, sizeof w);
    return w;
  };
  uint64_t outside = word(1) | word(3) | word(5) | word(7);
  for (int i = 8; i < 16; ++i) outside |= word(i);
  if (outside != 0) return BlockExtent::kFull;
  // The DC term left out.
  uint64_t low =
      word(2) | word(4) | word(6) | static_cast<uint16_t>(block[1] | block[2] | block[3]);
  return low != 0 ? BlockExtent::kLowFour : BlockExtent::kDcOnly;
}

void DcOnlyToSamples(int16_t dc, SampleRow const* rows, int32_t column);

// Two horizontally adjacent blocks: A's samples at columns column..+7, B's
// at column + 8..+15, each exactly as InverseDctToSamplesScalar's.
using InverseDctPairToSamplesFn = void (*)(const int16_t* blockA, const int16_t* blockB,
                                           SampleRow const* rows, int32_t column);
#if defined(IFFJPEG_HAVE_AVX2)
void InverseDctPairToSamplesAvx2(const int16_t* blockA, const int16_t* blockB,
                                 SampleRow const* rows, int32_t column);
// The same for two blocks that are not kFull: only their top-left 4 x 4
// coefficients are read.
void InverseDctPairLowToSamplesAvx2(const int16_t* blockA, const int16_t* blockB,
                                    SampleRow const* rows, int32_t column);
#endif

// Four blocks side by side, consecutive in memory (blocks + 64 j): block
// j's samples at columns column + 8 j..+7, each exactly as
// InverseDctToSamplesScalar's.
using InverseDctQuadToSamplesFn = void (*)(const int16_t* blocks, SampleRow const* rows,
                                           int32_t column);
#if defined(IFFJPEG_HAVE_AVX512)
void InverseDctQuadToSamplesAvx512(const int16_t* blocks, SampleRow const* rows, int32_t column);
// The same for four blocks that are not kFull: only their top-left 4 x 4
// coefficients are read.
void InverseDctQuadLowToSamplesAvx512(const int16_t* blocks, SampleRow const* rows, int32_t column);
#endif

}  // namespace iffjpeg
