// Dequantization (T.81 A.3.4) of stored coefficient rows for the inverse
// DCT: each block's coefficients, kept in zigzag order, times the steps of
// its quantization table (also in zigzag order), into natural order.
#pragma once

#include <cstdint>

#include "memory/memory_manager.h"

namespace iffjpeg {

// Writes every coefficient of the blocks natural[0 .. blocks - 1], the
// zeros included: natural[b][zigzagToNatural[k]] = zigzag[b][k] x quant[k]
// in 16 bits, as the scalar loop of DequantizeNonZero gives it.
using DequantizeRowFn = void (*)(const CoefBlock* zigzag, CoefBlock* natural, int32_t blocks,
                                 const uint16_t* quant);

// The straightforward twin: only the non-zero coefficients, written into
// blocks the caller has cleared.
void DequantizeNonZero(const CoefBlock* zigzag, CoefBlock* natural, int32_t blocks,
                       const uint16_t* quant);

#if defined(IFFJPEG_HAVE_AVX2)
// The same with AVX2 byte shuffles.
void DequantizeRowAvx2(const CoefBlock* zigzag, CoefBlock* natural, int32_t blocks,
                       const uint16_t* quant);
#endif
#if defined(IFFJPEG_HAVE_AVX512)
// Sixteen natural positions at a time, gathered from the block's 64 terms
// by two-register word permutes on 256-bit registers (AVX-512 BW and VL).
void DequantizeRowAvx512(const CoefBlock* zigzag, CoefBlock* natural, int32_t blocks,
                         const uint16_t* quant);
#endif

}  // namespace iffjpeg
