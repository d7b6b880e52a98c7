// The 4 x 4 reduced inverse DCT of scaled decoding, four columns at a time
// in double precision. Why doubles give exactly the scalar integers: the
// scalar form has no rounding until its one final descale, so it computes
// the exact integer matrix product of 13-bit bases. Every value met here
// is such an integer: coefficients below 2^15 in magnitude, the first
// pass's below 2^15 x 22289 < 2^30, the second's below 2^30 x 22289 < 2^45,
// all far below 2^53, where every integer is a double and integer sums and
// products are exact. The descale, floor((s + 2^27) / 2^28), is exact too:
// scaling by a power of two loses nothing and the floor of an exact value
// is the arithmetic shift the scalar form makes. Either pass may then come
// first; columns go first here so that each pass works lane by lane.
#if defined(IFFJPEG_HAVE_AVX2)
#include <immintrin.h>

#include <cstring>

#include "transform/idct_reduced.h"

namespace iffjpeg {
namespace {

// The 4-point transform of four vectors, lane by lane (basis as the scalar
// Transform<4>: 1 / sqrt(2), cos(pi / 8), cos(3 pi / 8) in 13 bits).
inline void FourPoint(const __m256d in[4], __m256d out[4]) {
  const __m256d r = _mm256_set1_pd(5793.0);
  const __m256d c1 = _mm256_set1_pd(7568.0);
  const __m256d c3 = _mm256_set1_pd(3135.0);
  const __m256d e0 = _mm256_mul_pd(_mm256_add_pd(in[0], in[2]), r);
  const __m256d e1 = _mm256_mul_pd(_mm256_sub_pd(in[0], in[2]), r);
  const __m256d o0 = _mm256_add_pd(_mm256_mul_pd(in[1], c1), _mm256_mul_pd(in[3], c3));
  const __m256d o1 = _mm256_sub_pd(_mm256_mul_pd(in[1], c3), _mm256_mul_pd(in[3], c1));
  out[0] = _mm256_add_pd(e0, o0);
  out[1] = _mm256_add_pd(e1, o1);
  out[2] = _mm256_sub_pd(e1, o1);
  out[3] = _mm256_sub_pd(e0, o0);
}

// floor((s + 2^27) / 2^28) as 32-bit integers.
inline __m128i Descale(__m256d s) {
  const __m256d half = _mm256_set1_pd(134217728.0);
  const __m256d scale = _mm256_set1_pd(1.0 / 268435456.0);
  return _mm256_cvtpd_epi32(_mm256_floor_pd(_mm256_mul_pd(_mm256_add_pd(s, half), scale)));
}

}  // namespace

void ReducedFourToSamplesAvx2(const int16_t* block, SampleRow const* rows, int32_t column) {
  // Rows v of the top-left 4 x 4 terms, lanes u.
  __m256d in[4];
  for (int32_t v = 0; v < 4; ++v) {
    const __m128i terms = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(block + 8 * v));
    in[v] = _mm256_cvtepi32_pd(_mm_cvtepi16_epi32(terms));
  }
  // Down the columns: t[y], lanes u.
  __m256d t[4];
  FourPoint(in, t);
  // Transposed to lanes y, then across the rows: out[x], lanes y.
  const __m256d a = _mm256_unpacklo_pd(t[0], t[1]);
  const __m256d b = _mm256_unpackhi_pd(t[0], t[1]);
  const __m256d c = _mm256_unpacklo_pd(t[2], t[3]);
  const __m256d d = _mm256_unpackhi_pd(t[2], t[3]);
  const __m256d across[4] = {_mm256_permute2f128_pd(a, c, 0x20), _mm256_permute2f128_pd(b, d, 0x20),
                             _mm256_permute2f128_pd(a, c, 0x31),
                             _mm256_permute2f128_pd(b, d, 0x31)};
  __m256d out[4];
  FourPoint(across, out);
  // Level shift, transposed back to rows y with lanes x, and clamped to
  // 0..255 by the two saturating packs.
  const __m128i shift = _mm_set1_epi32(128);
  __m128i s[4];
  for (int32_t x = 0; x < 4; ++x) s[x] = _mm_add_epi32(Descale(out[x]), shift);
  const __m128i lo01 = _mm_unpacklo_epi32(s[0], s[1]);
  const __m128i hi01 = _mm_unpackhi_epi32(s[0], s[1]);
  const __m128i lo23 = _mm_unpacklo_epi32(s[2], s[3]);
  const __m128i hi23 = _mm_unpackhi_epi32(s[2], s[3]);
  const __m128i row01 =
      _mm_packs_epi32(_mm_unpacklo_epi64(lo01, lo23), _mm_unpackhi_epi64(lo01, lo23));
  const __m128i row23 =
      _mm_packs_epi32(_mm_unpacklo_epi64(hi01, hi23), _mm_unpackhi_epi64(hi01, hi23));
  const __m128i samples = _mm_packus_epi16(row01, row23);
  alignas(16) uint8_t bytes[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(bytes), samples);
  for (int32_t y = 0; y < 4; ++y) std::memcpy(rows[y] + column, bytes + 4 * y, 4);
}

}  // namespace iffjpeg
#endif  // IFFJPEG_HAVE_AVX2
