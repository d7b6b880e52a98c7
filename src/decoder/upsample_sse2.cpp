// The interior of the 2:1 triangle filters of upsample.cpp, sixteen output
// samples at a time with SSE2. The filters are small integer sums (at most
// 16 x 255 + 8) shifted right: 16-bit lanes compute them exactly.
#if defined(IFFJPEG_HAVE_SSE2)
#include <emmintrin.h>

#include "decoder/upsample.h"

namespace iffjpeg {
namespace {

inline __m128i Load8(const uint8_t* p) {
  return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                           _mm_setzero_si128());
}

inline __m128i Times3(__m128i v) { return _mm_add_epi16(_mm_add_epi16(v, v), v); }

// Packs eight even and eight odd outputs and stores them interleaved.
inline void StorePairs(uint8_t* out, __m128i even, __m128i odd) {
  __m128i e = _mm_packus_epi16(even, even);
  __m128i o = _mm_packus_epi16(odd, odd);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(e, o));
}

}  // namespace

int32_t DoubleRowSpanSse2(const uint8_t* s, int32_t width, uint8_t* out) {
  const __m128i two = _mm_set1_epi16(2);
  auto step = [&](int32_t k) {  // reads s[k - 1 .. k + 8]
    __m128i near3 = Times3(Load8(s + k));
    __m128i even = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(near3, Load8(s + k - 1)), two), 2);
    __m128i odd = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(near3, Load8(s + k + 1)), two), 2);
    StorePairs(out + 2 * k, even, odd);
  };
  int32_t k = 1;
  for (; k + 8 <= width - 1; k += 8) step(k);
  // The rest in one step that overlaps the last: it writes the same values
  // again where the two meet.
  if (k < width - 1 && width - 1 - 8 >= 1) {
    step(width - 1 - 8);
    k = width - 1;
  }
  return k;
}

int32_t DoubleRowHVSpanSse2(const uint8_t* nearRow, const uint8_t* farRow, int32_t width,
                            uint8_t* out) {
  const __m128i eight = _mm_set1_epi16(8);
  auto step = [&](int32_t x) {
    __m128i prev = _mm_add_epi16(Times3(Load8(nearRow + x - 1)), Load8(farRow + x - 1));
    __m128i cur3 = Times3(_mm_add_epi16(Times3(Load8(nearRow + x)), Load8(farRow + x)));
    __m128i next = _mm_add_epi16(Times3(Load8(nearRow + x + 1)), Load8(farRow + x + 1));
    __m128i even = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(cur3, prev), eight), 4);
    __m128i odd = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(cur3, next), eight), 4);
    StorePairs(out + 2 * x, even, odd);
  };
  int32_t x = 1;
  for (; x + 8 <= width - 1; x += 8) step(x);
  if (x < width - 1 && width - 1 - 8 >= 1) {
    step(width - 1 - 8);
    x = width - 1;
  }
  return x;
}

}  // namespace iffjpeg
#endif
