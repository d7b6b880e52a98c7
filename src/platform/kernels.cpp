#include "platform/kernels.h"

namespace iffjpeg {
namespace {

Kernels MakeScalar() {
  Kernels k{};
  k.decodeHuffmanMcu = decodeHuffmanMcu;
  k.encodeHuffmanMcu = encodeHuffmanMcu;
  k.inverseDctToSamples = InverseDctToSamplesScalar;
  k.forwardDctQuantize = ForwardDctQuantizeScalar;
  return k;
}

Kernels MakeFastest() {
  Kernels k = MakeScalar();
  k.decodeHuffmanMcu = decodeHuffmanMcuFast;
  k.decodeHuffmanMcus = decodeHuffmanMcusFast;
  k.encodeHuffmanMcu = encodeHuffmanMcuFast;
#if defined(IFFJPEG_HAVE_SSE2)
  // SSE2 is part of every x86-64 processor: no check needed.
  k.inverseDctToSamples = InverseDctToSamplesSse2;
  k.forwardDctQuantize = ForwardDctQuantizeSse2;
  k.doubleRowSpan = DoubleRowSpanSse2;
  k.doubleRowHVSpan = DoubleRowHVSpanSse2;
#endif
#if defined(IFFJPEG_HAVE_AVX2)
  if (__builtin_cpu_supports("avx2")) {
    k.yccToRgbRow = YccToRgbRowAvx2;
    k.rgbToYccRow = RgbToYccRowAvx2;
    k.forwardDctQuantizePair = ForwardDctQuantizePairAvx2;
    k.inverseDctPairToSamples = InverseDctPairToSamplesAvx2;
    k.inverseDctPairLowToSamples = InverseDctPairLowToSamplesAvx2;
    k.doubleRowSpan = DoubleRowSpanAvx2;
    k.doubleRowHVSpan = DoubleRowHVSpanAvx2;
  }
#endif
  return k;
}

#if defined(IFFJPEG_FAULT_INJECTION)
bool g_forceScalar = false;  // test hook only; never set in the shipped library
#endif

}  // namespace

const Kernels& ScalarKernels() {
  static const Kernels scalar = MakeScalar();
  return scalar;
}

const Kernels& SelectedKernels() {
#if defined(IFFJPEG_FAULT_INJECTION)
  if (g_forceScalar) return ScalarKernels();
#endif
  static const Kernels fastest = MakeFastest();
  return fastest;
}

}  // namespace iffjpeg

#if defined(IFFJPEG_FAULT_INJECTION)
namespace iffjpeg::testing {
void ForceScalarKernels(bool scalar) { g_forceScalar = scalar; }
}  // namespace iffjpeg::testing
#endif
