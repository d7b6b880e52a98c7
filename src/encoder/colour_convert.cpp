// RGB to YCbCr as JFIF defines it, in fixed point with 16 fraction bits:
// Y  =  0.29900 R + 0.58700 G + 0.11400 B
// Cb = -0.16874 R - 0.33126 G + 0.50000 B + 128
// Cr =  0.50000 R - 0.41869 G - 0.08131 B + 128
// Each product comes from a table, so a pixel costs no multiplication.
#include "encoder/colour_convert.h"

#include <cstring>

#include "common/result_codes.h"
#include "driver/handle.h"
#include "encoder/encoder_kernels.h"

namespace iffjpeg {
namespace {

constexpr int kScaleBits = 16;
constexpr int32_t kOneHalf = 1 << (kScaleBits - 1);
constexpr int32_t kCbCrOffset = 128 << kScaleBits;

// Sub-table offsets within the 2048-entry table.
constexpr int kRedY = 0 * 256;
constexpr int kGreenY = 1 * 256;
constexpr int kBlueY = 2 * 256;
constexpr int kRedCb = 3 * 256;
constexpr int kGreenCb = 4 * 256;
constexpr int kBlueCbRedCr = 5 * 256;  // both coefficients are one half
constexpr int kGreenCr = 6 * 256;
constexpr int kBlueCr = 7 * 256;
constexpr int kTableEntries = 8 * 256;

}  // namespace

bool BuildRgbYccTable(EncoderState& enc) {
  if (enc.colourTable != nullptr) return true;
  auto* table =
      static_cast<int32_t*>(enc.memory->allocSmall(kTableEntries * sizeof(int32_t), enc.pool));
  if (table == nullptr) return false;
  for (int32_t x = 0; x < 256; ++x) {
    table[kRedY + x] = 19595 * x;
    table[kGreenY + x] = 38470 * x;
    // Y alone is rounded; Cb and Cr are truncated.
    table[kBlueY + x] = 7471 * x + kOneHalf;
    table[kRedCb + x] = -11059 * x;
    table[kGreenCb + x] = -21709 * x;
    table[kBlueCbRedCr + x] = 32768 * x + kCbCrOffset;
    table[kGreenCr + x] = -27439 * x;
    table[kBlueCr + x] = -5329 * x;
  }
  enc.colourTable = table;
  return true;
}

void ConvertRgbToYcc(IFFHandle& handle, EncoderState& enc, int32_t row, SampleArray* view) {
  const int32_t* t = enc.colourTable;
  const uint8_t* in = handle.currentLine;
  uint8_t* y = view[0][row];
  uint8_t* cb = view[1][row];
  uint8_t* cr = view[2][row];
  int32_t i = 0;
  if (RgbToYccRowFn fast = SelectedEncoderKernels().rgbToYccRow) {
    i = fast(in, y, cb, cr, enc.imageWidth);
    in += 3 * i;
  }
  for (; i < enc.imageWidth; ++i, in += 3) {
    int r = in[0], g = in[1], b = in[2];
    // Every sum lies in 0 .. 255.99 x 65536, so no clamping is needed.
    y[i] = static_cast<uint8_t>((t[kRedY + r] + t[kGreenY + g] + t[kBlueY + b]) >> kScaleBits);
    cb[i] =
        static_cast<uint8_t>((t[kRedCb + r] + t[kGreenCb + g] + t[kBlueCbRedCr + b]) >> kScaleBits);
    cr[i] = static_cast<uint8_t>((t[kBlueCbRedCr + r] + t[kGreenCr + g] + t[kBlueCr + b]) >>
                                 kScaleBits);
  }
}

void CopyGreyLine(IFFHandle& handle, EncoderState& enc, int32_t row, SampleArray* view) {
  std::memcpy(view[0][row], handle.currentLine, static_cast<std::size_t>(enc.imageWidth));
}

int32_t SelectColourConverter(EncoderState& enc) {
  int32_t inSpace = enc.inputColourSpace;
  if (inSpace < kColourGrey || inSpace > kColourFour) return kErrInvalid;
  int32_t expectedInputs = inSpace == kColourGrey ? 1 : inSpace == kColourFour ? 4 : 3;
  if (enc.inputComponents != expectedInputs) return kErrInvalid;

  EncoderMethods& m = *enc.methods;
  switch (enc.jpegColourSpace) {
    case kColourGrey:
      if (enc.numComponents != 1 || inSpace != kColourGrey) return kErrInvalid;
      m.convertLine = CopyGreyLine;
      return 0;
    case kColourYcc:
      if (enc.numComponents != 3) return kErrInvalid;
      if (inSpace == kColourRgb) {
        if (!BuildRgbYccTable(enc)) return kErrMemory;
        m.convertLine = ConvertRgbToYcc;
        return 0;
      }
      return kErrInvalid;
    default:
      return kErrInvalid;
  }
}

}  // namespace iffjpeg
