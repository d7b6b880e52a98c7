// Each stage's kernel dispatch hands out exactly the variants its build and
// this processor allow, and every stage follows the test switch to its
// scalar twins and back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder/decoder_kernels.h"
#include "decoder/decoder_state.h"
#include "encoder/encoder_kernels.h"
#include "encoder/encoder_state.h"
#include "entropy/huffman_decoder.h"
#include "entropy/huffman_encoder.h"
#include "platform/cpu_features.h"
#include "transform/transform_kernels.h"

namespace iffjpeg_test {
namespace {

using namespace iffjpeg;

// One entry of a kernel table: what the dispatch chose and what it should
// have chosen, as untyped pointers so that one table holds every kind.
struct Choice {
  std::string entry;
  const void* chosen;
  const void* expected;
};

template <class Fn>
const void* Ptr(Fn fn) {
  return reinterpret_cast<const void*>(fn);
}

// The Huffman coders' choice is made when a scan's methods are selected.
struct HuffmanChoice {
  DecoderMethods decoding{};
  EncoderMethods encoding{};
  HuffmanChoice() {
    DecoderState dec{};
    dec.methods = &decoding;
    selectHuffmanDecoder(dec);
    EncoderState enc{};
    enc.methods = &encoding;
    selectHuffmanEncoder(enc);
  }
};

std::vector<Choice> FastestChoices() {
  const TransformKernels& t = SelectedTransformKernels();
  const DecoderKernels& d = SelectedDecoderKernels();
  const EncoderKernels& e = SelectedEncoderKernels();
  HuffmanChoice h;
  const bool sse2 =
#if defined(IFFJPEG_HAVE_SSE2)
      true;
#else
      false;
#endif
  const bool avx2 = platform::ProcessorHasAvx2();
#if !defined(IFFJPEG_HAVE_AVX2)
  EXPECT_FALSE(avx2) << "a build without the AVX2 kernels never reports AVX2";
#endif
  const void* none = nullptr;
  // The expected kernel for each ISA level, widest first; compiled only
  // where the build has that variant.
  auto pick = [&](const void* withAvx2, const void* withSse2, const void* scalar) {
    return avx2 ? withAvx2 : sse2 ? withSse2 : scalar;
  };
  std::vector<Choice> choices = {
      {"decodeMcu", Ptr(h.decoding.decodeMcu), Ptr(decodeHuffmanMcuFast)},
      {"decodeMcus", Ptr(h.decoding.decodeMcus), Ptr(decodeHuffmanMcusFast)},
      {"encodeMcu", Ptr(h.encoding.encodeMcu), Ptr(encodeHuffmanMcuFast)},
  };
#if defined(IFFJPEG_HAVE_AVX2)
  const void* idctPair = Ptr(InverseDctPairToSamplesAvx2);
  const void* idctPairLow = Ptr(InverseDctPairLowToSamplesAvx2);
  const void* fdctPair = Ptr(ForwardDctQuantizePairAvx2);
  const void* ycc = Ptr(YccToRgbRowAvx2);
  const void* grey = Ptr(GreyRowAvx2);
  const void* rgb = Ptr(RgbToYccRowAvx2);
  const void* span = Ptr(DoubleRowSpanAvx2);
  const void* spanHV = Ptr(DoubleRowHVSpanAvx2);
#else
  const void *idctPair = none, *idctPairLow = none, *fdctPair = none, *ycc = none, *rgb = none;
  const void* grey = none;
  const void *span = none, *spanHV = none;
#endif
#if defined(IFFJPEG_HAVE_SSE2)
  const void* idct = Ptr(InverseDctToSamplesSse2);
  const void* fdct = Ptr(ForwardDctQuantizeSse2);
  const void* spanSse2 = Ptr(DoubleRowSpanSse2);
  const void* spanHVSse2 = Ptr(DoubleRowHVSpanSse2);
#else
  const void* idct = Ptr(InverseDctToSamplesScalar);
  const void* fdct = Ptr(ForwardDctQuantizeScalar);
  const void *spanSse2 = none, *spanHVSse2 = none;
#endif
#if defined(IFFJPEG_HAVE_AVX512)
  const bool avx512 = platform::ProcessorHasAvx512();
  const void* idctQuad = avx512 ? Ptr(InverseDctQuadToSamplesAvx512) : none;
  const void* idctQuadLow = avx512 ? Ptr(InverseDctQuadLowToSamplesAvx512) : none;
#else
  EXPECT_FALSE(platform::ProcessorHasAvx512()) << "a build without the 512-bit kernels";
  const void *idctQuad = none, *idctQuadLow = none;
#endif
  std::vector<Choice> isa = {
      {"inverseDctQuadToSamples", Ptr(t.inverseDctQuadToSamples), idctQuad},
      {"inverseDctQuadLowToSamples", Ptr(t.inverseDctQuadLowToSamples), idctQuadLow},
      {"inverseDctToSamples", Ptr(t.inverseDctToSamples), idct},
      {"inverseDctPairToSamples", Ptr(t.inverseDctPairToSamples), pick(idctPair, none, none)},
      {"inverseDctPairLowToSamples", Ptr(t.inverseDctPairLowToSamples),
       pick(idctPairLow, none, none)},
      {"forwardDctQuantize", Ptr(t.forwardDctQuantize), fdct},
      {"forwardDctQuantizePair", Ptr(t.forwardDctQuantizePair), pick(fdctPair, none, none)},
      {"yccToRgbRow", Ptr(d.yccToRgbRow), pick(ycc, none, none)},
      {"greyRow", Ptr(d.greyRow), pick(grey, none, none)},
      {"doubleRowSpan", Ptr(d.doubleRowSpan), pick(span, spanSse2, none)},
      {"doubleRowHVSpan", Ptr(d.doubleRowHVSpan), pick(spanHV, spanHVSse2, none)},
      {"rgbToYccRow", Ptr(e.rgbToYccRow), pick(rgb, none, none)},
  };
  choices.insert(choices.end(), isa.begin(), isa.end());
  return choices;
}

std::vector<Choice> ScalarChoices() {
  const TransformKernels& t = SelectedTransformKernels();
  const DecoderKernels& d = SelectedDecoderKernels();
  const EncoderKernels& e = SelectedEncoderKernels();
  HuffmanChoice h;
  return {
      {"decodeMcu", Ptr(h.decoding.decodeMcu), Ptr(decodeHuffmanMcu)},
      {"decodeMcus", Ptr(h.decoding.decodeMcus), nullptr},
      {"encodeMcu", Ptr(h.encoding.encodeMcu), Ptr(encodeHuffmanMcu)},
      {"inverseDctToSamples", Ptr(t.inverseDctToSamples), Ptr(InverseDctToSamplesScalar)},
      {"inverseDctPairToSamples", Ptr(t.inverseDctPairToSamples), nullptr},
      {"inverseDctPairLowToSamples", Ptr(t.inverseDctPairLowToSamples), nullptr},
      {"inverseDctQuadToSamples", Ptr(t.inverseDctQuadToSamples), nullptr},
      {"inverseDctQuadLowToSamples", Ptr(t.inverseDctQuadLowToSamples), nullptr},
      {"forwardDctQuantize", Ptr(t.forwardDctQuantize), Ptr(ForwardDctQuantizeScalar)},
      {"forwardDctQuantizePair", Ptr(t.forwardDctQuantizePair), nullptr},
      {"yccToRgbRow", Ptr(d.yccToRgbRow), nullptr},
      {"greyRow", Ptr(d.greyRow), nullptr},
      {"doubleRowSpan", Ptr(d.doubleRowSpan), nullptr},
      {"doubleRowHVSpan", Ptr(d.doubleRowHVSpan), nullptr},
      {"rgbToYccRow", Ptr(e.rgbToYccRow), nullptr},
  };
}

void ExpectChoices(const std::vector<Choice>& choices, const char* when) {
  for (const Choice& c : choices) EXPECT_EQ(c.chosen, c.expected) << c.entry << " " << when;
}

TEST(KernelDispatch, EachStageChoosesTheWidestVariantAndFollowsTheScalarSwitch) {
  ExpectChoices(FastestChoices(), "before forcing");
  iffjpeg::testing::ForceScalarKernels(true);
  ExpectChoices(ScalarChoices(), "while forced");
  iffjpeg::testing::ForceScalarKernels(false);
  // The one-time choice survives the switch: the same table comes back.
  ExpectChoices(FastestChoices(), "after restoring");
}

}  // namespace
}  // namespace iffjpeg_test
