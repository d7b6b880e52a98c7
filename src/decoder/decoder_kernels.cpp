#include "decoder/decoder_kernels.h"

namespace iffjpeg {

DecoderKernels FastestDecoderKernels() {
  DecoderKernels k = kScalarDecoderKernels;
#if defined(IFFJPEG_HAVE_SSE2)
  // SSE2 is part of every x86-64 processor: no check needed.
  k.doubleRowSpan = DoubleRowSpanSse2;
  k.doubleRowHVSpan = DoubleRowHVSpanSse2;
#endif
#if defined(IFFJPEG_HAVE_AVX2)
  if (platform::ProcessorHasAvx2()) {
    k.yccToRgbRow = YccToRgbRowAvx2;
    k.greyRow = GreyRowAvx2;
    k.doubleRowSpan = DoubleRowSpanAvx2;
    k.doubleRowHVSpan = DoubleRowHVSpanAvx2;
    k.dequantizeRow = DequantizeRowAvx2;
  }
#endif
#if defined(IFFJPEG_HAVE_AVX512)
  if (platform::ProcessorHasAvx512OnYmm()) k.dequantizeRow = DequantizeRowAvx512;
#endif
  return k;
}

}  // namespace iffjpeg
