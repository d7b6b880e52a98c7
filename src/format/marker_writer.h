// The marker writer: every byte of a written file that is not entropy-coded
// data.
#pragma once

#include <cstdint>

#include "encoder/encoder_state.h"
#include "format/marker_codes.h"
#include "stream/byte_stream.h"

namespace iffjpeg {

// Metadata kinds (EncoderMetadata slots): IFF_CTL_METADATA's value - 1.
inline constexpr int32_t kMetadataIcc = 0;
inline constexpr int32_t kMetadataExif = 1;
inline constexpr int32_t kMetadataXmp = 2;
inline constexpr int32_t kMetadataComment = 3;

// A segment's length field counts itself and its payload (T.81 B.1.1.4).
inline constexpr uint32_t kMaxSegmentLength = 65535;
// ICC profile chunks: "ICC_PROFILE\0", sequence number and count before
// each chunk, and at most 255 chunks.
inline constexpr uint32_t kMaxIccChunk = kMaxSegmentLength - 2 - 12 - 2;
inline constexpr uint32_t kMaxIccChunks = 255;

// The most payload bytes a metadata kind can carry; 0 for another kind.
uint32_t MaxMetadataLength(int32_t kind);

// The SOI, JFIF APP0, the metadata segments (EXIF APP1, ICC APP2 chunks,
// XMP APP1, COM), DQT and frame header of a written file.
void WriteFileHeader(EncoderState& enc, ByteStream& stream);

// DHT for each scan component's DC then AC table (each table once per
// file), DRI when a restart interval is set, then SOS.
void WriteScanHeader(ByteStream& stream, EncoderState& enc);

// One DQT segment; returns 1 when it needed 16-bit values, else 0.
int32_t WriteQuantTable(EncoderState& enc, ByteStream& stream, int32_t tableNo);
// One DHT segment (tableClass 0 DC, 1 AC) unless the table was written.
void WriteHuffmanTable(ByteStream& stream, EncoderState& enc, int32_t tableNo, int32_t tableClass);
void WriteFrameHeader(int32_t markerCode, ByteStream& stream, EncoderState& enc);
// SOS for `count` components. A DC-only scan names no AC table and an AC
// scan no DC table (0 in their place).
void WriteSosSegment(ByteStream& stream, const ComponentInfo* const* components, int32_t count,
                     const ProgressiveScanParams& params);
// DRI, when a restart interval is set.
void WriteRestartInterval(ByteStream& stream, const EncoderState& enc);

}  // namespace iffjpeg
