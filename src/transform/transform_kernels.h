// The transforms' dispatch point: the fastest variant of each block kernel
// this processor runs, chosen once per process, on first use. Every variant
// gives bit-identical results to its scalar twin.
#pragma once

#include "transform/fdct.h"
#include "transform/idct.h"

namespace iffjpeg {

struct TransformKernels {
  InverseDctToSamplesFn inverseDctToSamples;
  InverseDctPairToSamplesFn inverseDctPairToSamples;     // null: one block at a time
  InverseDctPairToSamplesFn inverseDctPairLowToSamples;  // with the pair kernel
  ForwardDctQuantizeFn forwardDctQuantize;
  ForwardDctQuantizePairFn forwardDctQuantizePair;  // null: one block at a time
};

// The kernels chosen for this process (the scalar twins while a test forces
// them); the table is built once and never changes afterwards.
const TransformKernels& SelectedTransformKernels();
const TransformKernels& ScalarTransformKernels();

}  // namespace iffjpeg
