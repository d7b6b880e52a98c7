// DequantizeNonZero's products for every position of the block at once.
// Output position n (natural order) takes term naturalToZigzag[n] of the
// stored block: a fixed permutation of its 64 words, which two word
// permutes over the block's halves (each picking from 32 words) and a blend
// carry out for each 16 positions. The multiply keeps the low 16 bits of
// each product, which is what the scalar loop's conversion to int16_t
// keeps, and a zero term gives zero, so the rows need no clearing first.
// Only 256-bit registers are used: the processor keeps its clock.
#if defined(IFFJPEG_HAVE_AVX512)
#include <immintrin.h>

#include "decoder/dequantize.h"
#include "format/jpeg_records.h"
#include "memory/block_prefetch.h"

namespace iffjpeg {

__attribute__((target("avx512f,avx512bw,avx512vl"))) void DequantizeRowAvx512(
    const CoefBlock* zigzag, CoefBlock* natural, int32_t blocks, const uint16_t* quant) {
  // For natural position n: the zigzag index of its term (the low five
  // bits index one 32-term half, bit 5 picks the second register of the
  // permute), and the step that term is multiplied by.
  alignas(32) uint16_t from[64];
  alignas(32) uint16_t step[64];
  for (int32_t k = 0; k < 64; ++k) {
    from[zigzagToNatural[k]] = static_cast<uint16_t>(k);
    step[zigzagToNatural[k]] = quant[k];
  }
  __m256i index[4], steps[4];
  __mmask16 upper[4];  // positions whose term lies in the block's second half
  for (int32_t q = 0; q < 4; ++q) {
    index[q] = _mm256_load_si256(reinterpret_cast<const __m256i*>(from + 16 * q));
    steps[q] = _mm256_load_si256(reinterpret_cast<const __m256i*>(step + 16 * q));
    upper[q] = _mm256_cmpge_epu16_mask(index[q], _mm256_set1_epi16(32));
  }
  for (int32_t b = 0; b < blocks; ++b) {
    const auto* in = reinterpret_cast<const __m256i*>(zigzag[b]);
    PrefetchBlockAhead(zigzag[b]);  // the rows come from whole-image arrays
    const __m256i t0 = _mm256_loadu_si256(in), t1 = _mm256_loadu_si256(in + 1);
    const __m256i t2 = _mm256_loadu_si256(in + 2), t3 = _mm256_loadu_si256(in + 3);
    auto* out = reinterpret_cast<__m256i*>(natural[b]);
    for (int32_t q = 0; q < 4; ++q) {
      const __m256i low = _mm256_permutex2var_epi16(t0, index[q], t1);
      const __m256i high = _mm256_permutex2var_epi16(t2, index[q], t3);
      const __m256i terms = _mm256_mask_blend_epi16(upper[q], low, high);
      _mm256_storeu_si256(out + q, _mm256_mullo_epi16(terms, steps[q]));
    }
  }
}

}  // namespace iffjpeg
#endif  // IFFJPEG_HAVE_AVX512
