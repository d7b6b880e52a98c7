// YCbCr to RGB for 16 pixels at a time with AVX2. Each lane evaluates the
// very formulas the four tables of BuildYccTables hold, in the same 32-bit
// arithmetic with the same arithmetic shifts; the packs clamp to 0..255
// exactly as the range-limit table does for every sum these produce.
#if defined(IFFJPEG_HAVE_AVX2)
#include <immintrin.h>

#include "decoder/colour_deconvert.h"

namespace iffjpeg {
namespace {

// Eight pixels: y + offset for each channel, as 16-bit values.
struct Channels8 {
  __m128i r, g, b;
};

inline __m128i Narrow(__m256i v) {
  return _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

inline Channels8 Convert8(const uint8_t* y, const uint8_t* cb, const uint8_t* cr) {
  __m256i yy = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y)));
  __m256i bb = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb)));
  __m256i rr = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr)));
  // crToR = (91882 i - 11682187) >> 16, cbToB = (116130 i - 14773807) >> 16.
  __m256i rOff =
      _mm256_srai_epi32(_mm256_sub_epi32(_mm256_mullo_epi32(rr, _mm256_set1_epi32(91882)),
                                         _mm256_set1_epi32(11682187)),
                        16);
  __m256i bOff =
      _mm256_srai_epi32(_mm256_sub_epi32(_mm256_mullo_epi32(bb, _mm256_set1_epi32(116130)),
                                         _mm256_set1_epi32(14773807)),
                        16);
  // (cbToG + crToG) >> 16 with cbToG = 2908403 - 22554 i, crToG = 5967255 - 46802 i.
  __m256i gSum =
      _mm256_add_epi32(_mm256_sub_epi32(_mm256_set1_epi32(2908403),
                                        _mm256_mullo_epi32(bb, _mm256_set1_epi32(22554))),
                       _mm256_sub_epi32(_mm256_set1_epi32(5967255),
                                        _mm256_mullo_epi32(rr, _mm256_set1_epi32(46802))));
  __m256i gOff = _mm256_srai_epi32(gSum, 16);
  return {Narrow(_mm256_add_epi32(yy, rOff)), Narrow(_mm256_add_epi32(yy, gOff)),
          Narrow(_mm256_add_epi32(yy, bOff))};
}

// Shuffle masks that place channel c of 16 pixels into output bytes
// 16t .. 16t + 15 of the interleaved R G B sequence.
constexpr int8_t MaskByte(int t, int c, int i) {
  int j = 16 * t + i;
  return j % 3 == c ? static_cast<int8_t>(j / 3) : static_cast<int8_t>(-128);
}

template <int T, int C>
inline __m128i Mask() {
  return _mm_setr_epi8(MaskByte(T, C, 0), MaskByte(T, C, 1), MaskByte(T, C, 2), MaskByte(T, C, 3),
                       MaskByte(T, C, 4), MaskByte(T, C, 5), MaskByte(T, C, 6), MaskByte(T, C, 7),
                       MaskByte(T, C, 8), MaskByte(T, C, 9), MaskByte(T, C, 10), MaskByte(T, C, 11),
                       MaskByte(T, C, 12), MaskByte(T, C, 13), MaskByte(T, C, 14),
                       MaskByte(T, C, 15));
}

template <int T>
inline __m128i Interleave(__m128i r, __m128i g, __m128i b) {
  return _mm_or_si128(
      _mm_or_si128(_mm_shuffle_epi8(r, Mask<T, 0>()), _mm_shuffle_epi8(g, Mask<T, 1>())),
      _mm_shuffle_epi8(b, Mask<T, 2>()));
}

}  // namespace

int32_t YccToRgbRowAvx2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out,
                        int32_t width) {
  int32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    Channels8 a = Convert8(y + x, cb + x, cr + x);
    Channels8 b = Convert8(y + x + 8, cb + x + 8, cr + x + 8);
    __m128i r = _mm_packus_epi16(a.r, b.r);
    __m128i g = _mm_packus_epi16(a.g, b.g);
    __m128i bl = _mm_packus_epi16(a.b, b.b);
    auto* dst = reinterpret_cast<__m128i*>(out + 3 * x);
    _mm_storeu_si128(dst, Interleave<0>(r, g, bl));
    _mm_storeu_si128(dst + 1, Interleave<1>(r, g, bl));
    _mm_storeu_si128(dst + 2, Interleave<2>(r, g, bl));
  }
  return x;
}

}  // namespace iffjpeg
#endif  // IFFJPEG_HAVE_AVX2
