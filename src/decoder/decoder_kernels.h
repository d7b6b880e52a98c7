// The decoder's dispatch point for its row kernels (upsampling spans and
// colour deconversion): the fastest variant this processor runs, chosen
// once per process, on first use. A null entry leaves the whole row to the
// scalar loop; every variant's samples equal the scalar loop's.
#pragma once

#include "decoder/colour_deconvert.h"
#include "decoder/upsample.h"

namespace iffjpeg {

struct DecoderKernels {
  YccToRgbRowFn yccToRgbRow;          // null: the table loop alone
  DoubleRowSpanFn doubleRowSpan;      // null: the scalar loop alone
  DoubleRowHVSpanFn doubleRowHVSpan;  // null: the scalar loop alone
};

// The kernels chosen for this process (the scalar ones while a test forces
// them); the table is built once and never changes afterwards.
const DecoderKernels& SelectedDecoderKernels();
const DecoderKernels& ScalarDecoderKernels();

}  // namespace iffjpeg
