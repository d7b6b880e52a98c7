// YCbCr to RGB for 16 pixels at a time with AVX2. Each 16-bit lane
// evaluates exactly the values the four tables of YccToRgbTables hold (the
// 32-bit products are taken apart into 16-bit halves, below); the packs
// clamp to 0..255 exactly as the range-limit table does for every sum these
// produce.
#if defined(IFFJPEG_HAVE_AVX2)
#include <immintrin.h>

#include <cstdint>

#include "decoder/colour_deconvert.h"

namespace iffjpeg {
namespace {

// Sixteen pixels in 16-bit lanes. The table entries are 32-bit products
// shifted right by 16; each coefficient times 2^16 is split into
// 2^16 + c (or c alone) with c below 2^16, so that mulhi/mullo give the high
// and low halves of c x i exactly, and a subtracted constant
// K = 2^16 k + m moves the high half down by k, and by one more where the
// low half is below m (an unsigned comparison, made signed by flipping the
// top bit):
//   crToR[i] = (91882 i - 11682187) >> 16  = i - 178 + hi(26346 i) - [lo < 16779]
//   cbToB[i] = (116130 i - 14773807) >> 16 = i - 225 + hi(50594 i) - [lo < 28207]
//   (cbToG[b] + crToG[r]) >> 16 = (8875658 - 22554 b - 46802 r) >> 16
//            = 135 - hi(22554 b) - hi(46802 r) - [carry of the low halves]
//              - [their 16-bit sum > 28298]
struct Channels16 {
  __m256i r, g, b;
};

inline __m256i Flip(__m256i v) { return _mm256_xor_si256(v, _mm256_set1_epi16(-0x8000)); }

// -1 where a < b as unsigned 16-bit values, b given already flipped.
inline __m256i BelowFlipped(__m256i a, __m256i bFlipped) {
  return _mm256_cmpgt_epi16(bFlipped, Flip(a));
}

inline __m256i Widen(const uint8_t* p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

inline Channels16 Convert16(const uint8_t* yp, const uint8_t* cbp, const uint8_t* crp) {
  __m256i y = Widen(yp), cb = Widen(cbp), cr = Widen(crp);
  const __m256i cR = _mm256_set1_epi16(26346);
  const __m256i cB = _mm256_set1_epi16(static_cast<int16_t>(50594));
  const __m256i cGb = _mm256_set1_epi16(22554);
  const __m256i cGr = _mm256_set1_epi16(static_cast<int16_t>(46802));
  __m256i rLow = _mm256_mullo_epi16(cr, cR);
  __m256i rOff = _mm256_add_epi16(_mm256_mulhi_epu16(cr, cR),
                                  BelowFlipped(rLow, _mm256_set1_epi16(16779 - 0x8000)));
  __m256i r =
      _mm256_add_epi16(_mm256_add_epi16(y, cr), _mm256_sub_epi16(rOff, _mm256_set1_epi16(178)));
  __m256i bLow = _mm256_mullo_epi16(cb, cB);
  __m256i bOff = _mm256_add_epi16(_mm256_mulhi_epu16(cb, cB),
                                  BelowFlipped(bLow, _mm256_set1_epi16(28207 - 0x8000)));
  __m256i b =
      _mm256_add_epi16(_mm256_add_epi16(y, cb), _mm256_sub_epi16(bOff, _mm256_set1_epi16(225)));
  __m256i low1 = _mm256_mullo_epi16(cb, cGb);
  __m256i lowSum = _mm256_add_epi16(low1, _mm256_mullo_epi16(cr, cGr));
  __m256i carry = BelowFlipped(lowSum, Flip(low1));  // -1 where the sum wrapped
  __m256i above = _mm256_cmpgt_epi16(Flip(lowSum), _mm256_set1_epi16(28298 - 0x8000));
  __m256i highs = _mm256_add_epi16(_mm256_mulhi_epu16(cb, cGb), _mm256_mulhi_epu16(cr, cGr));
  __m256i g = _mm256_add_epi16(_mm256_sub_epi16(_mm256_add_epi16(y, _mm256_set1_epi16(135)), highs),
                               _mm256_add_epi16(carry, above));
  return {r, g, b};
}

// The 16 values as bytes, clamped to 0..255 (the range limit).
inline __m128i ToBytes(__m256i v) {
  return _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
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

// The same on both 128-bit lanes: lane 0 gives bytes 16T.. of pixels 0..15,
// lane 1 those of pixels 16..31.
template <int T>
inline __m256i Interleave2(__m256i r, __m256i g, __m256i b) {
  auto both = [](__m128i m) { return _mm256_broadcastsi128_si256(m); };
  return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(r, both(Mask<T, 0>())),
                                         _mm256_shuffle_epi8(g, both(Mask<T, 1>()))),
                         _mm256_shuffle_epi8(b, both(Mask<T, 2>())));
}

// 32 values, pixels 0..15 in a and 16..31 in b, as bytes in pixel order
// (clamped to 0..255).
inline __m256i ToBytes32(__m256i a, __m256i b) {
  return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
}

// A prefetch never faults, so it may look past the end of the row; the
// address is formed as an integer for that reason.
inline void PrefetchLine(const uint8_t* base, int32_t offset) {
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(base) +
                                             static_cast<uintptr_t>(offset)),
               _MM_HINT_T0);
}

}  // namespace

