// The marker writer: every byte of a written file that is not entropy-coded
// data. WriteFileHeader is declared with the driver's stages.
#pragma once

#include <cstdint>

#include "encoder/encoder_state.h"
#include "format/marker_codes.h"

namespace iffjpeg {

struct IFFHandle;

// DHT for each scan component's DC then AC table (each table once per
// file), DRI when a restart interval is set, then SOS.
void WriteScanHeader(IFFHandle& handle, EncoderState& enc);

// One DQT segment; returns 1 when it needed 16-bit values, else 0.
int32_t WriteQuantTable(EncoderState& enc, IFFHandle& handle, int32_t tableNo);
// One DHT segment (tableClass 0 DC, 1 AC) unless the table was written.
void WriteHuffmanTable(IFFHandle& handle, EncoderState& enc, int32_t tableNo, int32_t tableClass);
void WriteFrameHeader(int32_t markerCode, IFFHandle& handle, EncoderState& enc);
void WriteSosSegment(IFFHandle& handle, EncoderState& enc);

}  // namespace iffjpeg
