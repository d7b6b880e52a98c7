// Colour deconversion: one line of full-resolution component samples into
// one line of output pixels, written straight into the host's buffer.
#pragma once

#include <cstdint>

#include "decoder/decoder_state.h"

namespace iffjpeg {

// Checks the colour spaces, sets the output components and installs
// convertColour. 0; 2 for an unknown space or a component count that does
// not match it; 7 when no conversion exists.
int32_t SelectColourDeconverter(DecoderState& dec);

// The four YCbCr-to-RGB tables (JFIF relations, 16 fraction bits) are
// constants, which dec.crToR() and its siblings give; nothing is built or
// allocated. Always 0.
int32_t BuildYccTables(DecoderState& dec);

void ConvertYccToRgb(DecoderState& dec, int32_t line, int32_t width, SampleArray* input,
                     SampleRow* output);
void ConvertGrey(DecoderState& dec, int32_t line, int32_t width, SampleArray* input,
                 SampleRow* output);
void ConvertPassThrough(DecoderState& dec, int32_t line, int32_t width, SampleArray* input,
                        SampleRow* output);

// Inverted inks as stored (white paper is 255 in every component):
// R = (C K + 127) / 255 and likewise G from M, B from Y, with integer
// division. t + (t >> 8) >> 8 with t = x K + 128 is that quotient for every
// pair of bytes (checked for all 65536 pairs by the tests): 255 is odd, so
// x K / 255 is never halfway and rounding it to nearest equals adding 127.
inline uint8_t MultiplyInk(uint32_t x, uint32_t k) {
  uint32_t t = x * k + 128;
  return static_cast<uint8_t>((t + (t >> 8)) >> 8);
}

// Four components C, M, Y, K into RGB with MultiplyInk.
void ConvertCmykToRgb(DecoderState& dec, int32_t line, int32_t width, SampleArray* input,
                      SampleRow* output);
// Y, Cb, Cr, K: (R', G', B') exactly as ConvertYccToRgb gives them, then
// C = 255 - R', M = 255 - G', Y = 255 - B' with the stored K as above.
void ConvertYcckToRgb(DecoderState& dec, int32_t line, int32_t width, SampleArray* input,
                      SampleRow* output);

// A fast YCbCr-to-RGB row: converts the longest prefix of whole groups it
// handles and returns how many pixels that was (the caller converts the
// rest). Its pixels equal those of ConvertYccToRgb's tables.
using YccToRgbRowFn = int32_t (*)(const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                                  uint8_t* out, int32_t width);
// A fast copy of a greyscale row into the host's line: copies the longest
// prefix of whole groups it handles and returns its length (the caller
// copies the rest).
using GreyRowFn = int32_t (*)(const uint8_t* in, uint8_t* out, int32_t width);
#if defined(IFFJPEG_HAVE_AVX2)
int32_t GreyRowAvx2(const uint8_t* in, uint8_t* out, int32_t width);
int32_t YccToRgbRowAvx2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out,
                        int32_t width);
#endif

}  // namespace iffjpeg