int32_t GreyRowAvx2(const uint8_t* in, uint8_t* out, int32_t width) {
  int32_t x = 0;
  for (; x + 64 <= width; x += 64) {
    // As for the RGB lines below: the host's line is asked for ahead.
    PrefetchLine(out, x + 768);
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + x));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + x + 32));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), a);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x + 32), b);
  }
  return x;
}

int32_t YccToRgbRowAvx2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out,
                        int32_t width) {
  int32_t x = 0;
  for (; x + 32 <= width; x += 32) {
    // The caller's lines are written once and seldom in cache: asking for
    // them ahead (three quarters of a kilobyte, two lines per 96 bytes
    // written) keeps the stores from waiting for each line in turn.
    PrefetchLine(out, 3 * x + 768);
    PrefetchLine(out, 3 * x + 768 + 64);
    Channels16 c0 = Convert16(y + x, cb + x, cr + x);
    Channels16 c1 = Convert16(y + x + 16, cb + x + 16, cr + x + 16);
    __m256i r = ToBytes32(c0.r, c1.r);
    __m256i g = ToBytes32(c0.g, c1.g);
    __m256i bl = ToBytes32(c0.b, c1.b);
    // Output chunks of 16 bytes: v0 = (0, 3), v1 = (1, 4), v2 = (2, 5).
    __m256i v0 = Interleave2<0>(r, g, bl);
    __m256i v1 = Interleave2<1>(r, g, bl);
    __m256i v2 = Interleave2<2>(r, g, bl);
    auto* dst = reinterpret_cast<__m256i*>(out + 3 * x);
    _mm256_storeu_si256(dst, _mm256_permute2x128_si256(v0, v1, 0x20));
    _mm256_storeu_si256(dst + 1, _mm256_permute2x128_si256(v2, v0, 0x30));
    _mm256_storeu_si256(dst + 2, _mm256_permute2x128_si256(v1, v2, 0x31));
  }
  for (; x + 16 <= width; x += 16) {
    Channels16 c = Convert16(y + x, cb + x, cr + x);
    __m128i r = ToBytes(c.r);
    __m128i g = ToBytes(c.g);
    __m128i bl = ToBytes(c.b);
    auto* dst = reinterpret_cast<__m128i*>(out + 3 * x);
    _mm_storeu_si128(dst, Interleave<0>(r, g, bl));
    _mm_storeu_si128(dst + 1, Interleave<1>(r, g, bl));
    _mm_storeu_si128(dst + 2, Interleave<2>(r, g, bl));
  }
  return x;
}

}  // namespace iffjpeg
#endif  // IFFJPEG_HAVE_AVX2
