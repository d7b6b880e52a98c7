// Records shared by the reading and writing sides: components, quantization
// and Huffman tables, and the zigzag order of ITU-T T.81 Figure A.6.
#pragma once

#include <cstdint>

namespace iffjpeg {

// Colour-space codes, used for input, coded and output colour spaces.
enum ColourSpace : int32_t {
  kColourUnknown = 0,
  kColourGrey = 1,
  kColourRgb = 2,
  kColourYcc = 3,
  kColourOtherThree = 4,  // recognised from component identifiers 1, 4, 5
  kColourFour = 5,
  // Extended reading only: four components as inverted inks (Adobe), and
  // YCbCr with an inverted black (Adobe transform 2).
  kColourCmyk = 6,
  kColourYcck = 7,
};

struct ComponentInfo {
  int16_t componentId;
  int16_t componentIndex;
  int16_t hSampFactor;
  int16_t vSampFactor;
  int16_t quantTableNo;
  int16_t dcTableNo;
  int16_t acTableNo;
  int32_t trueWidth;
  int32_t trueHeight;
  int16_t mcuWidth;
  int16_t mcuHeight;
  int16_t mcuBlocks;
  int32_t paddedWidth;
  int32_t paddedHeight;
};

// A scan's spectral selection and successive approximation (T.81 B.2.3);
// a sequential scan is 0, 63, 0, 0.
struct ProgressiveScanParams {
  int32_t ss;
  int32_t se;
  int32_t ah;
  int32_t al;
};

// 64 quantizers in zigzag order.
struct QuantTable {
  uint16_t quantval[64];
};

// Decoding tables derived from bits/huffval (T.81 Annex C, F.2.2.3).
struct HuffDecodeTables {
  int32_t minCode[17];
  int32_t maxCode[18];  // [17] is the sentinel 0xFFFFF
  int32_t valPtr[17];
  int32_t lookNbits[256];
  uint8_t lookSym[256];
  // The fast decoder's combined lookup, for each 10-bit lookahead value
  // (layout in huffman_decoder.h): the bits it takes, the code's length and
  // symbol, the extended value when the AC magnitude bits also fit in the
  // ten, and the code's step in the fast reader's counter table.
  int64_t lookAc[1024];
  // The same codes for a block's coefficients that are decoded only to be
  // passed over (scaled decoding): the bits to drop, code and magnitude
  // together, the step through the block and the counter step.
  uint32_t lookSkip[1024];
};

// Encoding tables derived from bits/huffval (T.81 Annex C).
struct HuffEncodeTables {
  uint16_t codeOfSymbol[256];
  uint8_t sizeOfSymbol[256];
};

struct HuffTable {
  uint8_t bits[17];      // bits[l] = number of codes of length l, l = 1..16
  uint8_t huffval[256];  // symbols in code order
  int32_t written;       // the marker writer wrote it already
  union {
    HuffDecodeTables decode;
    HuffEncodeTables encode;
  };
};

inline constexpr int kMaxBlocksInMcu = 10;
inline constexpr int kMaxScanComponents = 4;
inline constexpr int kNumTables = 4;

// zigzagToNatural[k]: natural position of the k-th zigzag coefficient (T.81
// Figure A.6, read as: the k-th coefficient of the zigzag sequence sits at
// this row-major index of the 8x8 block); followed by 16 zero entries so
// that a corrupt run past 63 lands on 0.
inline constexpr int32_t zigzagToNatural[64 + 16] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33,
    40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36,
    29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54,
    47, 55, 62, 63, 0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0};

}  // namespace iffjpeg
