// Huffman decoding of sequential entropy-coded segments (T.81 F.2.2):
// codes through an 8-bit lookahead, byte stuffing, zero bits at markers,
// restart markers, and dequantization folded into the coefficient store.
#pragma once

#include <cstdint>

#include "driver/handle.h"

namespace iffjpeg {

// Installs the Huffman entries of the decoder's operation table (nothing
// for an arithmetic-coded frame, which set-up refuses). Returns 0.
int32_t selectHuffmanDecoder(DecoderState& dec);

// Resets the bit reader, builds the scan's tables and resets predictions
// and restart counting. 2 when a scan component lacks its DC or AC table.
int32_t startHuffmanPass(IFFHandle& handle, DecoderState& dec);

// Decodes one MCU into blocks (one per block of the MCU, cleared by the
// caller). Always 0: corrupt or missing data still yields coefficients.
int32_t decodeHuffmanMcu(IFFHandle& handle, DecoderState& dec, CoefBlock** blocks);

// True when the code lengths in bits[1..16] cannot all be assigned codes:
// during the canonical assignment (T.81 Annex C) a code of length l would
// reach 2^l. Such a table would overrun the lookahead tables.
bool huffmanCodesOverflow(const uint8_t bits[17]);

// Derives minCode, maxCode, valPtr and the lookahead tables. The table must
// have passed huffmanCodesOverflow.
void buildDecodingTable(HuffTable& table);

// Bit-level primitives, exposed for tests.
int32_t getBits(IFFHandle& handle, int32_t n);
int32_t decodeSymbol(IFFHandle& handle, const HuffTable& table);
// T.81 F.2.2.1 EXTEND: the signed value of the s-bit magnitude r.
int32_t extendValue(int32_t r, int32_t s);

}  // namespace iffjpeg
