// The forward DCT and quantizer of fdct.cpp for eight rows (or columns) at
// once with SSE2. The 1-D transform is regrouped into pmaddwd pairs: sums of
// products of the same inputs with the same 13-bit constants, exact in
// 32-bit lanes. The 16-bit differences and sums formed before pmaddwd stay
// far inside 16 bits for 8-bit samples: pass-1 outputs are bounded by
// 4 x 1.42 x 128 x 5.2 < 4096, so their pairwise sums stay below 8192.
#if defined(IFFJPEG_HAVE_SSE2)
#include <emmintrin.h>
#include <xmmintrin.h>

#include "transform/fdct.h"

namespace iffjpeg {
namespace {

inline __m128i Pair(int16_t a, int16_t b) {
  return _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(a)) |
                        (static_cast<int32_t>(b) << 16));
}

struct Wide {
  __m128i lo, hi;
};

// a x + b y + c z + d w for inputs interleaved as (x, y) and (z, w).
inline Wide Madd2(__m128i xy[2], __m128i pairXY, __m128i zw[2], __m128i pairZW) {
  return {_mm_add_epi32(_mm_madd_epi16(xy[0], pairXY), _mm_madd_epi16(zw[0], pairZW)),
          _mm_add_epi32(_mm_madd_epi16(xy[1], pairXY), _mm_madd_epi16(zw[1], pairZW))};
}

inline void Interleave(__m128i a, __m128i b, __m128i out[2]) {
  out[0] = _mm_unpacklo_epi16(a, b);
  out[1] = _mm_unpackhi_epi16(a, b);
}

// (v + 2^(shift-1)) >> shift, kept to 16 bits.
template <int kShift>
inline __m128i Descale(Wide v) {
  const __m128i round = _mm_set1_epi32(1 << (kShift - 1));
  __m128i lo = _mm_srai_epi32(_mm_add_epi32(v.lo, round), kShift);
  __m128i hi = _mm_srai_epi32(_mm_add_epi32(v.hi, round), kShift);
  return _mm_packs_epi32(lo, hi);  // within 16 bits for 8-bit samples
}

