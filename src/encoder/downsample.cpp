// Box-filter downsampling over whole integral ratios; the 2:1 cases have
// their own loops because they are the ones every RGB file uses.
#include "encoder/downsample.h"

#include <cstring>

#include "common/result_codes.h"

namespace iffjpeg {

void DownsampleFullSize(EncoderState&, int32_t, int32_t, int32_t, int32_t outputWidth,
                        int32_t outputRows, SampleRow*, SampleRow* group, SampleRow*,
                        SampleRow* output) {
  for (int32_t r = 0; r < outputRows; ++r) {
    std::memcpy(output[r], group[r], static_cast<std::size_t>(outputWidth));
  }
}

void DownsampleH2V1(EncoderState&, int32_t, int32_t, int32_t, int32_t outputWidth,
                    int32_t outputRows, SampleRow*, SampleRow* group, SampleRow*,
                    SampleRow* output) {
  for (int32_t r = 0; r < outputRows; ++r) {
    const uint8_t* in = group[r];
    uint8_t* out = output[r];
    for (int32_t c = 0; c < outputWidth; ++c, in += 2) {
      out[c] = static_cast<uint8_t>((in[0] + in[1] + 1) >> 1);
    }
  }
}

void DownsampleH2V2(EncoderState&, int32_t, int32_t, int32_t, int32_t outputWidth,
                    int32_t outputRows, SampleRow*, SampleRow* group, SampleRow*,
                    SampleRow* output) {
  for (int32_t r = 0; r < outputRows; ++r) {
    const uint8_t* a = group[2 * r];
    const uint8_t* b = group[2 * r + 1];
    uint8_t* out = output[r];
    for (int32_t c = 0; c < outputWidth; ++c, a += 2, b += 2) {
      out[c] = static_cast<uint8_t>((a[0] + a[1] + b[0] + b[1] + 2) >> 2);
    }
  }
}

void DownsampleIntegral(EncoderState& enc, int32_t scanIndex, int32_t, int32_t inputRows,
                        int32_t outputWidth, int32_t outputRows, SampleRow*, SampleRow* group,
                        SampleRow*, SampleRow* output) {
  const ComponentInfo& comp = *enc.scanComponents[scanIndex];
  int32_t hr = enc.maxHSampFactor / comp.hSampFactor;
  int32_t vr = inputRows / outputRows;
  int32_t n = hr * vr;
  int32_t bias = n / 2;
  for (int32_t r = 0; r < outputRows; ++r) {
    uint8_t* out = output[r];
    for (int32_t c = 0; c < outputWidth; ++c) {
      int32_t sum = 0;
      for (int32_t dy = 0; dy < vr; ++dy) {
        const uint8_t* in = group[r * vr + dy] + c * hr;
        for (int32_t dx = 0; dx < hr; ++dx) sum += in[dx];
      }
      out[c] = static_cast<uint8_t>((sum + bias) / n);
    }
  }
}

int32_t SelectDownsamplers(EncoderState& enc) {
  const int32_t hMax = enc.maxHSampFactor;
  const int32_t vMax = enc.maxVSampFactor;
  for (int32_t ci = 0; ci < enc.componentsInScan; ++ci) {
    const ComponentInfo& comp = *enc.scanComponents[ci];
    const int32_t h = comp.hSampFactor;
    const int32_t v = comp.vSampFactor;
    DownsampleFn fn;
    if (h == hMax && v == vMax) {
      fn = DownsampleFullSize;
    } else if (2 * h == hMax && v == vMax) {
      fn = DownsampleH2V1;
    } else if (2 * h == hMax && 2 * v == vMax) {
      fn = DownsampleH2V2;
    } else if (hMax % h == 0 && vMax % v == 0) {
      fn = DownsampleIntegral;
    } else {
      return kErrInvalid;  // no integral ratio: nothing can downsample this component
    }
    enc.methods->downsample[ci] = fn;
  }
  return 0;
}

}  // namespace iffjpeg
