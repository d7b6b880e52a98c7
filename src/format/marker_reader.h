// Reading the JPEG interchange format (T.81 B.2, Annex B) with the JFIF
// segment, from SOI up to the first scan header. The readers take the
// byte stream and the decoder record they fill; the segment readers are
// exposed for tests.
#pragma once

#include <cstdint>

#include "decoder/decoder_state.h"
#include "format/marker_codes.h"
#include "stream/byte_stream.h"

namespace iffjpeg {

int32_t ReadFileHeader(ByteStream& stream, DecoderState& dec);
int32_t ReadToFirstScan(ByteStream& stream, DecoderState& dec);
// After a scan's entropy-coded data: tables, restart interval and other
// segments up to and including the next scan header (0), or up to EOI (0
// with no scan components); 7 for anything else, 5 when a table cannot be
// allocated.
int32_t ReadToNextScan(ByteStream& stream, DecoderState& dec);

// The next marker's code (1..0xFE), passing over any other bytes, fill
// bytes and stuffed 0xFF 0x00 pairs.
int NextMarker(ByteStream& stream);
// The same, counting in passed the data bytes passed over on the way.
int NextMarker(ByteStream& stream, int32_t& passed);

// Handles table and miscellaneous segments until a marker that ends a run
// (a frame header, SOI, EOI, SOS); returns that code, or 7 for a malformed
// segment, or 5 when a table cannot be allocated.
int ReadMarkers(ByteStream& stream, DecoderState& dec);

// Segment readers; each starts at the segment's length field.
int32_t ReadHuffmanTables(ByteStream& stream, DecoderState& dec);
int32_t ReadArithConditioning(ByteStream& stream, DecoderState& dec);
int32_t ReadQuantTables(ByteStream& stream, DecoderState& dec);
int32_t ReadJfifSegment(ByteStream& stream, DecoderState& dec);
int32_t ReadAdobeSegment(ByteStream& stream, DecoderState& dec);
void SkipSegment(ByteStream& stream);
int32_t ReadFrameHeader(ByteStream& stream, DecoderState& dec, int32_t arithmetic);
int32_t ReadScanHeader(ByteStream& stream, DecoderState& dec);

// The colour space of the coded data, from the component count, the
// identifiers and whether a JFIF segment was seen.
int32_t ClassifyColourSpace(const DecoderState& dec);

// Extended reading's colour model: the Adobe segment's transform when it
// fits the component count (3: 0 RGB, 1 YCbCr; 4: 0 CMYK, 2 YCCK), else a
// JFIF segment means YCbCr, identifiers 'R', 'G', 'B' mean RGB, other
// three-component files as ClassifyColourSpace, four components CMYK.
int32_t ClassifyExtendedColourSpace(const DecoderState& dec);

}  // namespace iffjpeg
