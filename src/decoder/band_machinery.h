// The band machinery of the line controller, shared with the whole-image
// controller: scan geometry, the band buffers (the alternating pair of
// sample-row lists, one band of upsampled rows, the range-limit table), and
// handing over one line, which decodes or fetches the next band when the
// current one is used up.
#pragma once

#include <cstdint>

#include "driver/handle.h"

namespace iffjpeg {

// Per-scan geometry (T.81 A.2.2 and A.2.3); both end with prepareScan. The
// interleaved set-up returns 2 when an MCU would hold more than 10 blocks.
void SetUpSingleComponentScan(DecoderState& dec);
int32_t SetUpInterleavedScan(DecoderState& dec);

// Allocates, for the current scan components, the sample buffer pair, then
// one band of upsampled rows per frame component and the range-limit table.
// 0, or 5 when memory runs out.
int32_t AllocateBandBuffers(IFFHandle& handle, DecoderState& dec);

// Sets the band counters for line 0: no lines available, nothing pending.
void StartBands(IFFHandle& handle);

// Hands over one line into handle.currentLine (nothing when it is null),
// running the decoding step first when the band is used up. The step calls
// decodeMcuRow and reconstructMcuRow for every MCU row of a band.
void HandOverLine(IFFHandle& handle, DecoderState& dec);

}  // namespace iffjpeg
