// The 8x8 inverse DCT: separable integer Loeffler-Ligtenberg-Moschytz form
// with 13-bit constants (T.81 A.3.3 defines the transform it approximates).
#pragma once

#include "memory/memory_manager.h"

namespace iffjpeg {

// Transforms a block of dequantized coefficients (natural order, index
// 8 x row + column) in place. The outputs are the samples minus 128, not
// limited: for valid data they lie near -128..127.
void inverseDct(CoefBlock& block);

}  // namespace iffjpeg
