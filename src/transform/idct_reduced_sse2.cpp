// The half-size fold of idct_reduced.cpp with SSE2. Each weighted pair is
// one _mm_madd_epi16 (the products and their sum exact in 32 bits, the
// weights being below 2^13), then the same rounding and arithmetic shift
// as the scalar fold; _mm_packs_epi32 saturates to 16 bits as it clamps.
#if defined(IFFJPEG_HAVE_SSE2)
#include <emmintrin.h>

#include "transform/idct_reduced.h"

namespace iffjpeg {
namespace {

// Pairs (a, b) of 16-bit lanes times (keep, -alias), rounded and shifted.
inline __m128i Weigh(__m128i pairs, __m128i weights) {
  __m128i sum = _mm_add_epi32(_mm_madd_epi16(pairs, weights), _mm_set1_epi32(1 << (kFoldBits - 1)));
  return _mm_srai_epi32(sum, kFoldBits);
}

inline __m128i PairWeight(int32_t keep, int32_t alias) {
  return _mm_set1_epi32(
      static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(keep)) |
                           static_cast<uint32_t>(static_cast<uint16_t>(-alias)) << 16));
}

inline __m128i LoadRow(const int16_t* block, int32_t r) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
}

}  // namespace

void FoldForHalfSizeSse2(int16_t* block, bool across, bool down) {
  if (down) {
    // Row u of every column with row 8 - u.
    const __m128i weights[4] = {_mm_setzero_si128(), PairWeight(kFoldKeep[1], kFoldAlias[1]),
                                PairWeight(kFoldKeep[2], kFoldAlias[2]),
                                PairWeight(kFoldKeep[3], kFoldAlias[3])};
    for (int32_t u = 1; u < 4; ++u) {
      __m128i low = LoadRow(block, u), high = LoadRow(block, 8 - u);
      __m128i left = Weigh(_mm_unpacklo_epi16(low, high), weights[u]);
      __m128i right = Weigh(_mm_unpackhi_epi16(low, high), weights[u]);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * u), _mm_packs_epi32(left, right));
    }
  }
  if (across) {
    // Columns 0..3 of a row paired with 4, 7, 6, 5; column 0 keeps its
    // value (weight 1 in 13 bits, 0 for column 4).
    auto w = [](int32_t v) { return static_cast<int16_t>(v); };
    const __m128i weights =
        _mm_setr_epi16(w(kFoldKeep[0]), 0, w(kFoldKeep[1]), w(-kFoldAlias[1]), w(kFoldKeep[2]),
                       w(-kFoldAlias[2]), w(kFoldKeep[3]), w(-kFoldAlias[3]));
    const int32_t rows = down ? 4 : 8;
    for (int32_t r = 0; r < rows; ++r) {
      __m128i row = LoadRow(block, r);
      __m128i mirrored = _mm_shufflehi_epi16(row, _MM_SHUFFLE(1, 2, 3, 0));  // 4, 7, 6, 5
      __m128i pairs = _mm_unpacklo_epi16(row, _mm_unpackhi_epi64(mirrored, mirrored));
      __m128i folded = Weigh(pairs, weights);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(block + 8 * r), _mm_packs_epi32(folded, folded));
    }
  }
}

}  // namespace iffjpeg
#endif  // IFFJPEG_HAVE_SSE2
