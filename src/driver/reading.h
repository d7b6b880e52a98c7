// Opening a file for reading, and rewinding it for a backward seek.
#pragma once

#include <cstdint>

#include "driver/handle.h"

namespace iffjpeg {

// Opens the file, allocates the stream buffer and primes the decoder.
// Returns 0 or the code the open fails with; the result is in lastError.
int32_t OpenForReading(IFFHandle& handle, const void* source);

// Brings a read handle back to line 0: rewinds the file through the seek
// callback (3 when that fails; the handle is unchanged), then releases the
// decoder and sets it up again from the top of the file. When the second
// set-up fails, the handle refuses every later line with that code. A
// multi-scan file, decoded whole at open, only restarts serving its lines.
int32_t RewindForReading(IFFHandle& handle);

// One line through the decompression controller, into line (skipped when
// null). Returns the line's code, which is also stored in lastError.
int32_t DecodeOneLine(IFFHandle& handle, uint8_t* line);

}  // namespace iffjpeg
