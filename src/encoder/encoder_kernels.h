// The encoder's dispatch point for its row kernel (colour conversion): the
// fastest variant this processor runs, chosen once per process, on first
// use. A null entry leaves the whole row to the table loop; every variant's
// samples equal the table loop's.
#pragma once

#include "encoder/colour_convert.h"

namespace iffjpeg {

struct EncoderKernels {
  RgbToYccRowFn rgbToYccRow;  // null: the table loop alone
};

// The kernels chosen for this process (the scalar ones while a test forces
// them); the table is built once and never changes afterwards.
const EncoderKernels& SelectedEncoderKernels();
const EncoderKernels& ScalarEncoderKernels();

}  // namespace iffjpeg
