// The decoder's dispatch point for its row kernels (upsampling spans,
// colour deconversion and the dequantization of stored coefficients): the
// fastest variant this processor runs, chosen once per process, on first
// use. A null entry leaves the whole row to the scalar loop; every
// variant's output equals the scalar loop's.
#pragma once

#include "decoder/colour_deconvert.h"
#include "decoder/dequantize.h"
#include "decoder/upsample.h"
#include "platform/cpu_features.h"

namespace iffjpeg {

struct DecoderKernels {
  YccToRgbRowFn yccToRgbRow;          // null: the table loop alone
  GreyRowFn greyRow;                  // null: memcpy alone
  DoubleRowSpanFn doubleRowSpan;      // null: the scalar loop alone
  DoubleRowHVSpanFn doubleRowHVSpan;  // null: the scalar loop alone
  DequantizeRowFn dequantizeRow;      // null: DequantizeNonZero into cleared rows
};

// The scalar twins, and the fastest variants this build and processor
// allow (built by decoder_kernels.cpp).
inline constexpr DecoderKernels kScalarDecoderKernels = {};
DecoderKernels FastestDecoderKernels();

// The kernels chosen for this process (the scalar ones while a test forces
// them); the table is built once, on first use, and never changes
// afterwards.
inline const DecoderKernels& SelectedDecoderKernels() {
  return platform::ChooseKernels<DecoderKernels, FastestDecoderKernels>(kScalarDecoderKernels);
}

}  // namespace iffjpeg
