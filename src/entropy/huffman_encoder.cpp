#include "entropy/huffman_encoder.h"

#include <cstring>

#include "common/result_codes.h"
#include "entropy/annex_k_tables.h"
#include "format/marker_codes.h"
#include "platform/cpu_features.h"
#include "stream/byte_stream.h"

namespace iffjpeg {
namespace {

// Pending bits sit left-aligned below bit 24: the next byte to go out is in
// bits 23..16. Codes are at most 16 bits and magnitudes at most 15, so with
// at most 7 bits pending everything fits.
constexpr int kAccumulatorBits = 24;
constexpr uint32_t kAccumulatorMask = (1u << kAccumulatorBits) - 1;

// Number of bits needed for a magnitude (T.81 F.1.2.1: the size category).
inline int32_t BitLength(uint32_t m) {
  int32_t n = 0;
  while (m != 0) {
    ++n;
    m >>= 1;
  }
  return n;
}

inline void EmitSymbol(ByteStream& stream, BitWriter& writer, const HuffTable& table, int symbol) {
  emitBits(stream, writer, table.encode.sizeOfSymbol[symbol], table.encode.codeOfSymbol[symbol]);
}

}  // namespace

namespace {

// Annex C: codes of one length count up; each longer length doubles.
constexpr void DeriveEncodingTables(const uint8_t* bits, const uint8_t* huffval,
                                    HuffEncodeTables& enc) {
  for (int32_t s = 0; s < 256; ++s) {
    enc.codeOfSymbol[s] = 0;
    enc.sizeOfSymbol[s] = 0;
  }
  uint32_t code = 0;
  int p = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < bits[length] && p < 256; ++i, ++p) {
      uint8_t symbol = huffval[p];
      enc.codeOfSymbol[symbol] = static_cast<uint16_t>(code);
      enc.sizeOfSymbol[symbol] = static_cast<uint8_t>(length);
      ++code;
    }
    code <<= 1;
  }
}

constexpr HuffEncodeTables Derived(const uint8_t* bits, const uint8_t* values) {
  HuffEncodeTables enc{};
  DeriveEncodingTables(bits, values, enc);
  return enc;
}

// The default tables' codes, made at compile time rather than at every
// open (in the order of AnnexKTableIndex).
constexpr HuffEncodeTables kAnnexKEncoding[] = {Derived(kDcLuminanceBits, kDcLuminanceValues),
                                                Derived(kDcChrominanceBits, kDcChrominanceValues),
                                                Derived(kAcLuminanceBits, kAcLuminanceValues),
                                                Derived(kAcChrominanceBits, kAcChrominanceValues)};

}  // namespace

void buildEncodingTable(HuffTable& table) {
  const int32_t known = AnnexKTableIndex(table.bits, table.huffval);
  if (known >= 0) {
    table.encode = kAnnexKEncoding[known];
    return;
  }
  DeriveEncodingTables(table.bits, table.huffval, table.encode);
}

void emitBits(ByteStream& stream, BitWriter& writer, int32_t size, uint32_t code) {
  if (size == 0) return;
  BitWriter& w = writer;
  int32_t n = w.bitCount + size;
  uint32_t acc = static_cast<uint32_t>(w.bitAccumulator);
  acc |= (code & ((1u << size) - 1)) << (kAccumulatorBits - n);
  while (n >= 8) {
    int byte = static_cast<int>((acc >> 16) & 0xFF);
    PutByte(stream, byte);
    if (byte == 0xFF) PutByte(stream, 0x00);  // T.81 F.1.2.3 byte stuffing
    acc = (acc << 8) & kAccumulatorMask;
    n -= 8;
  }
  w.bitAccumulator = static_cast<int32_t>(acc);
  w.bitCount = n;
}

void completeLastByte(ByteStream& stream, BitWriter& writer) {
  emitBits(stream, writer, 7, 0x7F);
  writer.bitAccumulator = 0;
  writer.bitCount = 0;
}

