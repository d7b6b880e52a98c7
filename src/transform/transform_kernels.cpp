#include "transform/transform_kernels.h"

namespace iffjpeg {

TransformKernels FastestTransformKernels() {
  TransformKernels k = kScalarTransformKernels;
#if defined(IFFJPEG_HAVE_SSE2)
  // SSE2 is part of every x86-64 processor: no check needed.
  k.inverseDctToSamples = InverseDctToSamplesSse2;
  k.forwardDctQuantize = ForwardDctQuantizeSse2;
  k.foldForHalfSize = FoldForHalfSizeSse2;
#endif
#if defined(IFFJPEG_HAVE_AVX2)
  if (platform::ProcessorHasAvx2()) {
    k.inverseDctPairToSamples = InverseDctPairToSamplesAvx2;
    k.inverseDctPairLowToSamples = InverseDctPairLowToSamplesAvx2;
    k.forwardDctQuantizePair = ForwardDctQuantizePairAvx2;
    k.reducedFourToSamples = ReducedFourToSamplesAvx2;
  }
#endif
#if defined(IFFJPEG_HAVE_AVX512)
  if (platform::ProcessorHasAvx512()) {
    k.inverseDctQuadToSamples = InverseDctQuadToSamplesAvx512;
    k.inverseDctQuadLowToSamples = InverseDctQuadLowToSamplesAvx512;
  }
#endif
  return k;
}

}  // namespace iffjpeg
