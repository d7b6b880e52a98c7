// Colour conversion: one host line into one row of each component of the
// full-size buffer.
#pragma once

#include <cstdint>

#include "encoder/encoder_state.h"

namespace iffjpeg {

struct IFFHandle;

// Installs the convert-line operation for the state's colour spaces;
// 0, 2 (unsupported combination) or 5 (no memory for the table).
int32_t SelectColourConverter(EncoderState& enc);

// Builds the RGB to YCbCr table once per state; false when it cannot be
// allocated.
bool BuildRgbYccTable(EncoderState& enc);

// The convert-line operations: write row `row` of every component served
// in `view` (one row-pointer array per component) from handle.currentLine.
void ConvertRgbToYcc(IFFHandle& handle, EncoderState& enc, int32_t row, SampleArray* view);
void CopyGreyLine(IFFHandle& handle, EncoderState& enc, int32_t row, SampleArray* view);
// A fast RGB-to-YCbCr row: converts the longest prefix of whole groups it
// handles and returns how many pixels that was (the caller converts the
// rest). Its samples equal those of ConvertRgbToYcc's table.
using RgbToYccRowFn = int32_t (*)(const uint8_t* rgb, uint8_t* y, uint8_t* cb, uint8_t* cr,
                                  int32_t width);
#if defined(IFFJPEG_HAVE_AVX2)
int32_t RgbToYccRowAvx2(const uint8_t* rgb, uint8_t* y, uint8_t* cb, uint8_t* cr, int32_t width);
#endif

}  // namespace iffjpeg
