// Upsampling: one slice of a component (v rows) to the maximum vertical
// sampling's rows at the padded image width, with the slices above and
// below as context (the "fancy" triangle filters for 2:1 ratios).
#pragma once

#include <cstdint>

#include "decoder/decoder_state.h"

namespace iffjpeg {

void UpsampleCopy(DecoderState& dec, int32_t componentPos, int32_t inputWidth, int32_t inputRows,
                  int32_t outputWidth, int32_t outputRows, SampleRow* above, SampleRow* current,
                  SampleRow* below, SampleRow* output);
void UpsampleDoubleH(DecoderState& dec, int32_t componentPos, int32_t inputWidth, int32_t inputRows,
                     int32_t outputWidth, int32_t outputRows, SampleRow* above, SampleRow* current,
                     SampleRow* below, SampleRow* output);
void UpsampleDoubleHV(DecoderState& dec, int32_t componentPos, int32_t inputWidth,
                      int32_t inputRows, int32_t outputWidth, int32_t outputRows, SampleRow* above,
                      SampleRow* current, SampleRow* below, SampleRow* output);
void UpsampleReplicate(DecoderState& dec, int32_t componentPos, int32_t inputWidth,
                       int32_t inputRows, int32_t outputWidth, int32_t outputRows, SampleRow* above,
                       SampleRow* current, SampleRow* below, SampleRow* output);

// Fast spans of the 2:1 filters' interiors: each computes the outputs of
// input columns 1, 2, ... up to a point it chooses and returns the first
// column it left to the caller; those outputs equal the scalar filter's.
using DoubleRowSpanFn = int32_t (*)(const uint8_t* s, int32_t width, uint8_t* out);
using DoubleRowHVSpanFn = int32_t (*)(const uint8_t* nearRow, const uint8_t* farRow, int32_t width,
                                      uint8_t* out);
#if defined(IFFJPEG_HAVE_SSE2)
int32_t DoubleRowSpanSse2(const uint8_t* s, int32_t width, uint8_t* out);
int32_t DoubleRowHVSpanSse2(const uint8_t* nearRow, const uint8_t* farRow, int32_t width,
                            uint8_t* out);
#endif
#if defined(IFFJPEG_HAVE_AVX2)
int32_t DoubleRowSpanAvx2(const uint8_t* s, int32_t width, uint8_t* out);
int32_t DoubleRowHVSpanAvx2(const uint8_t* nearRow, const uint8_t* farRow, int32_t width,
                            uint8_t* out);
#endif

// The upsampler for a component with factors h x v under maxima H x V, or
// null when the factors do not divide the maxima.
UpsampleFn ChooseUpsampler(int32_t h, int32_t v, int32_t maxH, int32_t maxV);

}  // namespace iffjpeg
