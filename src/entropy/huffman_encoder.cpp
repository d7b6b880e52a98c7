#include "entropy/huffman_encoder.h"

#include <cstring>

#include "common/result_codes.h"
#include "driver/handle.h"
#include "driver/stream_buffer.h"
#include "format/marker_codes.h"
#include "platform/cpu_features.h"

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

inline void EmitSymbol(IFFHandle& handle, const HuffTable& table, int symbol) {
  emitBits(handle, table.encode.sizeOfSymbol[symbol], table.encode.codeOfSymbol[symbol]);
}

}  // namespace

void buildEncodingTable(HuffTable& table) {
  HuffEncodeTables& enc = table.encode;
  std::memset(enc.sizeOfSymbol, 0, sizeof enc.sizeOfSymbol);
  std::memset(enc.codeOfSymbol, 0, sizeof enc.codeOfSymbol);
  // Annex C: codes of one length count up; each longer length doubles.
  uint32_t code = 0;
  int p = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < table.bits[length] && p < 256; ++i, ++p) {
      uint8_t symbol = table.huffval[p];
      enc.codeOfSymbol[symbol] = static_cast<uint16_t>(code);
      enc.sizeOfSymbol[symbol] = static_cast<uint8_t>(length);
      ++code;
    }
    code <<= 1;
  }
}

void emitBits(IFFHandle& handle, int32_t size, uint32_t code) {
  if (size == 0) return;
  BitWriter& w = handle.bitWriter;
  int32_t n = w.bitCount + size;
  uint32_t acc = static_cast<uint32_t>(w.bitAccumulator);
  acc |= (code & ((1u << size) - 1)) << (kAccumulatorBits - n);
  while (n >= 8) {
    int byte = static_cast<int>((acc >> 16) & 0xFF);
    PutByte(handle, byte);
    if (byte == 0xFF) PutByte(handle, 0x00);  // T.81 F.1.2.3 byte stuffing
    acc = (acc << 8) & kAccumulatorMask;
    n -= 8;
  }
  w.bitAccumulator = static_cast<int32_t>(acc);
  w.bitCount = n;
}

void completeLastByte(IFFHandle& handle) {
  emitBits(handle, 7, 0x7F);
  handle.bitWriter.bitAccumulator = 0;
  handle.bitWriter.bitCount = 0;
}

void encodeBlock(IFFHandle& handle, int16_t* block, const HuffTable& dcTable,
                 const HuffTable& acTable) {
  // DC difference: size category, then the value's low bits, negative
  // values as value - 1 (T.81 F.1.2.1).
  int32_t v = block[0];
  int32_t bits = v < 0 ? v - 1 : v;
  int32_t s = BitLength(static_cast<uint32_t>(v < 0 ? -v : v));
  EmitSymbol(handle, dcTable, s);
  if (s > 0) emitBits(handle, s, static_cast<uint32_t>(bits));

  // AC run/size pairs (T.81 F.1.2.2), with ZRL for runs above 15.
  int32_t run = 0;
  for (int k = 1; k < 64; ++k) {
    int32_t c = block[k];
    if (c == 0) {
      ++run;
      continue;
    }
    while (run > 15) {
      EmitSymbol(handle, acTable, 0xF0);
      run -= 16;
    }
    int32_t cbits = c < 0 ? c - 1 : c;
    s = BitLength(static_cast<uint32_t>(c < 0 ? -c : c));
    EmitSymbol(handle, acTable, run * 16 + s);
    emitBits(handle, s, static_cast<uint32_t>(cbits));
    run = 0;
  }
  if (run > 0) EmitSymbol(handle, acTable, 0x00);  // EOB
}

void emitRestart(IFFHandle& handle, EncoderState& enc) {
  completeLastByte(handle);
  PutByte(handle, 0xFF);
  PutByte(handle, kMarkerRst0 + enc.nextRestartNum);
  for (int ci = 0; ci < enc.componentsInScan; ++ci) enc.lastDcVal[ci] = 0;
  enc.restartsToGo = static_cast<int16_t>(enc.restartInterval);
  enc.nextRestartNum = static_cast<int16_t>((enc.nextRestartNum + 1) & 7);
}

int32_t startHuffmanEncoding(IFFHandle& handle, EncoderState& enc) {
  handle.bitWriter.bitAccumulator = 0;
  handle.bitWriter.bitCount = 0;
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

void encodeHuffmanMcu(IFFHandle& handle, EncoderState& enc, int16_t* mcu) {
  if (enc.restartInterval != 0) {
    if (enc.restartsToGo == 0) emitRestart(handle, enc);
    --enc.restartsToGo;
  }
  for (int b = 0; b < enc.blocksInMcu; ++b) {
    int16_t* block = mcu + 64 * b;
    int ci = enc.mcuMembership[b];
    const ComponentInfo& comp = *enc.scanComponents[ci];
    int16_t dc = block[0];
    block[0] = static_cast<int16_t>(dc - enc.lastDcVal[ci]);
    enc.lastDcVal[ci] = dc;
    encodeBlock(handle, block, *enc.dcHuffTables[comp.dcTableNo],
                *enc.acHuffTables[comp.acTableNo]);
  }
}

int32_t finishHuffmanEncoding(IFFHandle& handle, EncoderState&) {
  completeLastByte(handle);
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
