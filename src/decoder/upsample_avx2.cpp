// The interior of the 2:1 triangle filters of upsample.cpp, thirty-two
// output samples at a time with AVX2. As in the SSE2 spans, the filter sums
// (at most 16 x 255 + 8) are exact in 16-bit lanes; each even output and
// the odd one after it leave as one 16-bit lane, low byte first.
#if defined(IFFJPEG_HAVE_AVX2)
#include <immintrin.h>

#include "decoder/upsample.h"

namespace iffjpeg {
namespace {

inline __m256i Load16(const uint8_t* p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

inline __m256i Times3(__m256i v) { return _mm256_add_epi16(_mm256_add_epi16(v, v), v); }

inline void StorePairs(uint8_t* out, __m256i even, __m256i odd) {
  __m256i pairs = _mm256_or_si256(even, _mm256_slli_epi16(odd, 8));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), pairs);
}

}  // namespace

int32_t DoubleRowSpanAvx2(const uint8_t* s, int32_t width, uint8_t* out) {
  const __m256i two = _mm256_set1_epi16(2);
  auto step = [&](int32_t k) {  // reads s[k - 1 .. k + 16]
    __m256i near3 = Times3(Load16(s + k));
    __m256i even =
        _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(near3, Load16(s + k - 1)), two), 2);
    __m256i odd =
        _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(near3, Load16(s + k + 1)), two), 2);
    StorePairs(out + 2 * k, even, odd);
  };
  int32_t k = 1;
  for (; k + 16 <= width - 1; k += 16) step(k);
  // The rest in one step that overlaps the last: it writes the same values
  // again where the two meet.
  if (k < width - 1 && width - 1 - 16 >= 1) {
    step(width - 1 - 16);
    k = width - 1;
  }
  return k;
}

int32_t DoubleRowHVSpanAvx2(const uint8_t* nearRow, const uint8_t* farRow, int32_t width,
                            uint8_t* out) {
  const __m256i eight = _mm256_set1_epi16(8);
  auto step = [&](int32_t x) {
    __m256i prev = _mm256_add_epi16(Times3(Load16(nearRow + x - 1)), Load16(farRow + x - 1));
    __m256i cur3 = Times3(_mm256_add_epi16(Times3(Load16(nearRow + x)), Load16(farRow + x)));
    __m256i next = _mm256_add_epi16(Times3(Load16(nearRow + x + 1)), Load16(farRow + x + 1));
    __m256i even = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(cur3, prev), eight), 4);
    __m256i odd = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(cur3, next), eight), 4);
    StorePairs(out + 2 * x, even, odd);
  };
  int32_t x = 1;
  for (; x + 16 <= width - 1; x += 16) step(x);
  if (x < width - 1 && width - 1 - 16 >= 1) {
    step(width - 1 - 16);
    x = width - 1;
  }
  return x;
}

}  // namespace iffjpeg
#endif
