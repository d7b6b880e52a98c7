// Bit masks over a block's 64 coefficients (zigzag order), bit k for
// position k: the Huffman coders walk the set bits instead of every
// position. The SSE2 forms compute exactly the scalar forms' masks (a test
// compares them on every shift): 16-bit compares, packed to bytes with
// signed saturation, which keeps 0 and -1 as they are.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace iffjpeg {

// Bit k set when |block[k]| >> shift is not zero (shift 0..14).
inline uint64_t MagnitudeMaskScalar(const int16_t* block, int32_t shift) {
  uint64_t mask = 0;
  for (int32_t k = 0; k < 64; ++k) {
    int32_t m = std::abs(static_cast<int32_t>(block[k])) >> shift;
    mask |= static_cast<uint64_t>(m != 0) << k;
  }
  return mask;
}

// Bit k set when block[k] is not zero.
inline uint64_t NonZeroMaskScalar(const int16_t* block) { return MagnitudeMaskScalar(block, 0); }

inline uint64_t NonZeroMask(const int16_t* block) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  uint64_t zeros = 0;
  for (int32_t i = 0; i < 4; ++i) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i + 8));
    __m128i bytes = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
    zeros |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(bytes)) & 0xFFFF)
             << (16 * i);
  }
  return ~zeros;
#else
  return NonZeroMaskScalar(block);
#endif
}

// |c| >> shift is not zero exactly when |c| > 2^shift - 1. The magnitude is
// taken as max(c, -c) in 16 bits, which is exact for every value but
// -32768; that one (never a quantized coefficient) is caught by testing
// c < -(2^shift - 1) as well.
inline uint64_t MagnitudeMask(const int16_t* block, int32_t shift) {
#if defined(__SSE2__)
  if (shift > 14) return MagnitudeMaskScalar(block, shift);
  const __m128i above = _mm_set1_epi16(static_cast<int16_t>((1 << shift) - 1));
  const __m128i below = _mm_set1_epi16(static_cast<int16_t>(-((1 << shift) - 1)));
  uint64_t mask = 0;
  for (int32_t i = 0; i < 4; ++i) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i + 8));
    __m128i ta = _mm_or_si128(_mm_cmpgt_epi16(a, above), _mm_cmplt_epi16(a, below));
    __m128i tb = _mm_or_si128(_mm_cmpgt_epi16(b, above), _mm_cmplt_epi16(b, below));
    uint32_t bits = static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(ta, tb)));
    mask |= static_cast<uint64_t>(bits & 0xFFFF) << (16 * i);
  }
  return mask;
#else
  return MagnitudeMaskScalar(block, shift);
#endif
}

// Bit k set when bit `shift` of |block[k]| is set (shift 0..14): the
// correction bits of a refinement scan (T.81 G.1.2.3).
inline uint64_t BitPlaneMaskScalar(const int16_t* block, int32_t shift) {
  uint64_t mask = 0;
  for (int32_t k = 0; k < 64; ++k) {
    int32_t m = std::abs(static_cast<int32_t>(block[k])) >> shift;
    mask |= static_cast<uint64_t>(m & 1) << k;
  }
  return mask;
}

// max(c, -c) is |c| read as unsigned 16 bits for every value, -32768
// (which wraps to itself, 0x8000) included.
inline uint64_t BitPlaneMask(const int16_t* block, int32_t shift) {
#if defined(__SSE2__)
  const __m128i one = _mm_set1_epi16(1);
  const __m128i count = _mm_cvtsi32_si128(shift);
  const __m128i zero = _mm_setzero_si128();
  uint64_t mask = 0;
  for (int32_t i = 0; i < 4; ++i) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i + 8));
    a = _mm_and_si128(_mm_srl_epi16(_mm_max_epi16(a, _mm_sub_epi16(zero, a)), count), one);
    b = _mm_and_si128(_mm_srl_epi16(_mm_max_epi16(b, _mm_sub_epi16(zero, b)), count), one);
    __m128i set = _mm_packs_epi16(_mm_cmpeq_epi16(a, one), _mm_cmpeq_epi16(b, one));
    mask |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(set)) & 0xFFFF)
            << (16 * i);
  }
  return mask;
#else
  return BitPlaneMaskScalar(block, shift);
#endif
}

// What a refinement scan at bit `shift` (0..13) needs of a block, from one
// pass over it: the coefficients non-zero at this bit and above, those
// non-zero above it already (refined, not new), and the bit itself of each
// magnitude (T.81 G.1.2.3).
struct RefinementMasks {
  uint64_t nonZero;  // MagnitudeMask(block, shift)
  uint64_t before;   // MagnitudeMask(block, shift + 1)
  uint64_t bits;     // BitPlaneMask(block, shift)
};

inline RefinementMasks RefinementMasksScalar(const int16_t* block, int32_t shift) {
  return {MagnitudeMaskScalar(block, shift), MagnitudeMaskScalar(block, shift + 1),
          BitPlaneMaskScalar(block, shift)};
}

