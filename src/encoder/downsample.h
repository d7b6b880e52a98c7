// Downsampling: one row group of one component from full size to the
// component's own sampling resolution.
#pragma once

#include <cstdint>

#include "encoder/encoder_state.h"

namespace iffjpeg {

// Installs one downsample operation per scan component. Returns 0, or 2 when
// a component's sampling ratios are not integral (no operation fits).
int32_t SelectDownsamplers(EncoderState& enc);

// The operations (DownsampleFn). They read only the group's own rows; the
// rows above and below are context they do not need.
void DownsampleFullSize(EncoderState& enc, int32_t scanIndex, int32_t inputWidth, int32_t inputRows,
                        int32_t outputWidth, int32_t outputRows, SampleRow* above, SampleRow* group,
                        SampleRow* below, SampleRow* output);
void DownsampleH2V1(EncoderState& enc, int32_t scanIndex, int32_t inputWidth, int32_t inputRows,
                    int32_t outputWidth, int32_t outputRows, SampleRow* above, SampleRow* group,
                    SampleRow* below, SampleRow* output);
void DownsampleH2V2(EncoderState& enc, int32_t scanIndex, int32_t inputWidth, int32_t inputRows,
                    int32_t outputWidth, int32_t outputRows, SampleRow* above, SampleRow* group,
                    SampleRow* below, SampleRow* output);
void DownsampleIntegral(EncoderState& enc, int32_t scanIndex, int32_t inputWidth, int32_t inputRows,
                        int32_t outputWidth, int32_t outputRows, SampleRow* above, SampleRow* group,
                        SampleRow* below, SampleRow* output);

}  // namespace iffjpeg
