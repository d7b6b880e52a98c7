// Per-scan selection of the MCU-row and upsampling stages.
#pragma once

#include "decoder/decoder_state.h"

namespace iffjpeg {

// Installs decodeMcuRow, reconstructMcuRow and one upsampler per scan
// component. The scan geometry must be set up.
void PrepareScan(DecoderState& dec);

}  // namespace iffjpeg
