// Huffman decoding of sequential entropy-coded segments (T.81 F.2.2):
// codes through an 8-bit lookahead, byte stuffing, zero bits at markers,
// restart markers, and dequantization folded into the coefficient store.
#pragma once

#include <cstdint>

#include "decoder/decoder_state.h"
#include "decoder/decompress_fields.h"
#include "stream/byte_stream.h"

namespace iffjpeg {

// Installs the Huffman entries of the decoder's operation table (nothing
// for an arithmetic-coded frame, which set-up refuses). Returns 0.
int32_t selectHuffmanDecoder(DecoderState& dec);

// Resets the bit reader, builds the scan's tables and resets predictions
// and restart counting. 2 when a scan component lacks its DC or AC table.
int32_t startHuffmanPass(ByteStream& stream, BitReader& bits, DecoderState& dec);

// Decodes one MCU into blocks (one per block of the MCU, cleared by the
// caller). Always 0: corrupt or missing data still yields coefficients.
int32_t decodeHuffmanMcu(ByteStream& stream, BitReader& bits, DecoderState& dec,
                         CoefBlock** blocks);

// The same decoding through a 64-bit register filled a word at a time from
// the bytes already in the stream buffer (huffman_decoder_fast.cpp). The
// coefficients, the bytes taken, the moments FillBuffer runs and the bit
// reader left behind are those of decodeHuffmanMcu.
int32_t decodeHuffmanMcuFast(ByteStream& stream, BitReader& bits, DecoderState& dec,
                             CoefBlock** blocks);
// count MCUs in a row through decodeHuffmanMcuFast's reader, kept in
// registers between them; blocks holds count block lists one after another.
// The same as count calls of decodeHuffmanMcuFast.
void decodeHuffmanMcusFast(ByteStream& stream, BitReader& bits, DecoderState& dec,
                           CoefBlock** blocks, int32_t count);

// The restart step due before an MCU (T.81 F.2.2.5, E.2.4), shared by both
// decoders: the bit reader is emptied and the marker consumed.
void processRestart(ByteStream& stream, BitReader& bits, DecoderState& dec);
// The restart step due before an MCU, then whether the MCU is to be passed
// over (dec.skipMcus, extended reading only): both decoders call it first.
bool restartSkipsMcu(ByteStream& stream, BitReader& bits, DecoderState& dec);
// The restart step at the end of an MCU row, ahead of its MCU (extended
// reading, finishMcuRow): any 10 it reports is held back until the next MCU
// begins, which then calls deliverRestartReport.
void processRestartEarly(ByteStream& stream, BitReader& bits, DecoderState& dec);
void deliverRestartReport(ByteStream& stream, DecoderState& dec);
// After an MCU: when zero bits stood in for data because the MCU ran into a
// restart marker of another interval (extended reading with restarts), its
// blocks are cleared, the rest of the interval is passed over and 10 is
// reported. Data that end (any other marker), or an interval cut short by
// its own marker, still decode from zero bits, as in the default mode.
void checkMcuOverrun(ByteStream& stream, BitReader& bits, DecoderState& dec, CoefBlock** blocks);

// The symbol of a code of length bits (T.81 F.2.2.3, Figure F.16: valPtr,
// minCode); 0 for a code no table entry holds, the length having run past 16.
inline int32_t SymbolOfCode(const HuffTable& table, int32_t code, int32_t length) {
  if (length > 16) return 0;  // no such code: 17 bits consumed
  const HuffDecodeTables& t = table.decode;
  int32_t index = t.valPtr[length] + code - t.minCode[length];
  if (index < 0 || index > 255) return 0;
  return table.huffval[index];
}

// The bit-by-bit search of Figure F.16 from a code of length bits, one bit
// more while the code exceeds maxCode; getBits(n) is either decoder's reader.
template <typename GetBits>
inline int32_t SearchCode(const HuffTable& table, int32_t length, GetBits&& getBits) {
  const HuffDecodeTables& t = table.decode;
  int32_t code = getBits(length);
  while (code > t.maxCode[length]) {
    code = (code << 1) | getBits(1);
    ++length;
  }
  return SymbolOfCode(table, code, length);
}

// True when the code lengths in bits[1..16] cannot all be assigned codes:
// during the canonical assignment (T.81 Annex C) a code of length l would
// reach 2^l. Such a table would overrun the lookahead tables.
bool huffmanCodesOverflow(const uint8_t bits[17]);

// Derives minCode, maxCode, valPtr and the lookahead tables. The table must
// have passed huffmanCodesOverflow. The four tables of T.81 Annex K, which
// most files carry, are copied from their derivation made at compile time.
void buildDecodingTable(HuffTable& table);
// Derives the fast decoder's combined AC lookup (lookAc) and from it the
// skipping lookup (lookSkip), from the tables buildDecodingTable made;
// startHuffmanPass runs it for the scan's tables.
void buildCombinedLookup(HuffTable& table);
// The table to decode with: one of the Annex K tables derived at compile
// time when the table holds its counts and symbols, else the table itself,
// its decoding tables (and with `combined` the combined lookups) derived.
const HuffTable* decodingTable(HuffTable& table, bool combined);

// Bit-level primitives, exposed for tests.
int32_t getBits(ByteStream& stream, BitReader& bits, int32_t n);
int32_t decodeSymbol(ByteStream& stream, BitReader& bits, const HuffTable& table);

// EXTEND (T.81 F.2.2.1, Figure F.12): a magnitude below 2^(s-1) is negative.
inline constexpr int32_t kExtendTest[16] = {0,   1,   2,   4,    8,    16,   32,   64,
                                            128, 256, 512, 1024, 2048, 4096, 8192, 16384};
inline constexpr int32_t kExtendOffset[16] = {
    0, -1, -3, -7, -15, -31, -63, -127, -255, -511, -1023, -2047, -4095, -8191, -16383, -32767};

inline constexpr int32_t kLookAcBits = 10;
// A combined-lookup entry (HuffDecodeTables::lookAc), 64 bits:
//   bits 0..5    the bits the lookup takes: the code, and the magnitude
//                bits where they fit (0: the code is longer than the lookup)
//                - first, so that the entry itself is the shift count
//   bits 8..11   the code's length
//   bits 12..19  the symbol (RRRRSSSS)
//   bit 20       set when the value is in the entry (kLookAcFits)
//   bits 21..27  the sequential decoder's step through the block
//                (AcAdvance), 0 in an entry without a code
//   bit 28       set when the entry holds the whole coefficient value:
//                the value fits, or the symbol has no magnitude (0)
//   bits 32..47  the extended value, when it fits
//   bits 48..63  the code's step in the fast reader's counter table
inline constexpr int32_t kLookAcTakenMask = 63;
inline constexpr int32_t kLookAcLengthShift = 8;
inline constexpr int32_t kLookAcSymbolShift = 12;
inline constexpr int64_t kLookAcFits = int64_t{1} << 20;
inline constexpr int32_t kLookAcAdvanceShift = 21;
inline constexpr int64_t kLookAcValueKnown = int64_t{1} << 28;
inline constexpr int32_t kLookAcValueShift = 32;
inline constexpr int32_t kLookAcStepShift = 48;

// A skipping-lookup entry (HuffDecodeTables::lookSkip), 32 bits:
//   bits 0..5    the code and its magnitude bits, dropped together (0: the
//                code is longer than the lookup)
//   bits 6..13   AcAdvance + 1: from the symbol's coefficient to the next
//   bits 16..31  the code's step in the fast reader's counter table
inline constexpr uint32_t kLookSkipDropMask = 63;
inline constexpr int32_t kLookSkipAdvanceShift = 6;
inline constexpr int32_t kLookSkipStepShift = 16;

// The step from coefficient k of an AC symbol RRRRSSSS (T.81 F.2.2.2) in a
// loop that then stores a value at k (and goes on from k + 1) unless k
// passed 63: the run R for a coefficient; 15 for ZRL, whose sixteenth zero
// is stored as the value 0 (the block is zero there already); past the
// block for EOB and for the symbols of size 0 that have no meaning, which
// end the block as EOB does.
constexpr int32_t AcAdvance(int32_t rs) { return (rs & 15) != 0 ? rs >> 4 : rs == 0xF0 ? 15 : 64; }

// The fast reader keeps the byte-wise reader's counters as one of
// kCounterStates states, stepped once per symbol through a table laid out
// [magnitude bits 0..15][code length 0..17][state].
inline constexpr int32_t kCounterStates = 136;
inline constexpr int32_t kMaxCodeLength = 17;  // taken for a code that does not exist
constexpr int32_t CounterStepOffset(int32_t s, int32_t length) {
  return (s * (kMaxCodeLength + 1) + length) * kCounterStates;
}

// The signed value of the s-bit magnitude r (s = 0..15).
constexpr int32_t extendValue(int32_t r, int32_t s) {
  return r < kExtendTest[s] ? r + kExtendOffset[s] : r;
}

}  // namespace iffjpeg
