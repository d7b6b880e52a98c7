#include "transform/transform_kernels.h"

#include "platform/cpu_features.h"

namespace iffjpeg {
namespace {

TransformKernels MakeScalar() {
  TransformKernels k{};
  k.inverseDctToSamples = InverseDctToSamplesScalar;
  k.forwardDctQuantize = ForwardDctQuantizeScalar;
  return k;
}

TransformKernels MakeFastest() {
  TransformKernels k = MakeScalar();
#if defined(IFFJPEG_HAVE_SSE2)
  // SSE2 is part of every x86-64 processor: no check needed.
  k.inverseDctToSamples = InverseDctToSamplesSse2;
  k.forwardDctQuantize = ForwardDctQuantizeSse2;
#endif
#if defined(IFFJPEG_HAVE_AVX2)
  if (platform::ProcessorHasAvx2()) {
    k.inverseDctPairToSamples = InverseDctPairToSamplesAvx2;
    k.inverseDctPairLowToSamples = InverseDctPairLowToSamplesAvx2;
    k.forwardDctQuantizePair = ForwardDctQuantizePairAvx2;
  }
#endif
  return k;
}

}  // namespace

const TransformKernels& ScalarTransformKernels() {
  static const TransformKernels scalar = MakeScalar();
  return scalar;
}

const TransformKernels& SelectedTransformKernels() {
  if (platform::ScalarKernelsForced()) return ScalarTransformKernels();
  static const TransformKernels fastest = MakeFastest();
  return fastest;
}

}  // namespace iffjpeg
