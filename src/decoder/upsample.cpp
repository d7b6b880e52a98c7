#include "decoder/upsample.h"

#include <algorithm>
#include <cstring>

#include "decoder/decoder_kernels.h"

namespace iffjpeg {
namespace {

// A row twice as wide: triangle filter, 3/4 of the nearer sample and 1/4 of
// the farther one, the edges kept. A fast span kernel may do a prefix of the
// interior.
void DoubleRow(const uint8_t* s, int32_t width, uint8_t* out, DoubleRowSpanFn span) {
  if (width == 1) {
    out[0] = out[1] = s[0];
    return;
  }
  out[0] = s[0];
  out[1] = static_cast<uint8_t>((3 * s[0] + s[1] + 2) >> 2);
  for (int32_t k = span != nullptr ? span(s, width, out) : 1; k < width - 1; ++k) {
    int32_t near3 = 3 * s[k];
    out[2 * k] = static_cast<uint8_t>((near3 + s[k - 1] + 2) >> 2);
    out[2 * k + 1] = static_cast<uint8_t>((near3 + s[k + 1] + 2) >> 2);
  }
  out[2 * width - 2] = static_cast<uint8_t>((3 * s[width - 1] + s[width - 2] + 2) >> 2);
  out[2 * width - 1] = s[width - 1];
}

// One output row of the 2x2 filter from a near and a far input row.
void DoubleRowHV(const uint8_t* nearRow, const uint8_t* farRow, int32_t width, uint8_t* out,
                 DoubleRowHVSpanFn span) {
  if (width == 1) {
    out[0] = out[1] = static_cast<uint8_t>((4 * (3 * nearRow[0] + farRow[0]) + 8) >> 4);
    return;
  }
  int32_t first = 3 * nearRow[0] + farRow[0];
  out[0] = static_cast<uint8_t>((4 * first + 8) >> 4);
  out[1] = static_cast<uint8_t>((3 * first + 3 * nearRow[1] + farRow[1] + 8) >> 4);
  int32_t x = span != nullptr ? span(nearRow, farRow, width, out) : 1;
  int32_t prev = 3 * nearRow[x - 1] + farRow[x - 1];
  int32_t cur = 3 * nearRow[x] + farRow[x];
  for (; x < width - 1; ++x) {
    int32_t next = 3 * nearRow[x + 1] + farRow[x + 1];
    out[2 * x] = static_cast<uint8_t>((3 * cur + prev + 8) >> 4);
    out[2 * x + 1] = static_cast<uint8_t>((3 * cur + next + 8) >> 4);
    prev = cur;
    cur = next;
  }
  // Here x = width - 1 and cur is its column sum.
  out[2 * width - 2] = static_cast<uint8_t>((3 * cur + prev + 8) >> 4);
  out[2 * width - 1] = static_cast<uint8_t>((4 * cur + 8) >> 4);
}

}  // namespace

void UpsampleCopy(DecoderState&, int32_t, int32_t inputWidth, int32_t, int32_t outputWidth,
                  int32_t outputRows, SampleRow*, SampleRow* current, SampleRow*,
                  SampleRow* output) {
  auto bytes = static_cast<std::size_t>(std::min(inputWidth, outputWidth));
  for (int32_t i = 0; i < outputRows; ++i) std::memcpy(output[i], current[i], bytes);
}

void UpsampleDoubleH(DecoderState&, int32_t, int32_t inputWidth, int32_t inputRows, int32_t,
                     int32_t, SampleRow*, SampleRow* current, SampleRow*, SampleRow* output) {
  const DoubleRowSpanFn span = SelectedDecoderKernels().doubleRowSpan;
  for (int32_t i = 0; i < inputRows; ++i) DoubleRow(current[i], inputWidth, output[i], span);
}

void UpsampleDoubleHV(DecoderState&, int32_t, int32_t inputWidth, int32_t inputRows, int32_t,
                      int32_t, SampleRow* above, SampleRow* current, SampleRow* below,
                      SampleRow* output) {
  const DoubleRowHVSpanFn span = SelectedDecoderKernels().doubleRowHVSpan;
  for (int32_t j = 0; j < inputRows; ++j) {
    const uint8_t* upper = j > 0 ? current[j - 1] : above[inputRows - 1];
    const uint8_t* lower = j < inputRows - 1 ? current[j + 1] : below[0];
    DoubleRowHV(current[j], upper, inputWidth, output[2 * j], span);
    DoubleRowHV(current[j], lower, inputWidth, output[2 * j + 1], span);
  }
}

void UpsampleReplicate(DecoderState& dec, int32_t componentPos, int32_t inputWidth,
                       int32_t inputRows, int32_t, int32_t, SampleRow*, SampleRow* current,
                       SampleRow*, SampleRow* output) {
  const ComponentInfo& comp = *dec.scanComponents[componentPos];
  int32_t eh = dec.maxHSampFactor / comp.hSampFactor;
  int32_t ev = dec.maxVSampFactor / comp.vSampFactor;
  for (int32_t i = 0; i < inputRows; ++i) {
    const uint8_t* in = current[i];
    uint8_t* first = output[i * ev];
    for (int32_t x = 0; x < inputWidth; ++x)
      std::memset(first + x * eh, in[x], static_cast<std::size_t>(eh));
    for (int32_t r = 1; r < ev; ++r) {
      std::memcpy(output[i * ev + r], first, static_cast<std::size_t>(inputWidth) * eh);
    }
  }
}

UpsampleFn ChooseUpsampler(int32_t h, int32_t v, int32_t maxH, int32_t maxV) {
  if (h == maxH && v == maxV) return UpsampleCopy;
  if (2 * h == maxH && v == maxV) return UpsampleDoubleH;
  if (2 * h == maxH && 2 * v == maxV) return UpsampleDoubleHV;
  if (h > 0 && v > 0 && maxH % h == 0 && maxV % v == 0) return UpsampleReplicate;
  return nullptr;
}

}  // namespace iffjpeg
