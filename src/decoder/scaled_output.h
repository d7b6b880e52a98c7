// Scaled decoding for the line and coefficient controllers: each MCU row's
// blocks through the reduced inverse DCTs, upsampled by replication and
// colour-converted at the reduced size, one band at a time.
#pragma once

#include <cstdint>

#include "driver/handle.h"

namespace iffjpeg {

// Hands over the next scaled line into handle.currentLine (nothing when it
// is null), decoding the next band when the current one is used up; the
// first call allocates the bands. kOk, or kErrMemory.
int32_t HandOverScaledLine(IFFHandle& handle, DecoderState& dec);

// Back to scaled line 0 (the coefficient controller's backward seek).
void RestartScaledLines(IFFHandle& handle);

// The whole-image controller's lines at a scale: each the mean of the
// d x d full-size samples it covers. kOk or the first non-zero code of the
// full lines it takes.
int32_t AverageFullLines(IFFHandle& handle, uint8_t* line,
                         int32_t (*fullLine)(IFFHandle& handle, uint8_t* line));

}  // namespace iffjpeg
