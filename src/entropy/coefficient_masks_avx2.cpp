// The coefficient masks of whole rows of blocks with 256-bit registers:
// each register holds 16 coefficients, whose magnitudes are taken with
// vpabsw and read as unsigned 16 bits (|-32768| = 0x8000, which the
// logical shifts treat as 32768, as the scalar forms do), then compared
// with zero and packed to bytes with signed saturation, which keeps 0 and
// -1 as they are. The pack works within 128-bit lanes; the qword permute
// restores the coefficients' order before the byte mask is taken.
#if defined(IFFJPEG_HAVE_AVX2)
#include <immintrin.h>

#include "entropy/coefficient_masks.h"
#include "memory/block_prefetch.h"

namespace iffjpeg {
namespace {

// |c| >> shift for coefficients 16 i .. 16 i + 15 of a block.
inline __m256i ShiftedMagnitudes(const int16_t* block, int32_t i, __m128i count) {
  __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 16 * i));
  return _mm256_srl_epi16(_mm256_abs_epi16(c), count);
}

// Bit j of the result for lane j of x (j < 16) and 16 + j for lane j of y,
// each lane 0 or -1.
inline uint32_t MaskOf(__m256i x, __m256i y) {
  __m256i bytes = _mm256_permute4x64_epi64(_mm256_packs_epi16(x, y), 0xD8);
  return static_cast<uint32_t>(_mm256_movemask_epi8(bytes));
}

}  // namespace

void MagnitudeMasksAvx2(const int16_t* blocks, int32_t count, int32_t shift, uint64_t* out) {
  const __m256i zero = _mm256_setzero_si256();
  const __m128i by = _mm_cvtsi32_si128(shift);
  for (int32_t b = 0; b < count; ++b, blocks += 64) {
    PrefetchBlockAhead(blocks);
    uint64_t zeros = 0;
    for (int32_t half = 0; half < 2; ++half) {
      __m256i x = _mm256_cmpeq_epi16(ShiftedMagnitudes(blocks, 2 * half, by), zero);
      __m256i y = _mm256_cmpeq_epi16(ShiftedMagnitudes(blocks, 2 * half + 1, by), zero);
      zeros |= static_cast<uint64_t>(MaskOf(x, y)) << (32 * half);
    }
    out[b] = ~zeros;
  }
}

void RefinementMasksAvx2(const int16_t* blocks, int32_t count, int32_t shift,
                         RefinementMasks* out) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i one = _mm256_set1_epi16(1);
  const __m128i by = _mm_cvtsi32_si128(shift);
  for (int32_t b = 0; b < count; ++b, blocks += 64) {
    PrefetchBlockAhead(blocks);
    uint64_t zeros = 0, zerosAbove = 0, bits = 0;
    for (int32_t half = 0; half < 2; ++half) {
      const __m256i x = ShiftedMagnitudes(blocks, 2 * half, by);
      const __m256i y = ShiftedMagnitudes(blocks, 2 * half + 1, by);
      const int32_t at = 32 * half;
      zeros |=
          static_cast<uint64_t>(MaskOf(_mm256_cmpeq_epi16(x, zero), _mm256_cmpeq_epi16(y, zero)))
          << at;
      zerosAbove |= static_cast<uint64_t>(MaskOf(_mm256_cmpeq_epi16(_mm256_srli_epi16(x, 1), zero),
                                                 _mm256_cmpeq_epi16(_mm256_srli_epi16(y, 1), zero)))
                    << at;
      bits |= static_cast<uint64_t>(MaskOf(_mm256_cmpeq_epi16(_mm256_and_si256(x, one), one),
                                           _mm256_cmpeq_epi16(_mm256_and_si256(y, one), one)))
              << at;
    }
    out[b] = {~zeros, ~zerosAbove, bits};
  }
}

}  // namespace iffjpeg
#endif  // IFFJPEG_HAVE_AVX2
