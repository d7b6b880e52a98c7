// The named stages the entry points call, one per pipeline step. Each is
// defined in the subsystem that owns it.
#pragma once

#include <cstdint>

#include "driver/handle.h"
#include "format/marker_reader.h"
#include "format/marker_writer.h"

namespace iffjpeg {

// Reading (format/, decoder/).
int32_t SetDecompressDefaults(DecoderState& dec);
// ReadFileHeader, ReadToFirstScan and ReadToNextScan: format/marker_reader.h.
int32_t PrepareDecompress(DecoderState& dec);
// mode 0 start, 1 one line into handle.currentLine (skip when null),
// 2 finish the entropy pass, 3 release all decoder memory.
int32_t DecompressControl(IFFHandle& handle, DecoderState& dec, int32_t mode);

// Writing (encoder/, format/).
int32_t SetCompressDefaults(EncoderState& enc, int32_t quality, int32_t forceBaseline);
int32_t SetQuality(EncoderState& enc, int32_t quality, int32_t forceBaseline);
int32_t PrepareCompression(IFFHandle& handle, EncoderState& enc);
// WriteFileHeader and WriteScanHeader: format/marker_writer.h.
// mode 0 start the scan (writes DHT/SOS), 1 one line from
// handle.currentLine, 2 complete the entropy-coded data, 3 release memory.
int32_t RunCompressPipeline(IFFHandle& handle, EncoderState& enc, int32_t mode);

}  // namespace iffjpeg
