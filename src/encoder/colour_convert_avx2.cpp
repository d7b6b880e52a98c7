// RGB to YCbCr for 8 pixels at a time with AVX2. Each lane evaluates the
// sums the table of BuildRgbYccTable holds (products of the same 16-bit
// fraction constants, the same rounding and offset terms) in the same
// 32-bit arithmetic, so every sample equals the table loop's.
#if defined(IFFJPEG_HAVE_AVX2)
#include <immintrin.h>

#include "encoder/colour_convert.h"

namespace iffjpeg {
namespace {

inline __m256i Widen(__m128i bytes) { return _mm256_cvtepu8_epi32(bytes); }

inline __m256i Sum(__m256i r, int32_t kr, __m256i g, int32_t kg, __m256i b, int32_t kb,
                   int32_t constant) {
  __m256i s = _mm256_add_epi32(_mm256_mullo_epi32(r, _mm256_set1_epi32(kr)),
                               _mm256_mullo_epi32(g, _mm256_set1_epi32(kg)));
  s = _mm256_add_epi32(s, _mm256_mullo_epi32(b, _mm256_set1_epi32(kb)));
  return _mm256_srai_epi32(_mm256_add_epi32(s, _mm256_set1_epi32(constant)), 16);
}

// Eight values of 0..255 in 32-bit lanes, stored as eight bytes.
inline void Store8(uint8_t* out, __m256i v) {
  __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
}

}  // namespace

int32_t RgbToYccRowAvx2(const uint8_t* rgb, uint8_t* y, uint8_t* cb, uint8_t* cr, int32_t width) {
  // Byte gathers for the three channels of 8 pixels (24 bytes: 16 + 8).
  const __m128i redLo = _mm_setr_epi8(0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i redHi = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 5, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i greenLo =
      _mm_setr_epi8(1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i greenHi =
      _mm_setr_epi8(-1, -1, -1, -1, -1, 0, 3, 6, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i blueLo = _mm_setr_epi8(2, 5, 8, 11, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i blueHi = _mm_setr_epi8(-1, -1, -1, -1, -1, 1, 4, 7, -1, -1, -1, -1, -1, -1, -1, -1);
  constexpr int32_t kOneHalf = 1 << 15;
  constexpr int32_t kCbCrOffset = 128 << 16;
  int32_t x = 0;
  for (; x + 8 <= width; x += 8, rgb += 24) {
    __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb));
    __m128i hi = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rgb + 16));
    __m256i r = Widen(_mm_or_si128(_mm_shuffle_epi8(lo, redLo), _mm_shuffle_epi8(hi, redHi)));
    __m256i g = Widen(_mm_or_si128(_mm_shuffle_epi8(lo, greenLo), _mm_shuffle_epi8(hi, greenHi)));
    __m256i b = Widen(_mm_or_si128(_mm_shuffle_epi8(lo, blueLo), _mm_shuffle_epi8(hi, blueHi)));
    Store8(y + x, Sum(r, 19595, g, 38470, b, 7471, kOneHalf));
    Store8(cb + x, Sum(r, -11059, g, -21709, b, 32768, kCbCrOffset));
    Store8(cr + x, Sum(r, 32768, g, -27439, b, -5329, kCbCrOffset));
  }
  return x;
}

}  // namespace iffjpeg
#endif
