// The encoder's dispatch point for its row kernels (colour conversion, the
// progressive coder's coefficient masks): the fastest variants this
// processor runs, chosen once per process, on first use. A null entry
// leaves the work to the portable loop; every variant's results equal the
// portable loop's.
#pragma once

#include "encoder/colour_convert.h"
#include "entropy/coefficient_masks.h"
#include "platform/cpu_features.h"

namespace iffjpeg {

struct EncoderKernels {
  RgbToYccRowFn rgbToYccRow;          // null: the table loop alone
  MagnitudeMasksFn magnitudeMasks;    // null: block by block (MagnitudeMask)
  RefinementMasksFn refinementMasks;  // null: block by block (RefinementMasksOf)
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