inline RefinementMasks RefinementMasksOf(const int16_t* block, int32_t shift) {
#if defined(__SSE2__)
  // max(c, -c) read as unsigned 16 bits is |c| for every value.
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi16(1);
  const __m128i count = _mm_cvtsi32_si128(shift);
  RefinementMasks masks{0, 0, 0};
  for (int32_t i = 0; i < 4; ++i) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i + 8));
    a = _mm_srl_epi16(_mm_max_epi16(a, _mm_sub_epi16(zero, a)), count);
    b = _mm_srl_epi16(_mm_max_epi16(b, _mm_sub_epi16(zero, b)), count);
    auto bitsOf = [](__m128i x, __m128i y) {
      return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(x, y))) &
                                   0xFFFF);
    };
    const int32_t at = 16 * i;
    masks.nonZero |= (~bitsOf(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero)) & 0xFFFF) << at;
    masks.before |= (~bitsOf(_mm_cmpeq_epi16(_mm_srli_epi16(a, 1), zero),
                             _mm_cmpeq_epi16(_mm_srli_epi16(b, 1), zero)) &
                     0xFFFF)
                    << at;
    masks.bits |= bitsOf(_mm_cmpeq_epi16(_mm_and_si128(a, one), one),
                         _mm_cmpeq_epi16(_mm_and_si128(b, one), one))
                  << at;
  }
  return masks;
#else
  return RefinementMasksScalar(block, shift);
#endif
}

// Row kernels: the masks of `count` consecutive blocks (64 coefficients
// each) at once, out[i] for block i, exactly what MagnitudeMaskScalar and
// RefinementMasksScalar give (shift 0..13). The progressive encoder takes
// a row's masks from them a stretch at a time; a null kernel leaves each
// block to the forms above.
using MagnitudeMasksFn = void (*)(const int16_t* blocks, int32_t count, int32_t shift,
                                  uint64_t* out);
using RefinementMasksFn = void (*)(const int16_t* blocks, int32_t count, int32_t shift,
                                   RefinementMasks* out);
#if defined(IFFJPEG_HAVE_AVX2)
void MagnitudeMasksAvx2(const int16_t* blocks, int32_t count, int32_t shift, uint64_t* out);
void RefinementMasksAvx2(const int16_t* blocks, int32_t count, int32_t shift, RefinementMasks* out);
#endif

// Bits from..to of a mask (0 <= from, to <= 63; empty when from > to).
inline uint64_t Span(int32_t from, int32_t to) {
  if (from > to) return 0;
  uint64_t upTo = to == 63 ? ~uint64_t{0} : (uint64_t{1} << (to + 1)) - 1;
  return upTo & (~uint64_t{0} << from);
}

inline int32_t LowestBit(uint64_t mask) { return std::countr_zero(mask); }

// The set bits of a mask, without a library call where the target has no
// population-count instruction.
inline int32_t BitCount(uint64_t mask) {
#if defined(__POPCNT__)
  return std::popcount(mask);
#else
  mask -= (mask >> 1) & 0x5555555555555555u;
  mask = (mask & 0x3333333333333333u) + ((mask >> 2) & 0x3333333333333333u);
  mask = (mask + (mask >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return static_cast<int32_t>((mask * 0x0101010101010101u) >> 56);
#endif
}
inline int32_t HighestBit(uint64_t mask) { return 63 - std::countl_zero(mask); }

// The set bit of mask that n (0..63) lower set bits precede, alone; 0 when
// mask has n set bits or fewer.
inline uint64_t SelectBitScalar(uint64_t mask, int32_t n) {
  for (; n > 0 && mask != 0; --n) mask &= mask - 1;
  return mask & (~mask + 1);
}

// The low bits of source, lowest first, placed at the set bits of mask,
// lowest first.
inline uint64_t DepositBitsScalar(uint64_t source, uint64_t mask) {
  uint64_t out = 0;
  for (; mask != 0; mask &= mask - 1, source >>= 1) out |= (source & 1) * (mask & (~mask + 1));
  return out;
}

// Bit k to bit 63 - k.
inline uint64_t ReverseBits(uint64_t x) {
  x = (x >> 32) | (x << 32);
  x = ((x >> 16) & 0x0000FFFF0000FFFFu) | ((x & 0x0000FFFF0000FFFFu) << 16);
  x = ((x >> 8) & 0x00FF00FF00FF00FFu) | ((x & 0x00FF00FF00FF00FFu) << 8);
  x = ((x >> 4) & 0x0F0F0F0F0F0F0F0Fu) | ((x & 0x0F0F0F0F0F0F0F0Fu) << 4);
  x = ((x >> 2) & 0x3333333333333333u) | ((x & 0x3333333333333333u) << 2);
  return ((x >> 1) & 0x5555555555555555u) | ((x & 0x5555555555555555u) << 1);
}

// SelectBit, DepositBits and BitCount through PDEP and POPCNT, written as instructions so
// that they need no compiler option: only for a processor that has them
// (platform::ProcessorHasBitOps), and only in the builds that ask it.
#if defined(IFFJPEG_HAVE_AVX2)
inline uint64_t SelectBitDeposit(uint64_t mask, int32_t n) {
  uint64_t bit;
  asm("pdepq %2, %1, %0" : "=r"(bit) : "r"(uint64_t{1} << n), "rm"(mask));
  return bit;
}
inline uint64_t DepositBitsInstruction(uint64_t source, uint64_t mask) {
  uint64_t out;
  asm("pdepq %2, %1, %0" : "=r"(out) : "r"(source), "rm"(mask));
  return out;
}
inline int32_t BitCountInstruction(uint64_t mask) {
  uint64_t count;
  asm("popcntq %1, %0" : "=r"(count) : "rm"(mask));
  return static_cast<int32_t>(count);
}
#endif

}  // namespace iffjpeg
