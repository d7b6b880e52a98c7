// The forward DCT and quantizer of fdct_sse2.cpp for any two blocks at
// once with AVX2: each 128-bit lane runs the SSE2 kernel's operations on
// one block (the lane building blocks of transform_lanes.h act within
// lanes), so each block's coefficients are the SSE2 kernel's, which are the
// scalar transform's.
#if defined(IFFJPEG_HAVE_AVX2)
#include <immintrin.h>

#include "transform/fdct.h"
#include "transform/transform_lanes.h"

namespace iffjpeg {
namespace {

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
  ForwardTransform8<true>(v, t);
  Transpose8x8(t);
  ForwardTransform8<false>(t, v);
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
