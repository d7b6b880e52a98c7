#include "encoder/encoder_kernels.h"

#include "platform/cpu_features.h"

namespace iffjpeg {
namespace {

EncoderKernels MakeFastest() {
  EncoderKernels k{};
#if defined(IFFJPEG_HAVE_AVX2)
  if (platform::ProcessorHasAvx2()) k.rgbToYccRow = RgbToYccRowAvx2;
#endif
  return k;
}

}  // namespace

const EncoderKernels& ScalarEncoderKernels() {
  static const EncoderKernels scalar{};
  return scalar;
}

const EncoderKernels& SelectedEncoderKernels() {
  if (platform::ScalarKernelsForced()) return ScalarEncoderKernels();
  static const EncoderKernels fastest = MakeFastest();
  return fastest;
}

}  // namespace iffjpeg
