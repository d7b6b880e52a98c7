// The building blocks of the SIMD transforms, written once for 128-bit
// (SSE2), 256-bit (AVX2) and 512-bit (AVX-512) registers: eight registers
// hold an 8x8 block of 16-bit values, one row each; with the wider ones each
// 128-bit lane holds a block of its own, and every operation here acts
// within lanes, so a 256- or 512-bit kernel computes in each lane exactly
// what the 128-bit one computes.
//
// The 1-D transforms are sums of products of the inputs with the 13-bit
// constants of dct_constants.h (those of idct.cpp and fdct.cpp), written
// out as numbers so that each pair reads as the sum it forms and checked
// against the header below, regrouped into pmaddwd pairs: 32-bit
// lanes form them modulo 2^32 exactly as the scalar code's wrapped sums, so
// the pairing changes no bit; the descaling shifts are applied to the same
// sums.
//
// Everything sits in an unnamed namespace: the SSE2, AVX2 and AVX-512
// kernels are compiled for different instruction sets, and each must keep
// its own copies of these functions.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#if defined(__AVX2__) || defined(__AVX512BW__)
#include <immintrin.h>
#endif

#include "transform/dct_constants.h"

namespace iffjpeg {
namespace {

// The constants as the pairs below write them.
static_assert(dct::kConstBits == 13 && (1 << dct::kConstBits) == 8192);
static_assert(dct::kFix0_298631336 == 2446 && dct::kFix0_390180644 == 3196 &&
              dct::kFix0_541196100 == 4433 && dct::kFix0_765366865 == 6270 &&
              dct::kFix0_899976223 == 7373 && dct::kFix1_175875602 == 9633 &&
              dct::kFix1_501321110 == 12299 && dct::kFix1_847759065 == 15137 &&
              dct::kFix1_961570560 == 16069 && dct::kFix2_053119869 == 16819 &&
              dct::kFix2_562915447 == 20995 && dct::kFix3_072711026 == 25172);

// The few operations the transforms use, overloaded on the register width.
inline __m128i Add16(__m128i a, __m128i b) { return _mm_add_epi16(a, b); }
inline __m128i Sub16(__m128i a, __m128i b) { return _mm_sub_epi16(a, b); }
inline __m128i Add32(__m128i a, __m128i b) { return _mm_add_epi32(a, b); }
inline __m128i Sub32(__m128i a, __m128i b) { return _mm_sub_epi32(a, b); }
inline __m128i MulAdd(__m128i a, __m128i b) { return _mm_madd_epi16(a, b); }
inline __m128i Low16(__m128i a, __m128i b) { return _mm_unpacklo_epi16(a, b); }
inline __m128i High16(__m128i a, __m128i b) { return _mm_unpackhi_epi16(a, b); }
inline __m128i Low32(__m128i a, __m128i b) { return _mm_unpacklo_epi32(a, b); }
inline __m128i High32(__m128i a, __m128i b) { return _mm_unpackhi_epi32(a, b); }
inline __m128i Low64(__m128i a, __m128i b) { return _mm_unpacklo_epi64(a, b); }
inline __m128i High64(__m128i a, __m128i b) { return _mm_unpackhi_epi64(a, b); }
inline __m128i Pack32(__m128i a, __m128i b) { return _mm_packs_epi32(a, b); }
template <int kShift>
inline __m128i ShiftRight32(__m128i a) {
  return _mm_srai_epi32(a, kShift);
}
template <int kShift>
inline __m128i ShiftLeft32(__m128i a) {
  return _mm_slli_epi32(a, kShift);
}
inline void Splat32(int32_t value, __m128i& out) { out = _mm_set1_epi32(value); }

#if defined(__AVX2__)
inline __m256i Add16(__m256i a, __m256i b) { return _mm256_add_epi16(a, b); }
inline __m256i Sub16(__m256i a, __m256i b) { return _mm256_sub_epi16(a, b); }
inline __m256i Add32(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
inline __m256i Sub32(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }
inline __m256i MulAdd(__m256i a, __m256i b) { return _mm256_madd_epi16(a, b); }
inline __m256i Low16(__m256i a, __m256i b) { return _mm256_unpacklo_epi16(a, b); }
inline __m256i High16(__m256i a, __m256i b) { return _mm256_unpackhi_epi16(a, b); }
inline __m256i Low32(__m256i a, __m256i b) { return _mm256_unpacklo_epi32(a, b); }
inline __m256i High32(__m256i a, __m256i b) { return _mm256_unpackhi_epi32(a, b); }
inline __m256i Low64(__m256i a, __m256i b) { return _mm256_unpacklo_epi64(a, b); }
inline __m256i High64(__m256i a, __m256i b) { return _mm256_unpackhi_epi64(a, b); }
inline __m256i Pack32(__m256i a, __m256i b) { return _mm256_packs_epi32(a, b); }
template <int kShift>
inline __m256i ShiftRight32(__m256i a) {
  return _mm256_srai_epi32(a, kShift);
}
template <int kShift>
inline __m256i ShiftLeft32(__m256i a) {
  return _mm256_slli_epi32(a, kShift);
}
inline void Splat32(int32_t value, __m256i& out) { out = _mm256_set1_epi32(value); }
#endif

#if defined(__AVX512BW__)
inline __m512i Add16(__m512i a, __m512i b) { return _mm512_add_epi16(a, b); }
inline __m512i Sub16(__m512i a, __m512i b) { return _mm512_sub_epi16(a, b); }
inline __m512i Add32(__m512i a, __m512i b) { return _mm512_add_epi32(a, b); }
inline __m512i Sub32(__m512i a, __m512i b) { return _mm512_sub_epi32(a, b); }
inline __m512i MulAdd(__m512i a, __m512i b) { return _mm512_madd_epi16(a, b); }
inline __m512i Low16(__m512i a, __m512i b) { return _mm512_unpacklo_epi16(a, b); }
inline __m512i High16(__m512i a, __m512i b) { return _mm512_unpackhi_epi16(a, b); }
inline __m512i Low32(__m512i a, __m512i b) { return _mm512_unpacklo_epi32(a, b); }
inline __m512i High32(__m512i a, __m512i b) { return _mm512_unpackhi_epi32(a, b); }
inline __m512i Low64(__m512i a, __m512i b) { return _mm512_unpacklo_epi64(a, b); }
inline __m512i High64(__m512i a, __m512i b) { return _mm512_unpackhi_epi64(a, b); }
inline __m512i Pack32(__m512i a, __m512i b) { return _mm512_packs_epi32(a, b); }
template <int kShift>
inline __m512i ShiftRight32(__m512i a) {
  return _mm512_srai_epi32(a, kShift);
}
template <int kShift>
inline __m512i ShiftLeft32(__m512i a) {
  return _mm512_slli_epi32(a, kShift);
}
inline void Splat32(int32_t value, __m512i& out) { out = _mm512_set1_epi32(value); }
#endif

template <class V>
inline V Splat(int32_t value) {
  V out;
  Splat32(value, out);
  return out;
}

// Pairs of constants for pmaddwd: (a, b) multiplies the interleaved inputs
// (x, y) into a x + b y.
template <class V>
inline V Pair(int16_t a, int16_t b) {
  return Splat<V>(static_cast<int32_t>(static_cast<uint16_t>(a)) | (static_cast<int32_t>(b) << 16));
}

// Eight 32-bit sums per row: lanes 0..3 and 4..7 of each block.
template <class V>
struct Wide {
  V lo, hi;
};

template <class V>
inline Wide<V> Madd(V xyLo, V xyHi, V pair) {
  return {MulAdd(xyLo, pair), MulAdd(xyHi, pair)};
}
template <class V>
inline Wide<V> Add(Wide<V> a, Wide<V> b) {
  return {Add32(a.lo, b.lo), Add32(a.hi, b.hi)};
}
template <class V>
inline Wide<V> Sub(Wide<V> a, Wide<V> b) {
  return {Sub32(a.lo, b.lo), Sub32(a.hi, b.hi)};
}

// (v + 2^(shift-1)) >> shift, packed to 16 bits (in range: no saturation).
template <int kShift, class V>
inline V Descale(Wide<V> v) {
  const V round = Splat<V>(1 << (kShift - 1));
  return Pack32(ShiftRight32<kShift>(Add32(v.lo, round)), ShiftRight32<kShift>(Add32(v.hi, round)));
}

// (v + 2^(shift-1)) >> shift kept to its low 16 bits (truncated, as a
// scalar store to int16 does): bits shift .. shift + 15 of the rounded sum.
template <int kShift, class V>
inline V DescaleTruncating(Wide<V> v) {
  const V round = Splat<V>(1 << (kShift - 1));
  constexpr int kUp = 16 - kShift;
  V lo = ShiftRight32<16>(ShiftLeft32<kUp>(Add32(v.lo, round)));
  V hi = ShiftRight32<16>(ShiftLeft32<kUp>(Add32(v.hi, round)));
  return Pack32(lo, hi);
}

template <class V>
inline void Transpose8x8(V v[8]) {
  V a0 = Low16(v[0], v[1]), a1 = High16(v[0], v[1]);
  V a2 = Low16(v[2], v[3]), a3 = High16(v[2], v[3]);
  V a4 = Low16(v[4], v[5]), a5 = High16(v[4], v[5]);
  V a6 = Low16(v[6], v[7]), a7 = High16(v[6], v[7]);
  V b0 = Low32(a0, a2), b1 = High32(a0, a2);
  V b2 = Low32(a1, a3), b3 = High32(a1, a3);
  V b4 = Low32(a4, a6), b5 = High32(a4, a6);
  V b6 = Low32(a5, a7), b7 = High32(a5, a7);
  v[0] = Low64(b0, b4);
  v[1] = High64(b0, b4);
  v[2] = Low64(b1, b5);
  v[3] = High64(b1, b5);
  v[4] = Low64(b2, b6);
  v[5] = High64(b2, b6);
  v[6] = Low64(b3, b7);
  v[7] = High64(b3, b7);
}

// The inverse 1-D transform of idct.cpp on eight lanes: in[k] holds input k
// of each lane. Pass 1 keeps 2 extra fraction bits (a descale by 11,
// truncated to 16 bits like the scalar store); pass 2 descales by 18.
template <bool kFirstPass, class V>
inline void InverseTransform8(const V in[8], V out[8]) {
  // Even part: z1 = (i2 + i6) c(4433); t3 = z1 + i2 c(6270); t2 = z1 - i6 c(15137).
  V i26lo = Low16(in[2], in[6]), i26hi = High16(in[2], in[6]);
  Wide<V> t3 = Madd(i26lo, i26hi, Pair<V>(4433 + 6270, 4433));
  Wide<V> t2 = Madd(i26lo, i26hi, Pair<V>(4433, 4433 - 15137));
  V i04lo = Low16(in[0], in[4]), i04hi = High16(in[0], in[4]);
  Wide<V> t0 = Madd(i04lo, i04hi, Pair<V>(8192, 8192));
  Wide<V> t1 = Madd(i04lo, i04hi, Pair<V>(8192, -8192));
  Wide<V> e10 = Add(t0, t3), e13 = Sub(t0, t3), e11 = Add(t1, t2), e12 = Sub(t1, t2);

  // Odd part, with o0..o3 = i7, i5, i3, i1 and z5 = (z3 + z4) c(9633):
  //   z3' = z3 c(-16069) + z5 = (i7 + i3)(9633 - 16069) + (i5 + i1) 9633
  //   z4' = z4 c(-3196) + z5  = (i7 + i3) 9633 + (i5 + i1)(9633 - 3196)
  //   o0 = i7 (2446 - 7373) + i1 (-7373) + z3'
  //   o3 = i7 (-7373) + i1 (12299 - 7373) + z4'
  //   o1 = i5 (16819 - 20995) + i3 (-20995) + z4'
  //   o2 = i5 (-20995) + i3 (25172 - 20995) + z3'
  V i73lo = Low16(in[7], in[3]), i73hi = High16(in[7], in[3]);
  V i51lo = Low16(in[5], in[1]), i51hi = High16(in[5], in[1]);
  Wide<V> z3 = Add(Madd(i73lo, i73hi, Pair<V>(9633 - 16069, 9633 - 16069)),
                   Madd(i51lo, i51hi, Pair<V>(9633, 9633)));
  Wide<V> z4 = Add(Madd(i73lo, i73hi, Pair<V>(9633, 9633)),
                   Madd(i51lo, i51hi, Pair<V>(9633 - 3196, 9633 - 3196)));
  V i71lo = Low16(in[7], in[1]), i71hi = High16(in[7], in[1]);
  V i53lo = Low16(in[5], in[3]), i53hi = High16(in[5], in[3]);
  Wide<V> o0 = Add(Madd(i71lo, i71hi, Pair<V>(2446 - 7373, -7373)), z3);
  Wide<V> o3 = Add(Madd(i71lo, i71hi, Pair<V>(-7373, 12299 - 7373)), z4);
  Wide<V> o1 = Add(Madd(i53lo, i53hi, Pair<V>(16819 - 20995, -20995)), z4);
  Wide<V> o2 = Add(Madd(i53lo, i53hi, Pair<V>(-20995, 25172 - 20995)), z3);

  Wide<V> r[8] = {Add(e10, o3), Add(e11, o2), Add(e12, o1), Add(e13, o0),
                  Sub(e13, o0), Sub(e12, o1), Sub(e11, o2), Sub(e10, o3)};
  for (int k = 0; k < 8; ++k) {
    out[k] = kFirstPass ? DescaleTruncating<11>(r[k]) : Descale<18>(r[k]);
  }
}

// InverseTransform8 when inputs 4..7 are zero: the same products and the
// same 32-bit sums with the zero terms left out (the odd part's pieces
// gathered into one pair of constants per output, which gives the same
// sums modulo 2^32).
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

template <bool kFirstPass, class V>
inline void TransformLow(const V in[4], V out[8]) {
  const V zero = Splat<V>(0);
  V i02lo = Low16(in[0], in[2]), i02hi = High16(in[0], in[2]);
  V i13lo = Low16(in[1], in[3]), i13hi = High16(in[1], in[3]);
  for (int k = 0; k < 4; ++k) {
    const LowConstants& c = kLow[k];
    if (kFirstPass) {
      // Lanes 4..7 (the block's rows 4..7) are zero in the first pass and
      // come out zero: only the low half is worked out.
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

// The inverse transform of blocks whose coefficients outside the top-left
// 4 x 4 are zero: r[k] holds row k's columns 0..3 of each lane's block
// (in its low 64 bits); out[k] the block's output row k.
template <class V>
inline void InverseTransformLowFour(const V r[4], V out[8]) {
  const V zero = Splat<V>(0);
  // Transposed into columns 0..3 with the rows in lanes 0..3 (4..7 zero).
  V a01 = Low16(r[0], r[1]), a23 = Low16(r[2], r[3]);
  V c01 = Low32(a01, a23), c23 = High32(a01, a23);
  V cols[4] = {Low64(c01, zero), High64(c01, zero), Low64(c23, zero), High64(c23, zero)};
  V t[8];
  TransformLow<true>(cols, t);
  // The intermediate rows 0..3 (rows 4..7 are zero), columns in lanes.
  V b01 = Low16(t[0], t[1]), b23 = Low16(t[2], t[3]);
  V b45 = Low16(t[4], t[5]), b67 = Low16(t[6], t[7]);
  V d0 = Low32(b01, b23), d1 = High32(b01, b23);
  V d2 = Low32(b45, b67), d3 = High32(b45, b67);
  V rowsIn[4] = {Low64(d0, d2), High64(d0, d2), Low64(d1, d3), High64(d1, d3)};
  TransformLow<false>(rowsIn, out);
}

// The forward 1-D transform of fdct.cpp on eight lanes. The 16-bit sums and
// differences formed before pmaddwd stay far inside 16 bits for 8-bit
// samples: pass-1 outputs are bounded by 4 x 1.42 x 128 x 5.2 < 4096, so
// their pairwise sums stay below 8192. Pass 1 keeps frequencies 0 and 4
// times 4 and descales the rest by 11; pass 2 descales them by 5 and 18.
template <bool kFirstPass, class V>
inline void ForwardTransform8(const V d[8], V f[8]) {
  V s0 = Add16(d[0], d[7]), s7 = Sub16(d[0], d[7]);
  V s1 = Add16(d[1], d[6]), s6 = Sub16(d[1], d[6]);
  V s2 = Add16(d[2], d[5]), s5 = Sub16(d[2], d[5]);
  V s3 = Add16(d[3], d[4]), s4 = Sub16(d[3], d[4]);

  // Even part: DC = s0 + s1 + s2 + s3, f4 = s0 - s1 - s2 + s3,
  // f2 = e12 c(4433) + e13 c(4433 + 6270), f6 = e12 c(4433 - 15137) + e13 c(4433)
  // with e12 = s1 - s2 and e13 = s0 - s3.
  V s01lo = Low16(s0, s1), s01hi = High16(s0, s1);
  V s23lo = Low16(s2, s3), s23hi = High16(s2, s3);
  auto even = [&](int16_t a, int16_t b, int16_t c, int16_t d2) {
    return Add(Madd(s01lo, s01hi, Pair<V>(a, b)), Madd(s23lo, s23hi, Pair<V>(c, d2)));
  };
  constexpr int16_t kEvenScale = kFirstPass ? 4 : 1;
  Wide<V> dc = even(kEvenScale, kEvenScale, kEvenScale, kEvenScale);
  Wide<V> f4 = even(kEvenScale, -kEvenScale, -kEvenScale, kEvenScale);
  Wide<V> f2 = even(4433 + 6270, 4433, -4433, -(4433 + 6270));
  Wide<V> f6 = even(4433, 4433 - 15137, 15137 - 4433, -4433);

  // Odd part with z5 = (z3 + z4) c(9633), z3 = s4 + s6, z4 = s5 + s7:
  //   z3' = z3 c(-16069) + z5 = (s4 + s6)(9633 - 16069) + (s5 + s7) 9633
  //   z4' = z4 c(-3196) + z5  = (s4 + s6) 9633 + (s5 + s7)(9633 - 3196)
  //   f7 = s4 (2446 - 7373) + s7 (-7373) + z3'
  //   f1 = s4 (-7373) + s7 (12299 - 7373) + z4'
  //   f5 = s5 (16819 - 20995) + s6 (-20995) + z4'
  //   f3 = s5 (-20995) + s6 (25172 - 20995) + z3'
  V s45lo = Low16(s4, s5), s45hi = High16(s4, s5);
  V s67lo = Low16(s6, s7), s67hi = High16(s6, s7);
  V s47lo = Low16(s4, s7), s47hi = High16(s4, s7);
  V s56lo = Low16(s5, s6), s56hi = High16(s5, s6);
  Wide<V> z3 = Add(Madd(s45lo, s45hi, Pair<V>(9633 - 16069, 9633)),
                   Madd(s67lo, s67hi, Pair<V>(9633 - 16069, 9633)));
  Wide<V> z4 = Add(Madd(s45lo, s45hi, Pair<V>(9633, 9633 - 3196)),
                   Madd(s67lo, s67hi, Pair<V>(9633, 9633 - 3196)));
  Wide<V> f7 = Add(Madd(s47lo, s47hi, Pair<V>(2446 - 7373, -7373)), z3);
  Wide<V> f1 = Add(Madd(s47lo, s47hi, Pair<V>(-7373, 12299 - 7373)), z4);
  Wide<V> f5 = Add(Madd(s56lo, s56hi, Pair<V>(16819 - 20995, -20995)), z4);
  Wide<V> f3 = Add(Madd(s56lo, s56hi, Pair<V>(-20995, 25172 - 20995)), z3);

  if constexpr (kFirstPass) {
    f[0] = Pack32(dc.lo, dc.hi);
    f[4] = Pack32(f4.lo, f4.hi);
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

}  // namespace
}  // namespace iffjpeg
