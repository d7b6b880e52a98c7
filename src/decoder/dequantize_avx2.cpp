// DequantizeNonZero's products for every position of the block at once,
// with AVX2 byte shuffles. Output register q holds natural rows 2q and
// 2q + 1 (one per 128-bit lane); each of the stored block's eight 8-term
// groups that feeds them is copied to both lanes and shuffled into place,
// the others' places zeroed, and the shuffles ORed together (22 of the 32
// group-register pairs feed something). The multiply keeps the low 16 bits
// of each product, as the scalar loop's conversion to int16_t does, and a
// zero term gives zero, so the rows need no clearing first.
#if defined(IFFJPEG_HAVE_AVX2)
#include <immintrin.h>

#include "decoder/dequantize.h"
#include "format/jpeg_records.h"
#include "memory/block_prefetch.h"

namespace iffjpeg {
namespace {

// The shuffles are unrolled into the one loop.
#define IFFJPEG_INLINE inline __attribute__((always_inline))

constexpr int32_t NaturalToZigzag(int32_t n) {
  for (int32_t k = 0; k < 64; ++k) {
    if (zigzagToNatural[k] == n) return k;
  }
  return 0;
}

// Byte i of the shuffle that takes group g's terms to output register q:
// lane i / 16 is natural row 2q + i / 16, word (i % 16) / 2 of it.
constexpr int8_t MaskByte(int32_t q, int32_t g, int32_t i) {
  const int32_t natural = 8 * (2 * q + i / 16) + (i % 16) / 2;
  const int32_t z = NaturalToZigzag(natural);
  return z / 8 == g ? static_cast<int8_t>(2 * (z % 8) + i % 2) : static_cast<int8_t>(-128);
}

// The 32 shuffles, made once at compile time.
struct Shuffles {
  int8_t mask[4][8][32];
  bool feeds[4][8];  // some byte of mask[q][g] takes a term
};

constexpr Shuffles MakeShuffles() {
  Shuffles t{};
  for (int32_t q = 0; q < 4; ++q) {
    for (int32_t g = 0; g < 8; ++g) {
      for (int32_t i = 0; i < 32; ++i) {
        t.mask[q][g][i] = MaskByte(q, g, i);
        t.feeds[q][g] = t.feeds[q][g] || t.mask[q][g][i] >= 0;
      }
    }
  }
  return t;
}

constexpr Shuffles kShuffles = MakeShuffles();

// Output register Q: each group that feeds it, loaded into both lanes
// where it is used (loads are cheap, and the block's registers then never
// outnumber the processor's: a spilled 32-byte register would need a stack
// alignment the Windows targets do not keep).
template <int32_t Q, int32_t G = 0>
IFFJPEG_INLINE __m256i Gather(const __m128i* groups) {
  if constexpr (G == 8) {
    return _mm256_setzero_si256();
  } else if constexpr (kShuffles.feeds[Q][G]) {
    const __m256i both = _mm256_broadcastsi128_si256(_mm_loadu_si128(groups + G));
    const __m256i mask = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kShuffles.mask[Q][G]));
    return _mm256_or_si256(_mm256_shuffle_epi8(both, mask), Gather<Q, G + 1>(groups));
  } else {
    return Gather<Q, G + 1>(groups);
  }
}

}  // namespace

void DequantizeRowAvx2(const CoefBlock* zigzag, CoefBlock* natural, int32_t blocks,
                       const uint16_t* quant) {
  uint16_t step[64];
  for (int32_t k = 0; k < 64; ++k) step[zigzagToNatural[k]] = quant[k];
  // (Read unaligned from memory where they are multiplied, for the same
  // reason.)
  const auto* steps = reinterpret_cast<const __m256i*>(step);
  for (int32_t b = 0; b < blocks; ++b) {
    const auto* in = reinterpret_cast<const __m128i*>(zigzag[b]);
    PrefetchBlockAhead(zigzag[b]);  // the rows come from whole-image arrays
    auto* out = reinterpret_cast<__m256i*>(natural[b]);
    _mm256_storeu_si256(out, _mm256_mullo_epi16(Gather<0>(in), _mm256_loadu_si256(steps)));
    _mm256_storeu_si256(out + 1, _mm256_mullo_epi16(Gather<1>(in), _mm256_loadu_si256(steps + 1)));
    _mm256_storeu_si256(out + 2, _mm256_mullo_epi16(Gather<2>(in), _mm256_loadu_si256(steps + 2)));
    _mm256_storeu_si256(out + 3, _mm256_mullo_epi16(Gather<3>(in), _mm256_loadu_si256(steps + 3)));
  }
}

}  // namespace iffjpeg
#endif  // IFFJPEG_HAVE_AVX2