// The 1-D transform on eight lanes. Pass 1 keeps frequencies 0 and 4 times
// 4 and descales the rest by 11; pass 2 descales them by 5 and 18.
template <bool kFirstPass>
inline void Transform8(const __m128i d[8], __m128i f[8]) {
  __m128i s0 = _mm_add_epi16(d[0], d[7]), s7 = _mm_sub_epi16(d[0], d[7]);
  __m128i s1 = _mm_add_epi16(d[1], d[6]), s6 = _mm_sub_epi16(d[1], d[6]);
  __m128i s2 = _mm_add_epi16(d[2], d[5]), s5 = _mm_sub_epi16(d[2], d[5]);
  __m128i s3 = _mm_add_epi16(d[3], d[4]), s4 = _mm_sub_epi16(d[3], d[4]);

  // Even part: DC = s0 + s1 + s2 + s3, f4 = s0 - s1 - s2 + s3,
  // f2 = e12 c(4433) + e13 c(4433 + 6270), f6 = e12 c(4433 - 15137) + e13 c(4433)
  // with e12 = s1 - s2 and e13 = s0 - s3.
  __m128i s01[2], s23[2];
  Interleave(s0, s1, s01);
  Interleave(s2, s3, s23);
  constexpr int16_t kEvenScale = kFirstPass ? 4 : 1;
  Wide dc = Madd2(s01, Pair(kEvenScale, kEvenScale), s23, Pair(kEvenScale, kEvenScale));
  Wide f4 = Madd2(s01, Pair(kEvenScale, -kEvenScale), s23, Pair(-kEvenScale, kEvenScale));
  Wide f2 = Madd2(s01, Pair(4433 + 6270, 4433), s23, Pair(-4433, -(4433 + 6270)));
  Wide f6 = Madd2(s01, Pair(4433, 4433 - 15137), s23, Pair(15137 - 4433, -4433));

  // Odd part with z5 = (z3 + z4) c(9633), z3 = s4 + s6, z4 = s5 + s7:
  //   z3' = z3 c(-16069) + z5 = (s4 + s6)(9633 - 16069) + (s5 + s7) 9633
  //   z4' = z4 c(-3196) + z5  = (s4 + s6) 9633 + (s5 + s7)(9633 - 3196)
  //   f7 = s4 (2446 - 7373) + s7 (-7373) + z3'
  //   f1 = s4 (-7373) + s7 (12299 - 7373) + z4'
  //   f5 = s5 (16819 - 20995) + s6 (-20995) + z4'
  //   f3 = s5 (-20995) + s6 (25172 - 20995) + z3'
  __m128i s45[2], s67[2], s47[2], s56[2];
  Interleave(s4, s5, s45);
  Interleave(s6, s7, s67);
  Interleave(s4, s7, s47);
  Interleave(s5, s6, s56);
  const __m128i zero = _mm_setzero_si128();
  __m128i none[2] = {zero, zero};
  Wide z3 = Madd2(s45, Pair(9633 - 16069, 9633), s67, Pair(9633 - 16069, 9633));
  Wide z4 = Madd2(s45, Pair(9633, 9633 - 3196), s67, Pair(9633, 9633 - 3196));
  Wide f7 = Madd2(s47, Pair(2446 - 7373, -7373), none, zero);
  Wide f1 = Madd2(s47, Pair(-7373, 12299 - 7373), none, zero);
  Wide f5 = Madd2(s56, Pair(16819 - 20995, -20995), none, zero);
  Wide f3 = Madd2(s56, Pair(-20995, 25172 - 20995), none, zero);
  auto add = [](Wide a, Wide b) {
    return Wide{_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)};
  };
  f7 = add(f7, z3);
  f3 = add(f3, z3);
  f1 = add(f1, z4);
  f5 = add(f5, z4);

  if constexpr (kFirstPass) {
    f[0] = _mm_packs_epi32(dc.lo, dc.hi);
    f[4] = _mm_packs_epi32(f4.lo, f4.hi);
    f[2] = Descale<11>(f2);
    f[6] = Descale<11>(f6);
    f[1] = Descale<11>(f1);
    f[3] = Descale<11>(f3);
    f[5] = Descale<11>(f5);
    f[7] = Descale<11>(f7);
  } else {
    f[0] = Descale<5>(dc);
    f[4] = Descale<5>(f4);
    f[2] = Descale<18>(f2);
    f[6] = Descale<18>(f6);
    f[1] = Descale<18>(f1);
    f[3] = Descale<18>(f3);
    f[5] = Descale<18>(f5);
    f[7] = Descale<18>(f7);
  }
}

inline void Transpose8x8(__m128i v[8]) {
  __m128i a0 = _mm_unpacklo_epi16(v[0], v[1]), a1 = _mm_unpackhi_epi16(v[0], v[1]);
  __m128i a2 = _mm_unpacklo_epi16(v[2], v[3]), a3 = _mm_unpackhi_epi16(v[2], v[3]);
  __m128i a4 = _mm_unpacklo_epi16(v[4], v[5]), a5 = _mm_unpackhi_epi16(v[4], v[5]);
  __m128i a6 = _mm_unpacklo_epi16(v[6], v[7]), a7 = _mm_unpackhi_epi16(v[6], v[7]);
  __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  v[0] = _mm_unpacklo_epi64(b0, b4);
  v[1] = _mm_unpackhi_epi64(b0, b4);
  v[2] = _mm_unpacklo_epi64(b1, b5);
  v[3] = _mm_unpackhi_epi64(b1, b5);
  v[4] = _mm_unpacklo_epi64(b2, b6);
  v[5] = _mm_unpackhi_epi64(b2, b6);
  v[6] = _mm_unpacklo_epi64(b3, b7);
  v[7] = _mm_unpackhi_epi64(b3, b7);
}

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
  Transform8<true>(v, t);
  Transpose8x8(t);
  Transform8<false>(t, v);
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
