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

// InverseTransform8 when inputs 4..7 are zero: the same
// products and the same 32-bit sums with the zero terms left out (the odd
// part's pieces gathered into one pair of constants per output, which
// gives the same sums modulo 2^32).
template <class V>
inline Wide<V> EvenOdd(V x02lo, V x02hi, V x13lo, V x13hi, int16_t c0, int16_t c2, int16_t c1,
                       int16_t c3, bool plus) {
  Wide<V> e = Madd(x02lo, x02hi, Pair<V>(c0, c2));
  Wide<V> o = Madd(x13lo, x13hi, Pair<V>(c1, c3));
  return plus ? Add(e, o) : Sub(e, o);
}

// Outputs k and 7 - k of the reduced transform, from pairs (i0, i2) and
// (i1, i3): e = i0 8192 + i2 c2, o = i1 c1 + i3 c3.
struct LowConstants {
  int16_t c2, c1, c3;
};
// e10, e11, e12, e13 with o3, o2, o1, o0 (T.81 A.3.3's butterfly order).
constexpr LowConstants kLow[4] = {{4433 + 6270, 12299 - 7373 + 9633 - 3196, 9633},  // out 0 / 7
                                  {4433, 9633, 25172 - 20995 + 9633 - 16069},       // out 1 / 6
                                  {-4433, 9633 - 3196, 9633 - 20995},               // out 2 / 5
                                  {-(4433 + 6270), 9633 - 7373, 9633 - 16069}};     // out 3 / 4

template <bool kFirstPass>
inline void TransformLow(const __m256i in[4], __m256i out[8]) {
  __m256i i02lo = _mm256_unpacklo_epi16(in[0], in[2]), i02hi = _mm256_unpackhi_epi16(in[0], in[2]);
  __m256i i13lo = _mm256_unpacklo_epi16(in[1], in[3]), i13hi = _mm256_unpackhi_epi16(in[1], in[3]);
  for (int k = 0; k < 4; ++k) {
    const LowConstants& c = kLow[k];
    if (kFirstPass) {
      // Lanes 4..7 (the block's rows 4..7) are zero in the first pass and
      // come out zero: only the low half is worked out.
      const __m256i zero = _mm256_setzero_si256();
      auto a = EvenOdd(i02lo, zero, i13lo, zero, 8192, c.c2, c.c1, c.c3, true);
      auto b = EvenOdd(i02lo, zero, i13lo, zero, 8192, c.c2, c.c1, c.c3, false);
      a.hi = zero;
      b.hi = zero;
      out[k] = DescaleTruncating<11>(a);
      out[7 - k] = DescaleTruncating<11>(b);
    } else {
      out[k] = Descale<18>(EvenOdd(i02lo, i02hi, i13lo, i13hi, 8192, c.c2, c.c1, c.c3, true));
      out[7 - k] = Descale<18>(EvenOdd(i02lo, i02hi, i13lo, i13hi, 8192, c.c2, c.c1, c.c3, false));
    }
  }
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
  // Coefficient rows 0..3, columns 0..3, transposed into columns 0..3 with
  // the rows in lanes 0..3 (lanes 4..7 zero).
  __m256i r[4];
  for (int k = 0; k < 4; ++k) {
    __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(blockA + 8 * k));
    __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(blockB + 8 * k));
    r[k] = _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
  }
  const __m256i zero = _mm256_setzero_si256();
  __m256i a01 = _mm256_unpacklo_epi16(r[0], r[1]), a23 = _mm256_unpacklo_epi16(r[2], r[3]);
  __m256i c01 = _mm256_unpacklo_epi32(a01, a23), c23 = _mm256_unpackhi_epi32(a01, a23);
  __m256i cols[4] = {_mm256_unpacklo_epi64(c01, zero), _mm256_unpackhi_epi64(c01, zero),
                     _mm256_unpacklo_epi64(c23, zero), _mm256_unpackhi_epi64(c23, zero)};
  __m256i t[8];
  TransformLow<true>(cols, t);
  // The intermediate rows 0..3 (rows 4..7 are zero), columns in lanes.
  __m256i b01 = _mm256_unpacklo_epi16(t[0], t[1]), b23 = _mm256_unpacklo_epi16(t[2], t[3]);
  __m256i b45 = _mm256_unpacklo_epi16(t[4], t[5]), b67 = _mm256_unpacklo_epi16(t[6], t[7]);
  __m256i d0 = _mm256_unpacklo_epi32(b01, b23), d1 = _mm256_unpackhi_epi32(b01, b23);
  __m256i d2 = _mm256_unpacklo_epi32(b45, b67), d3 = _mm256_unpackhi_epi32(b45, b67);
  __m256i rowsIn[4] = {_mm256_unpacklo_epi64(d0, d2), _mm256_unpackhi_epi64(d0, d2),
                       _mm256_unpacklo_epi64(d1, d3), _mm256_unpackhi_epi64(d1, d3)};
  __m256i v[8];
  TransformLow<false>(rowsIn, v);
  for (int k = 0; k < 8; ++k) StoreRows(v[k], rows[k] + column);
}

}  // namespace iffjpeg
#endif  // IFFJPEG_HAVE_AVX2
