// The forward DCT and quantizer of fdct.cpp for eight rows (or columns) at
// once with SSE2, on the lane building blocks of transform_lanes.h (which
// say why every bit is the scalar transform's).
#if defined(IFFJPEG_HAVE_SSE2)
#include <emmintrin.h>
#include <xmmintrin.h>

#include "transform/fdct.h"
#include "transform/transform_lanes.h"

namespace iffjpeg {
namespace {

// Truncating division of 16-bit values as a product with the reciprocal
// TruncatingReciprocal gives (exact for these sums, see fdct.h).
inline __m128i DivideTruncating(__m128i sum32, __m128 reciprocal) {
  return _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(sum32), reciprocal));
}

inline __m128i SignExtendLo(__m128i v) { return _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16); }
inline __m128i SignExtendHi(__m128i v) { return _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16); }

// QuantizeCoefficient on eight lanes, every step in the same 16-bit sums.
inline __m128i Quantize(__m128i c, __m128i q, const float* reciprocal) {
  __m128i h = _mm_srai_epi16(q, 1);
  __m128i negative = _mm_cmplt_epi16(c, _mm_setzero_si128());
  // |c| + h as the scalar forms it: h - c when negative, c + h otherwise.
  __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(c, negative), negative);
  __m128i sum = _mm_add_epi16(magnitude, h);
  __m128i lo = DivideTruncating(SignExtendLo(sum), _mm_loadu_ps(reciprocal));
  __m128i hi = DivideTruncating(SignExtendHi(sum), _mm_loadu_ps(reciprocal + 4));
  // Back to 16 bits by truncation (a quotient of 32768 wraps as in C++).
  lo = _mm_srai_epi32(_mm_slli_epi32(lo, 16), 16);
  hi = _mm_srai_epi32(_mm_slli_epi32(hi, 16), 16);
  __m128i quotient = _mm_packs_epi32(lo, hi);
  return _mm_sub_epi16(_mm_xor_si128(quotient, negative), negative);
}

}  // namespace

void ForwardDctQuantizeSse2(SampleRow const* rows, int32_t column, const QuantDivisors& divisors,
                            int16_t* destination) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(128);
  __m128i v[8];
  for (int y = 0; y < 8; ++y) {
    __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[y] + column));
    v[y] = _mm_sub_epi16(_mm_unpacklo_epi8(bytes, zero), bias);
  }
  // Pass 1 on rows (lane r = row r), pass 2 on columns (lane u = column u).
  Transpose8x8(v);
  __m128i t[8];
  ForwardTransform8<true>(v, t);
  Transpose8x8(t);
  ForwardTransform8<false>(t, v);
  alignas(16) int16_t natural[64];
  for (int y = 0; y < 8; ++y) {
    __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(divisors.natural + 8 * y));
    _mm_store_si128(reinterpret_cast<__m128i*>(natural + 8 * y),
                    Quantize(v[y], q, divisors.reciprocal + 8 * y));
  }
  for (int k = 0; k < 64; ++k) destination[k] = natural[zigzagToNatural[k]];
}

}  // namespace iffjpeg
#endif  // IFFJPEG_HAVE_SSE2
