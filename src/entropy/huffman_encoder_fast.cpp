// Huffman encoding through a 64-bit accumulator (T.81 F.1.2), the fast twin
// of encodeHuffmanMcu: the same bit stream, cut into the same bytes with the
// same stuffing, and the buffer flushed at the same moments.
//
// A code and its magnitude bits go in together; four bytes at a time leave
// the accumulator, stored at once when none of them is 0xFF and the stream
// buffer has room for them (so the byte-wise writer would not have flushed
// in between), otherwise byte by byte through PutByte. Only the non-zero
// AC coefficients are visited, found through a bit mask of the block.
#include <bit>
#include <cstdlib>
#include <cstring>

#include "entropy/coefficient_masks.h"
#include "entropy/huffman_encoder.h"
#include "stream/byte_stream.h"

namespace iffjpeg {
namespace {

constexpr int32_t kAccumulatorBits = 24;  // the bit writer's layout

class FastBitWriter {
 public:
  explicit FastBitWriter(ByteStream& stream, BitWriter& writer) : stream_(stream), writer_(writer) {
    const BitWriter& w = writer;
    count_ = w.bitCount;
    bits_ = static_cast<uint64_t>(static_cast<uint32_t>(w.bitAccumulator)) >>
            (kAccumulatorBits - count_);
  }

  // Writes the whole bytes and leaves the rest (0..7 bits) in the bit writer.
  void Store() {
    while (count_ >= 8) {
      count_ -= 8;
      PutStuffed(static_cast<int>((bits_ >> count_) & 0xFF));
    }
    BitWriter& w = writer_;
    uint32_t rest = static_cast<uint32_t>(bits_) & ((1u << count_) - 1);
    w.bitAccumulator = static_cast<int32_t>(rest << (kAccumulatorBits - count_));
    w.bitCount = count_;
  }

  // Appends the low size bits of value (size <= 32).
  void Put(uint32_t value, int32_t size) {
    if (count_ >= 32) Drain();
    bits_ = (bits_ << size) | value;
    count_ += size;
  }

 private:
  void PutStuffed(int byte) {
    PutByte(stream_, byte);
    if (byte == 0xFF) PutByte(stream_, 0x00);  // T.81 F.1.2.3 byte stuffing
  }

  // Sends the oldest 32 bits.
  void Drain() {
    count_ -= 32;
    uint32_t word = static_cast<uint32_t>(bits_ >> count_);
    uint32_t inverted = ~word;  // a 0xFF byte becomes a zero byte
    bool hasFF = ((inverted - 0x01010101u) & ~inverted & 0x80808080u) != 0;
    if (!hasFF && stream_.byteCount + 4 <= stream_.bufferSize) {
      uint8_t* out = stream_.cursor;
      out[0] = static_cast<uint8_t>(word >> 24);
      out[1] = static_cast<uint8_t>(word >> 16);
      out[2] = static_cast<uint8_t>(word >> 8);
      out[3] = static_cast<uint8_t>(word);
      stream_.cursor += 4;
      stream_.byteCount += 4;
      return;
    }
    for (int shift = 24; shift >= 0; shift -= 8)
      PutStuffed(static_cast<int>((word >> shift) & 0xFF));
  }

  ByteStream& stream_;
  BitWriter& writer_;
  uint64_t bits_;  // pending bits in the low count_ bits, oldest first
  int32_t count_;
};

// Size category and magnitude bits of a value (T.81 F.1.2.1, F.1.2.2):
// negative values as value - 1, low s bits.
inline int32_t Category(int32_t v) {
  uint32_t m = static_cast<uint32_t>(v < 0 ? -v : v);
  return m == 0 ? 0 : 32 - std::countl_zero(m);
}
inline uint32_t MagnitudeBits(int32_t v, int32_t s) {
  return static_cast<uint32_t>(v < 0 ? v - 1 : v) & ((1u << s) - 1);
}

inline void PutSymbol(FastBitWriter& w, const HuffEncodeTables& t, int32_t symbol, uint32_t bits,
                      int32_t s) {
  w.Put(static_cast<uint32_t>(t.codeOfSymbol[symbol]) << s | bits, t.sizeOfSymbol[symbol] + s);
}

void EncodeBlockFast(FastBitWriter& w, const int16_t* block, const HuffEncodeTables& dc,
                     const HuffEncodeTables& ac) {
  int32_t s = Category(block[0]);
  PutSymbol(w, dc, s, s > 0 ? MagnitudeBits(block[0], s) : 0, s);

  uint64_t nonZero = NonZeroMask(block) & ~uint64_t{1};
  int32_t last = 0;
  while (nonZero != 0) {
    int32_t k = std::countr_zero(nonZero);
    nonZero &= nonZero - 1;
    int32_t run = k - last - 1;
    for (; run > 15; run -= 16) PutSymbol(w, ac, 0xF0, 0, 0);  // ZRL
    int32_t c = block[k];
    s = Category(c);
    PutSymbol(w, ac, run * 16 + s, MagnitudeBits(c, s), s);
    last = k;
  }
  if (last < 63) PutSymbol(w, ac, 0x00, 0, 0);  // EOB
}

}  // namespace

void encodeHuffmanMcuFast(ByteStream& stream, BitWriter& state, EncoderState& enc, int16_t* mcu) {
  if (enc.restartInterval != 0) {
    if (enc.restartsToGo == 0) emitRestart(stream, state, enc);
    --enc.restartsToGo;
  }
  FastBitWriter writer(stream, state);
  for (int b = 0; b < enc.blocksInMcu; ++b) {
    int16_t* block = mcu + 64 * b;
    int ci = enc.mcuMembership[b];
    const ComponentInfo& comp = *enc.scanComponents[ci];
    int16_t dc = block[0];
    block[0] = static_cast<int16_t>(dc - enc.lastDcVal[ci]);
    enc.lastDcVal[ci] = dc;
    EncodeBlockFast(writer, block, enc.dcHuffTables[comp.dcTableNo]->encode,
                    enc.acHuffTables[comp.acTableNo]->encode);
  }
  writer.Store();
}

}  // namespace iffjpeg
