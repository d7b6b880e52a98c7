// The inverse DCT of idct_sse2.cpp for two blocks at once with AVX2: each
// 128-bit lane runs the SSE2 kernel's operations on one block (every
// instruction used acts within lanes), so each block's samples are the
// SSE2 kernel's, which are the scalar transform's.
#if defined(IFFJPEG_HAVE_AVX2)
#include <immintrin.h>

#include "transform/idct.h"

namespace iffjpeg {
namespace {

// Pairs of constants for pmaddwd: (a, b) multiplies the interleaved inputs
// (x, y) into a x + b y.
inline __m256i Pair(int16_t a, int16_t b) {
  return _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(a)) |
                           (static_cast<int32_t>(b) << 16));
}

struct Wide {
  __m256i lo, hi;  // lanes 0..3 and 4..7 as 32-bit values
};

inline Wide Madd(__m256i xyLo, __m256i xyHi, __m256i pair) {
  return {_mm256_madd_epi16(xyLo, pair), _mm256_madd_epi16(xyHi, pair)};
}
inline Wide Add(Wide a, Wide b) {
  return {_mm256_add_epi32(a.lo, b.lo), _mm256_add_epi32(a.hi, b.hi)};
}
inline Wide Sub(Wide a, Wide b) {
  return {_mm256_sub_epi32(a.lo, b.lo), _mm256_sub_epi32(a.hi, b.hi)};
}

// Pass 1 result: (v + 1024) >> 11 kept to 16 bits (truncated, as the scalar
// store to int16 does): bits 11..26 of the rounded sum.
inline __m256i DescalePass1(Wide v) {
  const __m256i round = _mm256_set1_epi32(1 << 10);
  __m256i lo = _mm256_srai_epi32(_mm256_slli_epi32(_mm256_add_epi32(v.lo, round), 5), 16);
  __m256i hi = _mm256_srai_epi32(_mm256_slli_epi32(_mm256_add_epi32(v.hi, round), 5), 16);
  return _mm256_packs_epi32(lo, hi);  // already in range: no saturation
}

// Pass 2 result: (v + 2^17) >> 18, which always fits in 16 bits.
inline __m256i DescalePass2(Wide v) {
  const __m256i round = _mm256_set1_epi32(1 << 17);
  __m256i lo = _mm256_srai_epi32(_mm256_add_epi32(v.lo, round), 18);
  __m256i hi = _mm256_srai_epi32(_mm256_add_epi32(v.hi, round), 18);
  return _mm256_packs_epi32(lo, hi);
}

// The 1-D transform on eight lanes: in[k] holds input k of each lane.
template <bool kFirstPass>
inline void Transform8(const __m256i in[8], __m256i out[8]) {
  // Even part: z1 = (i2 + i6) c(4433); t3 = z1 + i2 c(6270); t2 = z1 - i6 c(15137).
  __m256i i26lo = _mm256_unpacklo_epi16(in[2], in[6]), i26hi = _mm256_unpackhi_epi16(in[2], in[6]);
  Wide t3 = Madd(i26lo, i26hi, Pair(4433 + 6270, 4433));
  Wide t2 = Madd(i26lo, i26hi, Pair(4433, 4433 - 15137));
  __m256i i04lo = _mm256_unpacklo_epi16(in[0], in[4]), i04hi = _mm256_unpackhi_epi16(in[0], in[4]);
  Wide t0 = Madd(i04lo, i04hi, Pair(8192, 8192));
  Wide t1 = Madd(i04lo, i04hi, Pair(8192, -8192));
  Wide e10 = Add(t0, t3), e13 = Sub(t0, t3), e11 = Add(t1, t2), e12 = Sub(t1, t2);

  // Odd part, with o0..o3 = i7, i5, i3, i1 and z5 = (z3 + z4) c(9633):
  //   z3' = z3 c(-16069) + z5 = (i7 + i3)(9633 - 16069) + (i5 + i1) 9633
  //   z4' = z4 c(-3196) + z5  = (i7 + i3) 9633 + (i5 + i1)(9633 - 3196)
  //   o0 = i7 (2446 - 7373) + i1 (-7373) + z3'
  //   o3 = i7 (-7373) + i1 (12299 - 7373) + z4'
  //   o1 = i5 (16819 - 20995) + i3 (-20995) + z4'
  //   o2 = i5 (-20995) + i3 (25172 - 20995) + z3'
  __m256i i73lo = _mm256_unpacklo_epi16(in[7], in[3]), i73hi = _mm256_unpackhi_epi16(in[7], in[3]);
  __m256i i51lo = _mm256_unpacklo_epi16(in[5], in[1]), i51hi = _mm256_unpackhi_epi16(in[5], in[1]);
  Wide z3 = Add(Madd(i73lo, i73hi, Pair(9633 - 16069, 9633 - 16069)),
                Madd(i51lo, i51hi, Pair(9633, 9633)));
  Wide z4 =
      Add(Madd(i73lo, i73hi, Pair(9633, 9633)), Madd(i51lo, i51hi, Pair(9633 - 3196, 9633 - 3196)));
  __m256i i71lo = _mm256_unpacklo_epi16(in[7], in[1]), i71hi = _mm256_unpackhi_epi16(in[7], in[1]);
  __m256i i53lo = _mm256_unpacklo_epi16(in[5], in[3]), i53hi = _mm256_unpackhi_epi16(in[5], in[3]);
  Wide o0 = Add(Madd(i71lo, i71hi, Pair(2446 - 7373, -7373)), z3);
  Wide o3 = Add(Madd(i71lo, i71hi, Pair(-7373, 12299 - 7373)), z4);
  Wide o1 = Add(Madd(i53lo, i53hi, Pair(16819 - 20995, -20995)), z4);
  Wide o2 = Add(Madd(i53lo, i53hi, Pair(-20995, 25172 - 20995)), z3);

  Wide r[8] = {Add(e10, o3), Add(e11, o2), Add(e12, o1), Add(e13, o0),
               Sub(e13, o0), Sub(e12, o1), Sub(e11, o2), Sub(e10, o3)};
  for (int k = 0; k < 8; ++k) out[k] = kFirstPass ? DescalePass1(r[k]) : DescalePass2(r[k]);
}

