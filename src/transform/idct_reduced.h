// Reduced inverse DCTs for scaled decoding: an 8 x 8 block of dequantized
// coefficients (natural order) to size x size samples, size 8, 4, 2 or 1.
#pragma once

#include <cstdint>

#include "memory/memory_manager.h"

namespace iffjpeg {

// Size 8: the full transform. Otherwise only the top-left size x size
// coefficients are read. Size 4 and 2: the
// n-point inverse transform of those terms, with the 8-point transform's
// normalization, so that each output approximates the mean of the 2 x 2 or
// 4 x 4 samples the full transform gives (T.81 A.3.3 evaluated at their
// centres). Size 1: exactly the value the full transform gives a block
// holding only its DC term. Samples are level-shifted by 128 and clamped,
// and stored at rows[k][column + x].
void ReducedInverseDctToSamples(const int16_t* block, int32_t size, SampleRow const* rows,
                                int32_t column);

// A width x height reduced transform (each 1, 2, 4 or 8), for components
// whose subsampling differs across and down: the same formula in each
// direction; equal sides are the square transform above.
void ReducedInverseDctToSamples(const int16_t* block, int32_t width, int32_t height,
                                SampleRow const* rows, int32_t column);

}  // namespace iffjpeg
