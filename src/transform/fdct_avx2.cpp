// The forward DCT and quantizer of fdct_sse2.cpp for two horizontally
// adjacent blocks at once with AVX2: each 128-bit lane runs the SSE2
// kernel's operations on one block (every instruction used acts within
// lanes), so each block's coefficients are the SSE2 kernel's, which are the
// scalar transform's. As there, for eight rows (or columns) at once. The 1-D transform is regrouped
// into pmaddwd pairs: sums of products of the same inputs with the same 13-bit constants, exact in
// 32-bit lanes. The 16-bit differences and sums formed before pmaddwd stay
// far inside 16 bits for 8-bit samples: pass-1 outputs are bounded by
// 4 x 1.42 x 128 x 5.2 < 4096, so their pairwise sums stay below 8192.
#if defined(IFFJPEG_HAVE_AVX2)
#include <immintrin.h>

#include "transform/fdct.h"

namespace iffjpeg {
namespace {

inline __m256i Pair(int16_t a, int16_t b) {
  return _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(a)) |
                           (static_cast<int32_t>(b) << 16));
}

struct Wide {
  __m256i lo, hi;
};

// a x + b y + c z + d w for inputs interleaved as (x, y) and (z, w).
inline Wide Madd2(__m256i xy[2], __m256i pairXY, __m256i zw[2], __m256i pairZW) {
  return {_mm256_add_epi32(_mm256_madd_epi16(xy[0], pairXY), _mm256_madd_epi16(zw[0], pairZW)),
          _mm256_add_epi32(_mm256_madd_epi16(xy[1], pairXY), _mm256_madd_epi16(zw[1], pairZW))};
}

inline void Interleave(__m256i a, __m256i b, __m256i out[2]) {
  out[0] = _mm256_unpacklo_epi16(a, b);
  out[1] = _mm256_unpackhi_epi16(a, b);
}

// (v + 2^(shift-1)) >> shift, kept to 16 bits.
template <int kShift>
inline __m256i Descale(Wide v) {
  const __m256i round = _mm256_set1_epi32(1 << (kShift - 1));
  __m256i lo = _mm256_srai_epi32(_mm256_add_epi32(v.lo, round), kShift);
  __m256i hi = _mm256_srai_epi32(_mm256_add_epi32(v.hi, round), kShift);
  return _mm256_packs_epi32(lo, hi);  // within 16 bits for 8-bit samples
}

// The 1-D transform on eight lanes. Pass 1 keeps frequencies 0 and 4 times
// 4 and descales the rest by 11; pass 2 descales them by 5 and 18.
template <bool kFirstPass>
inline void Transform8(const __m256i d[8], __m256i f[8]) {
  __m256i s0 = _mm256_add_epi16(d[0], d[7]), s7 = _mm256_sub_epi16(d[0], d[7]);
  __m256i s1 = _mm256_add_epi16(d[1], d[6]), s6 = _mm256_sub_epi16(d[1], d[6]);
  __m256i s2 = _mm256_add_epi16(d[2], d[5]), s5 = _mm256_sub_epi16(d[2], d[5]);
  __m256i s3 = _mm256_add_epi16(d[3], d[4]), s4 = _mm256_sub_epi16(d[3], d[4]);

  // Even part: DC = s0 + s1 + s2 + s3, f4 = s0 - s1 - s2 + s3,
  // f2 = e12 c(4433) + e13 c(4433 + 6270), f6 = e12 c(4433 - 15137) + e13 c(4433)
  // with e12 = s1 - s2 and e13 = s0 - s3.
  __m256i s01[2], s23[2];
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
  __m256i s45[2], s67[2], s47[2], s56[2];
  Interleave(s4, s5, s45);
  Interleave(s6, s7, s67);
  Interleave(s4, s7, s47);
  Interleave(s5, s6, s56);
  const __m256i zero = _mm256_setzero_si256();
  __m256i none[2] = {zero, zero};
  Wide z3 = Madd2(s45, Pair(9633 - 16069, 9633), s67, Pair(9633 - 16069, 9633));
  Wide z4 = Madd2(s45, Pair(9633, 9633 - 3196), s67, Pair(9633, 9633 - 3196));
  Wide f7 = Madd2(s47, Pair(2446 - 7373, -7373), none, zero);
  Wide f1 = Madd2(s47, Pair(-7373, 12299 - 7373), none, zero);
  Wide f5 = Madd2(s56, Pair(16819 - 20995, -20995), none, zero);
  Wide f3 = Madd2(s56, Pair(-20995, 25172 - 20995), none, zero);
  auto add = [](Wide a, Wide b) {
    return Wide{_mm256_add_epi32(a.lo, b.lo), _mm256_add_epi32(a.hi, b.hi)};
  };
  f7 = add(f7, z3);
  f3 = add(f3, z3);
  f1 = add(f1, z4);
  f5 = add(f5, z4);

  if constexpr (kFirstPass) {
    f[0] = _mm256_packs_epi32(dc.lo, dc.hi);
    f[4] = _mm256_packs_epi32(f4.lo, f4.hi);
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

// Truncating division of 16-bit values as a product with the reciprocal
// TruncatingReciprocal gives (exact for these sums, see fdct.h).
inline __m256i DivideTruncating(__m256i sum32, __m256 reciprocal) {
  return _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(sum32), reciprocal));
}

