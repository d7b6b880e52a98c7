// The inverse DCT of idct.cpp for eight rows (or columns) at once with SSE2,
// on the lane building blocks of transform_lanes.h (which say why every bit
// is the scalar transform's).
#if defined(IFFJPEG_HAVE_SSE2)
#include <emmintrin.h>

#include "transform/idct.h"
#include "transform/transform_lanes.h"

namespace iffjpeg {
namespace {

inline void StoreRow(__m128i values, uint8_t* out) {
  // +128 saturating in 16 bits, then unsigned saturation to 0..255: the
  // clamp of the scalar store for every 16-bit value.
  __m128i shifted = _mm_adds_epi16(values, _mm_set1_epi16(128));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(shifted, shifted));
}

}  // namespace

void InverseDctToSamplesSse2(const int16_t* block, SampleRow const* rows, int32_t column) {
  __m128i v[8];
  for (int k = 0; k < 8; ++k)
    v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k));
  // Pass 1 works on rows: lane r must hold row r, so inputs are columns.
  Transpose8x8(v);
  __m128i t[8];
  InverseTransform8<true>(v, t);
  // t[k] holds output k of every row; pass 2 needs row k of every column.
  Transpose8x8(t);
  InverseTransform8<false>(t, v);
  for (int k = 0; k < 8; ++k) StoreRow(v[k], rows[k] + column);
}

}  // namespace iffjpeg
#endif  // IFFJPEG_HAVE_SSE2
