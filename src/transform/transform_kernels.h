// The transforms' dispatch point: the fastest variant of each block kernel
// this processor runs, chosen once per process, on first use. Every variant
// gives bit-identical results to its scalar twin.
#pragma once

#include "platform/cpu_features.h"
#include "transform/fdct.h"
#include "transform/idct.h"
#include "transform/idct_reduced.h"

namespace iffjpeg {

struct TransformKernels {
  InverseDctToSamplesFn inverseDctToSamples;
  InverseDctPairToSamplesFn inverseDctPairToSamples;     // null: one block at a time
  InverseDctPairToSamplesFn inverseDctPairLowToSamples;  // with the pair kernel
  InverseDctQuadToSamplesFn inverseDctQuadToSamples;     // null: pairs at most
  InverseDctQuadToSamplesFn inverseDctQuadLowToSamples;  // with the quad kernel
  ForwardDctQuantizeFn forwardDctQuantize;
  ForwardDctQuantizePairFn forwardDctQuantizePair;  // null: one block at a time
  ReducedTransform reducedFourToSamples;            // scaled decoding's 4 x 4
  FoldForHalfSizeFn foldForHalfSize;                // before a half-size transform
};

// The scalar twins, and the fastest variants this build and processor
// allow (built by transform_kernels.cpp).
inline constexpr TransformKernels kScalarTransformKernels = {
    .inverseDctToSamples = InverseDctToSamplesScalar,
    .inverseDctPairToSamples = nullptr,
    .inverseDctPairLowToSamples = nullptr,
    .inverseDctQuadToSamples = nullptr,
    .inverseDctQuadLowToSamples = nullptr,
    .forwardDctQuantize = ForwardDctQuantizeScalar,
    .forwardDctQuantizePair = nullptr,
    .reducedFourToSamples = ReducedFourToSamplesScalar,
    .foldForHalfSize = FoldForHalfSizeScalar,
};
TransformKernels FastestTransformKernels();

// The kernels chosen for this process (the scalar ones while a test forces
// them); the table is built once, on first use, and never changes
// afterwards.
inline const TransformKernels& SelectedTransformKernels() {
  return platform::ChooseKernels<TransformKernels, FastestTransformKernels>(
      kScalarTransformKernels);
}

}  // namespace iffjpeg
