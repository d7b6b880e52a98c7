// RGB to YCbCr for 16 (then 8) pixels at a time with AVX2. Each lane
// evaluates the sums the table of BuildRgbYccTable holds (products of the
// same 16-bit fraction constants, the same rounding and offset terms) in the
// same 32-bit arithmetic, so every sample equals the table loop's. The
// 16-pixel loop forms them with pmaddwd on pairs of samples; a coefficient
// beyond 16 bits is split over a sample paired with itself:
//   Y  = 19595 R + 2 x 19235 G + 7471 B + 2^15
//   Cb = -11059 R - 21709 G + 2 x 16384 B + 128 x 2^16
//   Cr = 2 x 16384 R - 27439 G - 5329 B + 128 x 2^16
#if defined(IFFJPEG_HAVE_AVX2)
#include <immintrin.h>

#include <cstdint>

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

// Pairs of 16-bit constants for pmaddwd: (a, b) multiplies the interleaved
// samples (x, y) into a x + b y.
inline __m256i Pair(int16_t a, int16_t b) {
  return _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(a)) |
                           (static_cast<int32_t>(b) << 16));
}

// (sum of the two products + constant) >> 16 for 16 pixels whose sample
// pairs are interleaved in xyLo/xyHi and zwLo/zwHi, as 16-bit values in
// pixel order.
inline __m256i Channel(__m256i xyLo, __m256i xyHi, __m256i xy, __m256i zwLo, __m256i zwHi,
                       __m256i zw, int32_t constant) {
  const __m256i c = _mm256_set1_epi32(constant);
  __m256i lo = _mm256_add_epi32(
      _mm256_add_epi32(_mm256_madd_epi16(xyLo, xy), _mm256_madd_epi16(zwLo, zw)), c);
  __m256i hi = _mm256_add_epi32(
      _mm256_add_epi32(_mm256_madd_epi16(xyHi, xy), _mm256_madd_epi16(zwHi, zw)), c);
  return _mm256_packs_epi32(_mm256_srai_epi32(lo, 16), _mm256_srai_epi32(hi, 16));
}

// 16 values of 0..255 in 16-bit lanes, stored as 16 bytes.
inline void Store16(uint8_t* out, __m256i v) {
  __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
}

// Byte k of a 16-byte mask: where channel c of pixel k sits in bytes
// 16t .. 16t + 15 of the interleaved input, else -128 (zero).
constexpr int8_t GatherByte(int t, int c, int k) {
  int j = 3 * k + c - 16 * t;
  return j >= 0 && j < 16 ? static_cast<int8_t>(j) : static_cast<int8_t>(-128);
}

template <int T, int C>
inline __m128i Gather(__m128i in) {
  return _mm_shuffle_epi8(
      in, _mm_setr_epi8(GatherByte(T, C, 0), GatherByte(T, C, 1), GatherByte(T, C, 2),
                        GatherByte(T, C, 3), GatherByte(T, C, 4), GatherByte(T, C, 5),
                        GatherByte(T, C, 6), GatherByte(T, C, 7), GatherByte(T, C, 8),
                        GatherByte(T, C, 9), GatherByte(T, C, 10), GatherByte(T, C, 11),
                        GatherByte(T, C, 12), GatherByte(T, C, 13), GatherByte(T, C, 14),
                        GatherByte(T, C, 15)));
}

// Channel C of 16 interleaved pixels as 16-bit values.
template <int C>
inline __m256i Samples16(__m128i in0, __m128i in1, __m128i in2) {
  return _mm256_cvtepu8_epi16(
      _mm_or_si128(_mm_or_si128(Gather<0, C>(in0), Gather<1, C>(in1)), Gather<2, C>(in2)));
}

int32_t Convert16s(const uint8_t* rgb, uint8_t* y, uint8_t* cb, uint8_t* cr, int32_t width) {
  int32_t x = 0;
  for (; x + 16 <= width; x += 16, rgb += 48) {
    // The caller's line is read once and seldom in cache: asking for it
    // three quarters of a kilobyte ahead keeps the loads from waiting. (A
    // prefetch never faults; the address is formed as an integer since it
    // may lie past the end of the line.)
    _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(rgb) + 768),
                 _MM_HINT_T0);
    __m128i in0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb));
    __m128i in1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 16));
    __m128i in2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 32));
    __m256i r = Samples16<0>(in0, in1, in2);
    __m256i g = Samples16<1>(in0, in1, in2);
    __m256i b = Samples16<2>(in0, in1, in2);
    __m256i rbLo = _mm256_unpacklo_epi16(r, b), rbHi = _mm256_unpackhi_epi16(r, b);
    __m256i ggLo = _mm256_unpacklo_epi16(g, g), ggHi = _mm256_unpackhi_epi16(g, g);
    __m256i rgLo = _mm256_unpacklo_epi16(r, g), rgHi = _mm256_unpackhi_epi16(r, g);
    __m256i bbLo = _mm256_unpacklo_epi16(b, b), bbHi = _mm256_unpackhi_epi16(b, b);
    __m256i rrLo = _mm256_unpacklo_epi16(r, r), rrHi = _mm256_unpackhi_epi16(r, r);
    __m256i gbLo = _mm256_unpacklo_epi16(g, b), gbHi = _mm256_unpackhi_epi16(g, b);
    constexpr int32_t kCbCr = 128 << 16;
    Store16(y + x, Channel(rbLo, rbHi, Pair(19595, 7471), ggLo, ggHi, Pair(19235, 19235), 1 << 15));
    Store16(cb + x,
            Channel(rgLo, rgHi, Pair(-11059, -21709), bbLo, bbHi, Pair(16384, 16384), kCbCr));
    Store16(cr + x,
            Channel(rrLo, rrHi, Pair(16384, 16384), gbLo, gbHi, Pair(-27439, -5329), kCbCr));
  }
  return x;
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
  int32_t x = Convert16s(rgb, y, cb, cr, width);
  rgb += 3 * x;
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
