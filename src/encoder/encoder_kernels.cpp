#include "encoder/encoder_kernels.h"

namespace iffjpeg {

EncoderKernels FastestEncoderKernels() {
  EncoderKernels k = kScalarEncoderKernels;
#if defined(IFFJPEG_HAVE_AVX2)
  if (platform::ProcessorHasAvx2()) {
    k.rgbToYccRow = RgbToYccRowAvx2;
    k.magnitudeMasks = MagnitudeMasksAvx2;
    k.refinementMasks = RefinementMasksAvx2;
  }
#endif
  return k;
}

}  // namespace iffjpeg