inline __m256i SignExtendLo(__m256i v) {
  return _mm256_srai_epi32(_mm256_unpacklo_epi16(v, v), 16);
}
inline __m256i SignExtendHi(__m256i v) {
  return _mm256_srai_epi32(_mm256_unpackhi_epi16(v, v), 16);
}

// QuantizeCoefficient on eight lanes of each block, every step in the same
// 16-bit sums: lane 0 holds block A's row with A's quantizers, lane 1 B's.
inline __m256i Quantize(__m256i c, const uint16_t* qA, const uint16_t* qB, const float* rA,
                        const float* rB) {
  auto both = [](const void* lo, const void* hi) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(lo))),
        _mm_loadu_si128(static_cast<const __m128i*>(hi)), 1);
  };
  __m256i q = both(qA, qB);
  __m256i h = _mm256_srai_epi16(q, 1);
  __m256i negative = _mm256_cmpgt_epi16(_mm256_setzero_si256(), c);
  // |c| + h as the scalar forms it: h - c when negative, c + h otherwise.
  __m256i magnitude = _mm256_sub_epi16(_mm256_xor_si256(c, negative), negative);
  __m256i sum = _mm256_add_epi16(magnitude, h);
  // Sign-extended halves: quantizers 0..3 of each row, then 4..7.
  __m256 rLo = _mm256_castsi256_ps(both(rA, rB));
  __m256 rHi = _mm256_castsi256_ps(both(rA + 4, rB + 4));
  __m256i lo = DivideTruncating(SignExtendLo(sum), rLo);
  __m256i hi = DivideTruncating(SignExtendHi(sum), rHi);
  // Back to 16 bits by truncation (a quotient of 32768 wraps as in C++).
  lo = _mm256_srai_epi32(_mm256_slli_epi32(lo, 16), 16);
  hi = _mm256_srai_epi32(_mm256_slli_epi32(hi, 16), 16);
  __m256i quotient = _mm256_packs_epi32(lo, hi);
  return _mm256_sub_epi16(_mm256_xor_si256(quotient, negative), negative);
}

// The zigzag reordering (T.81 Figure A.6) as byte shuffles: group j of the
// output (coefficients 8j .. 8j + 7) gathers from natural rows
// kGroupRows[j].first .. second, row r through mask kGather[j][r].
struct ZigzagGather {
  int8_t mask[8][8][16];
  int8_t firstRow[8];
  int8_t lastRow[8];
};

constexpr ZigzagGather MakeZigzagGather() {
  ZigzagGather g{};
  for (int j = 0; j < 8; ++j) {
    g.firstRow[j] = 7;
    g.lastRow[j] = 0;
    for (int r = 0; r < 8; ++r) {
      for (int i = 0; i < 8; ++i) {
        int n = zigzagToNatural[8 * j + i];
        bool here = n / 8 == r;
        g.mask[j][r][2 * i] = here ? static_cast<int8_t>(2 * (n % 8)) : int8_t{-128};
        g.mask[j][r][2 * i + 1] = here ? static_cast<int8_t>(2 * (n % 8) + 1) : int8_t{-128};
        if (here && r < g.firstRow[j]) g.firstRow[j] = static_cast<int8_t>(r);
        if (here && r > g.lastRow[j]) g.lastRow[j] = static_cast<int8_t>(r);
      }
    }
  }
  return g;
}

constexpr ZigzagGather kZigzagGather = MakeZigzagGather();

// Group j of both blocks' zigzag sequences from their natural rows.
inline __m256i ZigzagGroup(const __m256i rows[8], int j) {
  __m256i out = _mm256_setzero_si256();
  for (int r = kZigzagGather.firstRow[j]; r <= kZigzagGather.lastRow[j]; ++r) {
    __m256i mask = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(kZigzagGather.mask[j][r])));
    out = _mm256_or_si256(out, _mm256_shuffle_epi8(rows[r], mask));
  }
  return out;
}

}  // namespace

void ForwardDctQuantizePairAvx2(const FdctBlock& a, const FdctBlock& b) {
  const __m256i bias = _mm256_set1_epi16(128);
  __m256i v[8];
  for (int y = 0; y < 8; ++y) {
    __m128i bytes =
        _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a.rows[y] + a.column)),
                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b.rows[y] + b.column)));
    v[y] = _mm256_sub_epi16(_mm256_cvtepu8_epi16(bytes), bias);  // A in lane 0, B in lane 1
  }
  // Pass 1 on rows (lane r = row r), pass 2 on columns (lane u = column u).
  Transpose8x8(v);
  __m256i t[8];
  Transform8<true>(v, t);
  Transpose8x8(t);
  Transform8<false>(t, v);
  for (int y = 0; y < 8; ++y)
    v[y] = Quantize(v[y], a.divisors->natural + 8 * y, b.divisors->natural + 8 * y,
                    a.divisors->reciprocal + 8 * y, b.divisors->reciprocal + 8 * y);
  for (int j = 0; j < 8; ++j) {
    __m256i group = ZigzagGroup(v, j);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(a.destination + 8 * j),
                     _mm256_castsi256_si128(group));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(b.destination + 8 * j),
                     _mm256_extracti128_si256(group, 1));
  }
}

}  // namespace iffjpeg
#endif  // IFFJPEG_HAVE_AVX2
