// Reading the JPEG interchange format (T.81 B.2, Annex B) with the JFIF
// segment, from SOI up to the first scan header. ReadFileHeader and
// ReadToFirstScan are declared in driver/stages.h; the pieces below are
// exposed for tests.
#pragma once

#include <cstdint>

#include "driver/handle.h"
#include "format/marker_codes.h"

namespace iffjpeg {

// The next marker's code (1..0xFE), passing over any other bytes, fill
// bytes and stuffed 0xFF 0x00 pairs.
int NextMarker(IFFHandle& handle);

// Handles table and miscellaneous segments until a marker that ends a run
// (a frame header, SOI, EOI, SOS); returns that code, or 7 for a malformed
// segment, or 5 when a table cannot be allocated.
int ReadMarkers(IFFHandle& handle, DecoderState& dec);

// Segment readers; each starts at the segment's length field.
int32_t ReadHuffmanTables(IFFHandle& handle, DecoderState& dec);
int32_t ReadArithConditioning(IFFHandle& handle, DecoderState& dec);
int32_t ReadQuantTables(IFFHandle& handle, DecoderState& dec);
int32_t ReadJfifSegment(IFFHandle& handle, DecoderState& dec);
int32_t ReadAdobeSegment(IFFHandle& handle, DecoderState& dec);
void SkipSegment(IFFHandle& handle);
int32_t ReadFrameHeader(IFFHandle& handle, DecoderState& dec, int32_t arithmetic);
int32_t ReadScanHeader(IFFHandle& handle, DecoderState& dec);

// The colour space of the coded data, from the component count, the
// identifiers and whether a JFIF segment was seen.
int32_t ClassifyColourSpace(const DecoderState& dec);

// Extended reading's colour model: the Adobe segment's transform when it
// fits the component count (3: 0 RGB, 1 YCbCr; 4: 0 CMYK, 2 YCCK), else a
// JFIF segment means YCbCr, identifiers 'R', 'G', 'B' mean RGB, other
// three-component files as ClassifyColourSpace, four components CMYK.
int32_t ClassifyExtendedColourSpace(const DecoderState& dec);

}  // namespace iffjpeg