void encodeBlock(ByteStream& stream, BitWriter& writer, int16_t* block, const HuffTable& dcTable,
                 const HuffTable& acTable) {
  // DC difference: size category, then the value's low bits, negative
  // values as value - 1 (T.81 F.1.2.1).
  int32_t v = block[0];
  int32_t bits = v < 0 ? v - 1 : v;
  int32_t s = BitLength(static_cast<uint32_t>(v < 0 ? -v : v));
  EmitSymbol(stream, writer, dcTable, s);
  if (s > 0) emitBits(stream, writer, s, static_cast<uint32_t>(bits));

  // AC run/size pairs (T.81 F.1.2.2), with ZRL for runs above 15.
  int32_t run = 0;
  for (int k = 1; k < 64; ++k) {
    int32_t c = block[k];
    if (c == 0) {
      ++run;
      continue;
    }
    while (run > 15) {
      EmitSymbol(stream, writer, acTable, 0xF0);
      run -= 16;
    }
    int32_t cbits = c < 0 ? c - 1 : c;
    s = BitLength(static_cast<uint32_t>(c < 0 ? -c : c));
    EmitSymbol(stream, writer, acTable, run * 16 + s);
    emitBits(stream, writer, s, static_cast<uint32_t>(cbits));
    run = 0;
  }
  if (run > 0) EmitSymbol(stream, writer, acTable, 0x00);  // EOB
}

void emitRestart(ByteStream& stream, BitWriter& writer, EncoderState& enc) {
  completeLastByte(stream, writer);
  PutByte(stream, 0xFF);
  PutByte(stream, kMarkerRst0 + enc.nextRestartNum);
  for (int ci = 0; ci < enc.componentsInScan; ++ci) enc.lastDcVal[ci] = 0;
  enc.restartsToGo = static_cast<int16_t>(enc.restartInterval);
  enc.nextRestartNum = static_cast<int16_t>((enc.nextRestartNum + 1) & 7);
}

int32_t startHuffmanEncoding(ByteStream&, BitWriter& writer, EncoderState& enc) {
  writer.bitAccumulator = 0;
  writer.bitCount = 0;
  int32_t rc = 0;
  for (int ci = 0; ci < enc.componentsInScan; ++ci) {
    const ComponentInfo& comp = *enc.scanComponents[ci];
    HuffTable* dc = comp.dcTableNo >= 0 && comp.dcTableNo < kNumTables
                        ? enc.dcHuffTables[comp.dcTableNo]
                        : nullptr;
    HuffTable* ac = comp.acTableNo >= 0 && comp.acTableNo < kNumTables
                        ? enc.acHuffTables[comp.acTableNo]
                        : nullptr;
    if (dc == nullptr || ac == nullptr) {
      rc = kErrInvalid;
      break;
    }
    buildEncodingTable(*dc);
    buildEncodingTable(*ac);
    enc.lastDcVal[ci] = 0;
  }
  enc.restartsToGo = static_cast<int16_t>(enc.restartInterval);
  enc.nextRestartNum = 0;
  return rc;
}

void encodeHuffmanMcu(ByteStream& stream, BitWriter& writer, EncoderState& enc, int16_t* mcu) {
  if (enc.restartInterval != 0) {
    if (enc.restartsToGo == 0) emitRestart(stream, writer, enc);
    --enc.restartsToGo;
  }
  for (int b = 0; b < enc.blocksInMcu; ++b) {
    int16_t* block = mcu + 64 * b;
    int ci = enc.mcuMembership[b];
    const ComponentInfo& comp = *enc.scanComponents[ci];
    int16_t dc = block[0];
    block[0] = static_cast<int16_t>(dc - enc.lastDcVal[ci]);
    enc.lastDcVal[ci] = dc;
    encodeBlock(stream, writer, block, *enc.dcHuffTables[comp.dcTableNo],
                *enc.acHuffTables[comp.acTableNo]);
  }
}

int32_t finishHuffmanEncoding(ByteStream& stream, BitWriter& writer, EncoderState&) {
  completeLastByte(stream, writer);
  return 0;
}

int32_t selectHuffmanEncoder(EncoderState& enc) {
  if (enc.arithCode) return 0;
  enc.methods->startEntropy = startHuffmanEncoding;
  // The word-at-a-time writer is portable C++, chosen in every build; tests
  // may force its scalar twin.
  enc.methods->encodeMcu =
      platform::ScalarKernelsForced() ? encodeHuffmanMcu : encodeHuffmanMcuFast;
  enc.methods->finishEntropy = finishHuffmanEncoding;
  return 0;
}

}  // namespace iffjpeg