inline void Transpose8x8(__m256i v[8]) {
  __m256i a0 = _mm256_unpacklo_epi16(v[0], v[1]), a1 = _mm256_unpackhi_epi16(v[0], v[1]);
  __m256i a2 = _mm256_unpacklo_epi16(v[2], v[3]), a3 = _mm256_unpackhi_epi16(v[2], v[3]);
  __m256i a4 = _mm256_unpacklo_epi16(v[4], v[5]), a5 = _mm256_unpackhi_epi16(v[4], v[5]);
  __m256i a6 = _mm256_unpacklo_epi16(v[6], v[7]), a7 = _mm256_unpackhi_epi16(v[6], v[7]);
  __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
  __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
  __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
  __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
  v[0] = _mm256_unpacklo_epi64(b0, b4);
  v[1] = _mm256_unpackhi_epi64(b0, b4);
  v[2] = _mm256_unpacklo_epi64(b1, b5);
  v[3] = _mm256_unpackhi_epi64(b1, b5);
  v[4] = _mm256_unpacklo_epi64(b2, b6);
  v[5] = _mm256_unpackhi_epi64(b2, b6);
  v[6] = _mm256_unpacklo_epi64(b3, b7);
  v[7] = _mm256_unpackhi_epi64(b3, b7);
}

// Two blocks' rows side by side: +128 saturating in 16 bits, then unsigned
// saturation to 0..255 (the clamp of the scalar store for every 16-bit
// value), and block A's eight samples followed by block B's.
inline void StoreRows(__m256i values, uint8_t* out) {
  __m256i shifted = _mm256_adds_epi16(values, _mm256_set1_epi16(128));
  __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(shifted, shifted), 0x08);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
}

// The 1-D transform of Transform8 when inputs 4..7 are zero: the same
// products and the same 32-bit sums with the zero terms left out (the odd
// part's pieces gathered into one pair of constants per output, which
// gives the same sums modulo 2^32).
inline Wide EvenOdd(__m256i x02lo, __m256i x02hi, __m256i x13lo, __m256i x13hi, int16_t c0,
                    int16_t c2, int16_t c1, int16_t c3, bool plus) {
  Wide e = Madd(x02lo, x02hi, Pair(c0, c2));
  Wide o = Madd(x13lo, x13hi, Pair(c1, c3));
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
      Wide a = EvenOdd(i02lo, zero, i13lo, zero, 8192, c.c2, c.c1, c.c3, true);
      Wide b = EvenOdd(i02lo, zero, i13lo, zero, 8192, c.c2, c.c1, c.c3, false);
      a.hi = zero;
      b.hi = zero;
      out[k] = DescalePass1(a);
      out[7 - k] = DescalePass1(b);
    } else {
      out[k] = DescalePass2(EvenOdd(i02lo, i02hi, i13lo, i13hi, 8192, c.c2, c.c1, c.c3, true));
      out[7 - k] = DescalePass2(EvenOdd(i02lo, i02hi, i13lo, i13hi, 8192, c.c2, c.c1, c.c3, false));
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
  Transform8<true>(v, t);
  Transpose8x8(t);
  Transform8<false>(t, v);
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
