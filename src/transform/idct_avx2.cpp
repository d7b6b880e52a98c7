// The inverse DCT of idct_sse2.cpp for two blocks at once with AVX2: each
// 128-bit lane runs the SSE2 kernel's operations on one block (the lane
// building blocks of transform_lanes.h act within lanes), so each block's
// samples are the SSE2 kernel's, which are the scalar transform's.
#if defined(IFFJPEG_HAVE_AVX2)
#include <immintrin.h>

#include "transform/idct.h"
#include "transform/transform_lanes.h"

namespace iffjpeg {
namespace {

// Two blocks' rows side by side: +128 saturating in 16 bits, then unsigned
// saturation to 0..255 (the clamp of the scalar store for every 16-bit
// value), and block A's eight samples followed by block B's.
inline void StoreRows(__m256i values, uint8_t* out) {
  __m256i shifted = _mm256_adds_epi16(values, _mm256_set1_epi16(128));
  __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(shifted, shifted), 0x08);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
}

}  // namespace

void InverseDctPairToSamplesAvx2(const int16_t* blockA, const int16_t* blockB,
                                 SampleRow const* rows, int32_t column) {
  __m256i v[8];
  for (int k = 0; k < 8; ++k) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blockA + 8 * k));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blockB + 8 * k));
    v[k] = _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
  }
  Transpose8x8(v);
  __m256i t[8];
  InverseTransform8<true>(v, t);
  Transpose8x8(t);
  InverseTransform8<false>(t, v);
  for (int k = 0; k < 8; ++k) StoreRows(v[k], rows[k] + column);
}

void InverseDctPairLowToSamplesAvx2(const int16_t* blockA, const int16_t* blockB,
                                    SampleRow const* rows, int32_t column) {
  // Coefficient rows 0..3, columns 0..3 of each block in its lane.
  __m256i r[4];
  for (int k = 0; k < 4; ++k) {
    __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(blockA + 8 * k));
    __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(blockB + 8 * k));
    r[k] = _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
  }
  __m256i v[8];
  InverseTransformLowFour(r, v);
  for (int k = 0; k < 8; ++k) StoreRows(v[k], rows[k] + column);
}

}  // namespace iffjpeg
#endif  // IFFJPEG_HAVE_AVX2
