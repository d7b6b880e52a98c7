// The inverse DCT of idct_sse2.cpp for four blocks at once with AVX-512:
// each 128-bit lane runs the SSE2 kernel's operations on one block (the
// lane building blocks of transform_lanes.h act within lanes), so each
// block's samples are the SSE2 kernel's, which are the scalar transform's.
#if defined(IFFJPEG_HAVE_AVX512)
// GCC 12's 512-bit intrinsics pass a deliberately undefined register as the
// merge source of their unmasked forms, which its own -Wuninitialized then
// reports wherever they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "transform/idct.h"
#include "transform/transform_lanes.h"

namespace iffjpeg {
namespace {

// Four blocks' rows side by side: +128 saturating in 16 bits, then unsigned
// saturation to 0..255 (the clamp of the scalar store for every 16-bit
// value); each lane's eight samples are gathered, block 0's first.
inline void StoreRows(__m512i values, uint8_t* out) {
  const __m512i shifted = _mm512_adds_epi16(values, _mm512_set1_epi16(128));
  const __m512i packed = _mm512_packus_epi16(shifted, shifted);
  const __m512i order = _mm512_setr_epi64(0, 2, 4, 6, 0, 2, 4, 6);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                      _mm512_castsi512_si256(_mm512_permutexvar_epi64(order, packed)));
}

// Row k of the four blocks, one block per 128-bit lane (block 0 lowest):
// all eight coefficients, or (kLowFour) columns 0..3 in the lane's low half.
template <bool kLowFour>
inline __m512i GatherRow(const int16_t* blocks, int k) {
  auto row = [&](int j) {
    const auto* p = reinterpret_cast<const __m128i*>(blocks + 64 * j + 8 * k);
    return kLowFour ? _mm_loadl_epi64(p) : _mm_loadu_si128(p);
  };
  const __m256i low = _mm256_inserti128_si256(_mm256_castsi128_si256(row(0)), row(1), 1);
  const __m256i high = _mm256_inserti128_si256(_mm256_castsi128_si256(row(2)), row(3), 1);
  return _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
}

}  // namespace

void InverseDctQuadToSamplesAvx512(const int16_t* blocks, SampleRow const* rows, int32_t column) {
  __m512i v[8];
  for (int k = 0; k < 8; ++k) v[k] = GatherRow<false>(blocks, k);
  Transpose8x8(v);
  __m512i t[8];
  InverseTransform8<true>(v, t);
  Transpose8x8(t);
  InverseTransform8<false>(t, v);
  for (int k = 0; k < 8; ++k) StoreRows(v[k], rows[k] + column);
}

void InverseDctQuadLowToSamplesAvx512(const int16_t* blocks, SampleRow const* rows,
                                      int32_t column) {
  // Coefficient rows 0..3, columns 0..3 of each block in its lane.
  __m512i r[4];
  for (int k = 0; k < 4; ++k) r[k] = GatherRow<true>(blocks, k);
  __m512i v[8];
  InverseTransformLowFour(r, v);
  for (int k = 0; k < 8; ++k) StoreRows(v[k], rows[k] + column);
}

}  // namespace iffjpeg
#endif  // IFFJPEG_HAVE_AVX512
