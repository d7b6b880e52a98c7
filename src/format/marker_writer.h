// The marker writer: every byte of a written file that is not entropy-coded
// data.
#pragma once

#include <cstdint>

#include "encoder/encoder_state.h"
#include "format/marker_codes.h"
#include "stream/byte_stream.h"

namespace iffjpeg {

// The SOI, JFIF APP0, DQT and frame header of a written file.
void WriteFileHeader(EncoderState& enc, ByteStream& stream);

// DHT for each scan component's DC then AC table (each table once per
// file), DRI when a restart interval is set, then SOS.
void WriteScanHeader(ByteStream& stream, EncoderState& enc);

// One DQT segment; returns 1 when it needed 16-bit values, else 0.
int32_t WriteQuantTable(EncoderState& enc, ByteStream& stream, int32_t tableNo);
// One DHT segment (tableClass 0 DC, 1 AC) unless the table was written.
void WriteHuffmanTable(ByteStream& stream, EncoderState& enc, int32_t tableNo, int32_t tableClass);
void WriteFrameHeader(int32_t markerCode, ByteStream& stream, EncoderState& enc);
void WriteSosSegment(ByteStream& stream, EncoderState& enc);

}  // namespace iffjpeg
