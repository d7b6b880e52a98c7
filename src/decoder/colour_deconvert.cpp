#include "decoder/colour_deconvert.h"

#include <cstring>

#include "common/result_codes.h"
#include "decoder/decoder_kernels.h"
#include "platform/platform.h"

namespace iffjpeg {
namespace {

int32_t RequiredComponents(int32_t colourSpace) {
  switch (colourSpace) {
    case kColourGrey:
      return 1;
    case kColourFour:
    case kColourCmyk:
    case kColourYcck:
      return 4;
    default:
      return 3;
  }
}

}  // namespace

namespace {

// R = Y + 1.402 Cr', G = Y - 0.34414 Cb' - 0.71414 Cr', B = Y + 1.772 Cb'
// with Cb', Cr' centred on 127.5: each entry is (2i - 255) times half the
// coefficient x 2^16, plus the rounding half where the value is final.
// Made at compile time: no file needs tables of its own.
constexpr YccTables MakeYccTables() {
  YccTables t{};
  for (int32_t i = 0; i < 256; ++i) {
    t.crToR[i] = (91882 * i - 11682187) >> 16;
    t.cbToB[i] = (116130 * i - 14773807) >> 16;
    t.crToG[i] = 5967255 - 46802 * i;
    t.cbToG[i] = 2908403 - 22554 * i;
  }
  return t;
}

constexpr YccTables kYccTables = MakeYccTables();

}  // namespace

const YccTables& YccToRgbTables() { return kYccTables; }

int32_t BuildYccTables(DecoderState&) { return kOk; }

void ConvertYccToRgb(DecoderState& dec, int32_t line, int32_t width, SampleArray* input,
                     SampleRow* output) {
  const uint8_t* y = input[0][line];
  const uint8_t* cb = input[1][line];
  const uint8_t* cr = input[2][line];
  const int32_t* crToR = dec.crToR();
  const int32_t* cbToB = dec.cbToB();
  const int32_t* crToG = dec.crToG();
  const int32_t* cbToG = dec.cbToG();
  const uint8_t* limit = dec.rangeLimit;
  uint8_t* out = output[0];
  int32_t x = 0;
  if (YccToRgbRowFn fast = SelectedDecoderKernels().yccToRgbRow) {
    x = fast(y, cb, cr, out, width);
    out += 3 * x;
  }
  for (; x < width; ++x) {
    int32_t luma = y[x];
    out[0] = limit[luma + crToR[cr[x]]];
    out[1] = limit[luma + ((cbToG[cb[x]] + crToG[cr[x]]) >> 16)];
    out[2] = limit[luma + cbToB[cb[x]]];
    out += 3;
  }
}

void ConvertGrey(DecoderState&, int32_t line, int32_t width, SampleArray* input,
                 SampleRow* output) {
  const uint8_t* in = input[0][line];
  uint8_t* out = output[0];
  int32_t x = 0;
  if (GreyRowFn fast = SelectedDecoderKernels().greyRow) x = fast(in, out, width);
  std::memcpy(out + x, in + x, static_cast<std::size_t>(width - x));
}

void ConvertPassThrough(DecoderState& dec, int32_t line, int32_t width, SampleArray* input,
                        SampleRow* output) {
  int32_t n = dec.numComponents;
  for (int32_t c = 0; c < n; ++c) {
    const uint8_t* in = input[c][line];
    uint8_t* out = output[0] + c;
    for (int32_t x = 0; x < width; ++x, out += n) *out = in[x];
  }
}

void ConvertCmykToRgb(DecoderState&, int32_t line, int32_t width, SampleArray* input,
                      SampleRow* output) {
  const uint8_t* c = input[0][line];
  const uint8_t* m = input[1][line];
  const uint8_t* y = input[2][line];
  const uint8_t* k = input[3][line];
  uint8_t* out = output[0];
  for (int32_t x = 0; x < width; ++x, out += 3) {
    out[0] = MultiplyInk(c[x], k[x]);
    out[1] = MultiplyInk(m[x], k[x]);
    out[2] = MultiplyInk(y[x], k[x]);
  }
}

void ConvertYcckToRgb(DecoderState& dec, int32_t line, int32_t width, SampleArray* input,
                      SampleRow* output) {
  // The YCbCr conversion writes (R', G', B') into the line; each byte is
  // then replaced by its ink C = 255 - R' (and so on) times K.
  ConvertYccToRgb(dec, line, width, input, output);
  const uint8_t* k = input[3][line];
  uint8_t* out = output[0];
  for (int32_t x = 0; x < width; ++x, out += 3) {
    out[0] = MultiplyInk(255u - out[0], k[x]);
    out[1] = MultiplyInk(255u - out[1], k[x]);
    out[2] = MultiplyInk(255u - out[2], k[x]);
  }
}

int32_t SelectColourDeconverter(DecoderState& dec) {
  int32_t space = dec.jpegColourSpace;
  if (space < kColourGrey || space > kColourYcck) return kErrInvalid;
  if (dec.numComponents != RequiredComponents(space)) return kErrInvalid;
  switch (dec.outputColourSpace) {
    case kColourGrey:
      dec.outputComponents = 1;
      if (space != kColourGrey && space != kColourYcc && space != kColourOtherThree)
        return kErrBadData;
      dec.methods->convertColour = ConvertGrey;
      return 0;
    case kColourRgb:
      dec.outputComponents = 3;
      if (space == kColourYcc) {
        int32_t rc = BuildYccTables(dec);
        if (rc != 0) return rc;
        dec.methods->convertColour = ConvertYccToRgb;
        return 0;
      }
      // CMYK and YCCK come only from extended reading's classification.
      if (space == kColourCmyk) {
        dec.methods->convertColour = ConvertCmykToRgb;
        return kOk;
      }
      if (space == kColourYcck) {
        int32_t rc = BuildYccTables(dec);
        if (rc != kOk) return rc;
        dec.methods->convertColour = ConvertYcckToRgb;
        return kOk;
      }
      if (space != kColourRgb) return kErrBadData;
      dec.methods->convertColour = ConvertPassThrough;
      return 0;
    default:
      if (dec.outputColourSpace != space) return kErrBadData;
      dec.outputComponents = dec.numComponents;
      dec.methods->convertColour = ConvertPassThrough;
      return 0;
  }
}

}  // namespace iffjpeg
