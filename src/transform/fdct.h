// The forward 8x8 DCT in integer arithmetic.
#pragma once

#include <cstdint>

namespace iffjpeg {

// Transforms 64 level-shifted samples (natural order) in place into the true
// 2-D DCT coefficients: coefficient (u, v), u horizontal, at index 8v + u.
void forwardDct(int16_t* block);

}  // namespace iffjpeg
