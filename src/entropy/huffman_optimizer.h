// Huffman tables built for the image (T.81 K.2): the symbols a sequential
// scan codes are counted, then code lengths are derived from the counts and
// limited to 16 bits.
#pragma once

#include <cstdint>

#include "format/jpeg_records.h"

namespace iffjpeg {

// Symbol counts of one table: 256 symbols.
struct SymbolCounts {
  int64_t count[256];
};

// Counts the symbols encodeBlock codes for one block (zigzag order) whose
// DC difference is dcDifference: the DC size category, the AC run/size
// pairs with ZRL for runs above 15, and EOB after the last non-zero
// coefficient when it is not coefficient 63.
void CountBlockSymbols(const int16_t* block, int32_t dcDifference, SymbolCounts& dc,
                       SymbolCounts& ac);

// BITS and HUFFVAL for the counts (T.81 Figures K.1 to K.4): every symbol
// counted gets a code, no code is longer than 16 bits and none is all
// 1-bits. Counts with no symbol give a table of symbol 0 alone.
void BuildOptimalTable(const SymbolCounts& counts, HuffTable& table);

}  // namespace iffjpeg
