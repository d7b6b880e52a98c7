// The coefficient controller (extended reading): serves progressive frames
// and multi-scan sequential frames. Every scan is decoded, at the first line
// call, into one virtual block array per frame component; lines then come
// out of the line controller's band machinery, whose decoding step fetches
// each MCU row of coefficients from the arrays, so the inverse transform,
// upsampling and colour conversion are those of a sequential file holding
// the same quantized coefficients.
#pragma once

#include <cstdint>

#include "driver/handle.h"

namespace iffjpeg {

// The four modes of DecompressControl for such frames. Mode 0 (at open)
// only checks the frame; the first mode-1 call sizes the arrays (5 when the
// coefficients need more than both the memory and the backing-store limits,
// before anything is written), decodes every scan (at most 1,000) and hands
// over line 0; later calls hand over one line each. A scan whose data run
// out, whose restart sequence is lost or whose header is damaged ends the
// decoding there: the image is completed from what was decoded, and the
// first line of the first MCU row not reached reports 10, once.
int32_t CoefficientControl(IFFHandle& handle, DecoderState& dec, int32_t mode);

// Brings the lines back to line 0 from the coefficients already held.
void RestartCoefficientLines(IFFHandle& handle);

// The default limits, in MiB, and the range IFF_CTL_WHOLE_IMAGE_LIMITS takes.
inline constexpr int32_t kDefaultWholeMemoryMiB = 64;
inline constexpr int32_t kDefaultWholeStoreMiB = 4096;
inline constexpr int32_t kMaxWholeImageLimitMiB = 1048576;
// Scans decoded at most; a later one reports 10 on line 0.
inline constexpr int32_t kMaxScansDecoded = 1000;

}  // namespace iffjpeg
