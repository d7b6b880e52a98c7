#include "decoder/dequantize.h"

#include <bit>

#include "entropy/coefficient_masks.h"
#include "format/jpeg_records.h"

namespace iffjpeg {
namespace {

// From this many non-zero terms on, a loop over all 64 positions costs less
// than walking the bits of the block's mask.
constexpr int32_t kDenseBlock = 20;

}  // namespace

void DequantizeNonZero(const CoefBlock* zigzag, CoefBlock* natural, int32_t blocks,
                       const uint16_t* quant) {
  for (int32_t b = 0; b < blocks; ++b) {
    const int16_t* src = zigzag[b];
    int16_t* dst = natural[b];
    uint64_t mask = NonZeroMask(src);
    // (A block with nothing past position 31 is taken as sparse without
    // counting.)
    if ((mask >> 32) != 0 && BitCount(mask) >= kDenseBlock) {
      // The zeros give zeros.
      for (int32_t k = 0; k < 64; ++k) {
        dst[zigzagToNatural[k]] = static_cast<int16_t>(src[k] * static_cast<int32_t>(quant[k]));
      }
      continue;
    }
    for (; mask != 0; mask &= mask - 1) {
      int32_t k = std::countr_zero(mask);
      dst[zigzagToNatural[k]] = static_cast<int16_t>(src[k] * static_cast<int32_t>(quant[k]));
    }
  }
}

}  // namespace iffjpeg
