// The encoder's dispatch point for its row kernel (colour conversion): the
// fastest variant this processor runs, chosen once per process, on first
// use. A null entry leaves the whole row to the table loop; every variant's
// samples equal the table loop's.
#pragma once

#include "encoder/colour_convert.h"
#include "platform/cpu_features.h"

namespace iffjpeg {

struct EncoderKernels {
  RgbToYccRowFn rgbToYccRow;  // null: the table loop alone
};

// The scalar twins, and the fastest variants this build and processor
// allow (built by encoder_kernels.cpp).
inline constexpr EncoderKernels kScalarEncoderKernels = {};
EncoderKernels FastestEncoderKernels();

// The kernels chosen for this process (the scalar ones while a test forces
// them); the table is built once, on first use, and never changes
// afterwards.
inline const EncoderKernels& SelectedEncoderKernels() {
  return platform::ChooseKernels<EncoderKernels, FastestEncoderKernels>(kScalarEncoderKernels);
}

}  // namespace iffjpeg
