// The one dispatch point of the per-block and per-row kernels: the fastest
// variant this processor runs is chosen once per process, on first use.
// Every variant gives bit-identical results to its scalar twin.
#pragma once

#include "decoder/colour_deconvert.h"
#include "decoder/upsample.h"
#include "encoder/colour_convert.h"
#include "entropy/huffman_decoder.h"
#include "entropy/huffman_encoder.h"
#include "transform/fdct.h"
#include "transform/idct.h"

namespace iffjpeg {

using DecodeMcuFn = int32_t (*)(IFFHandle& handle, DecoderState& dec, CoefBlock** blocks);
using DecodeMcusFn = void (*)(IFFHandle& handle, DecoderState& dec, CoefBlock** blocks,
                              int32_t count);
using EncodeMcuFn = void (*)(IFFHandle& handle, EncoderState& enc, int16_t* mcu);

struct Kernels {
  DecodeMcuFn decodeHuffmanMcu;    // the word-at-a-time reader, portable C++
  DecodeMcusFn decodeHuffmanMcus;  // null: one MCU per call
  EncodeMcuFn encodeHuffmanMcu;    // the word-at-a-time writer, portable C++
  InverseDctToSamplesFn inverseDctToSamples;
  InverseDctPairToSamplesFn inverseDctPairToSamples;     // null: one block at a time
  InverseDctPairToSamplesFn inverseDctPairLowToSamples;  // with the pair kernel
  ForwardDctQuantizeFn forwardDctQuantize;
  ForwardDctQuantizePairFn forwardDctQuantizePair;  // null: one block at a time
  YccToRgbRowFn yccToRgbRow;          // null: the table loop alone
  DoubleRowSpanFn doubleRowSpan;      // null: the scalar loop alone
  DoubleRowHVSpanFn doubleRowHVSpan;  // null: the scalar loop alone
  RgbToYccRowFn rgbToYccRow;          // null: the table loop alone
};

// The kernels chosen for this process; an IFFJPEG_SCALAR_ONLY build has the
// portable fast Huffman decoder beside the scalar kernels. The table is
// built once and never changes afterwards.
const Kernels& SelectedKernels();
const Kernels& ScalarKernels();

}  // namespace iffjpeg

#if defined(IFFJPEG_FAULT_INJECTION)
namespace iffjpeg::testing {
// Test builds only: route SelectedKernels() to the scalar twins, so whole
// files can be compared with the fast paths off and on.
void ForceScalarKernels(bool scalar);
}  // namespace iffjpeg::testing
#endif
