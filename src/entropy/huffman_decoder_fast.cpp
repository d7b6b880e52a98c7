// Huffman decoding through a 64-bit register (T.81 F.2.2), the fast twin of
// decodeHuffmanMcu.
//
// The byte-wise reader's timing is observable: the bytes it has taken decide
// where the marker reader resumes, and the moment it asks FillBuffer for more
// data decides which line reports a truncated file. So this reader keeps the
// byte-wise reader's counters (bits left under the 15-bit limit, bits held
// aside) exactly, and only the bytes behind them come from elsewhere: while
// at least eight bytes are buffered it loads them a word at a time, up to the
// first 0xFF, ahead of need. Those prefetched bytes are handed back to the
// stream buffer at the end of every MCU. Whenever the counters call for a
// byte that is not prefetched, the byte-wise rules run unchanged (stuffing,
// markers, FillBuffer).
#include <bit>
#include <cstdlib>
#include <cstring>

#include "driver/stream_buffer.h"
#include "entropy/huffman_decoder.h"

namespace iffjpeg {
namespace {

constexpr int32_t kBufferLimit = 15;  // the byte-wise reader's limit
constexpr int32_t kLookaheadBits = 8;
// The register holds whole bytes and never more than 63 bits, so that every
// shift below stays under 64.
constexpr int32_t kRegisterBits = 63;
constexpr int32_t kReadyBits = 32 + 22;

inline uint64_t LowBits(int32_t n) { return (uint64_t{1} << n) - 1; }

inline uint64_t ByteSwap(uint64_t v) {
#if defined(_MSC_VER) && !defined(__clang__)
  return _byteswap_uint64(v);
#else
  return __builtin_bswap64(v);
#endif
}

// Eight stream bytes as a little-endian word: the first byte lowest.
inline uint64_t LoadLittleEndian(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = ByteSwap(v);
  return v;
}

// EXTEND without a branch: the sign of a magnitude is as good as random.
inline int32_t Extend(int32_t r, int32_t s) {
  int32_t negative = (r - kExtendTest[s]) >> 31;  // all ones when r < 2^(s-1)
  return r + (negative & kExtendOffset[s]);
}

class FastBitReader {
 public:
  explicit FastBitReader(IFFHandle& handle) : handle_(handle) { Load(); }

  // Takes over the byte-wise reader's state from the handle.
  void Load() {
    const BitReader& br = handle_.bitReader;
    acc_ = ((br.bitBuffer & LowBits(br.bitsLeft)) << br.heldCount) |
           static_cast<uint64_t>(br.heldBits);
    avail_ = br.bitsLeft + br.heldCount;
    // Positions are counted so that the end of the bytes taken falls on a
    // multiple of 8 (bytes are whole).
    pos_ = -(br.bitsLeft + br.heldCount) & 7;
    end_ = pos_ + br.bitsLeft;
    loaded_ = end_ + br.heldCount;
  }

  // Hands the prefetched bytes back and leaves the byte-wise reader's state.
  void Store() {
    int32_t bitsLeft = BitsLeft();
    int32_t held = Held();
    uint32_t prefetched = static_cast<uint32_t>(avail_ - bitsLeft - held) >> 3;
    handle_.cursor -= prefetched;
    handle_.byteCount += prefetched;
    BitReader& br = handle_.bitReader;
    br.bitBuffer = static_cast<uint32_t>((acc_ >> (avail_ - bitsLeft)) & LowBits(bitsLeft));
    br.bitsLeft = bitsLeft;
    br.heldBits = static_cast<int32_t>((acc_ >> (avail_ - bitsLeft - held)) & LowBits(held));
    br.heldCount = held;
  }

  // Loads whole bytes up to the first 0xFF when eight are buffered.
  void Prefetch() {
    if (avail_ > kRegisterBits - 8 || handle_.byteCount < 8) return;
    uint64_t word = LoadLittleEndian(handle_.cursor);
    uint64_t inverted = ~word;  // a 0xFF byte becomes a zero byte
    uint64_t zeroBytes = (inverted - 0x0101010101010101ULL) & ~inverted & 0x8080808080808080ULL;
    int32_t room = (kRegisterBits - avail_) >> 3;
    int32_t clear = zeroBytes == 0 ? 8 : std::countr_zero(zeroBytes) >> 3;
    int32_t n = room < clear ? room : clear;
    if (n == 0) return;
    acc_ = (acc_ << (8 * n)) | (ByteSwap(word) >> (64 - 8 * n));
    avail_ += 8 * n;
    handle_.cursor += n;
    handle_.byteCount -= static_cast<uint32_t>(n);
  }

  // True when the register holds one code and its magnitude (at most 32
  // bits) plus everything the byte-wise reader may take ahead of them (at
  // most 22 bits): the *Ready operations below may then be used for one
  // symbol and its magnitude bits.
  bool Ready() {
    if (avail_ >= kReadyBits) return true;
    Prefetch();
    return avail_ >= kReadyBits;
  }

  // The byte-wise reader's fill when bitsLeft < n, with its bytes at hand,
  // without a branch (whether it fills is as good as random).
  void NeedReady(int32_t n) {
    int32_t fill = (end_ - pos_ - n) >> 31;  // all ones when bitsLeft < n
    int32_t target = pos_ + kBufferLimit;
    int32_t newEnd = loaded_ > target ? loaded_ : target;
    int32_t rounded = (target + 7) & ~7;
    int32_t newLoaded = loaded_ > rounded ? loaded_ : rounded;
    end_ += (newEnd - end_) & fill;
    loaded_ += (newLoaded - loaded_) & fill;
  }

  void Skip(int32_t n) {
    pos_ += n;
    avail_ -= n;
  }

  int32_t GetBitsReady(int32_t n) {
    NeedReady(n);
    Skip(n);
    return static_cast<int32_t>((acc_ >> avail_) & LowBits(n));
  }

  // An AC symbol through the combined lookup, its magnitude bits consumed
  // too when the entry carries the value. The counters move as the
  // byte-wise reader's would: a fill check for the 8-bit lookahead, for the
  // 9 bits the search starts with and each bit after, and for the magnitude.
  int32_t LookAc(const HuffTable& table) {
    NeedReady(kLookaheadBits);
    int32_t look = static_cast<int32_t>(acc_ >> (avail_ - kLookAcBits)) & ((1 << kLookAcBits) - 1);
    int32_t entry = table.decode.lookAc[look];
    int32_t length = entry & 15;
    if (length <= kLookaheadBits) {
      if (length == 0) return DecodeLongReady(table) << 4;  // longer than the lookup
      Skip(length);
    } else {
      // The search takes 9 bits, then one at a time.
      NeedReady(kLookaheadBits + 1);
      Skip(kLookaheadBits + 1);
      for (int32_t l = kLookaheadBits + 1; l < length; ++l) {
        NeedReady(1);
        Skip(1);
      }
    }
    if (entry & kLookAcFits) {
      int32_t s = (entry >> 4) & 15;
      NeedReady(s);
      Skip(s);
    }
    return entry;
  }

  int32_t DecodeSymbolReady(const HuffTable& table) {
    NeedReady(kLookaheadBits);  // never short of bits: no marker in reach
    int32_t look = static_cast<int32_t>(acc_ >> (avail_ - kLookaheadBits)) & 0xFF;
    int32_t nbits = table.decode.lookNbits[look];
    if (nbits > 0) {
      Skip(nbits);
      return table.decode.lookSym[look];
    }
    return DecodeLongReady(table);
  }

  // The search from length 9 (T.81 F.2.2.3, Figure F.16).
  int32_t DecodeLongReady(const HuffTable& table) {
    const HuffDecodeTables& t = table.decode;
    int32_t length = kLookaheadBits + 1;
    int32_t code = GetBitsReady(length);
    while (code > t.maxCode[length]) {
      code = (code << 1) | GetBitsReady(1);
      ++length;
    }
    return SymbolOf(table, code, length);
  }

  int32_t GetBits(int32_t n) {
    if (BitsLeft() < n) Fill(n);
    Skip(n);
    return static_cast<int32_t>((acc_ >> avail_) & LowBits(n));
  }

  int32_t DecodeSymbol(const HuffTable& table) {
    if (BitsLeft() < kLookaheadBits) {
      Fill(0);
      if (BitsLeft() < kLookaheadBits) return DecodeSlow(table, 1);
    }
    int32_t look = static_cast<int32_t>(acc_ >> (avail_ - kLookaheadBits)) & 0xFF;
    int32_t nbits = table.decode.lookNbits[look];
    if (nbits > 0) {
      Skip(nbits);
      return table.decode.lookSym[look];
    }
    return DecodeSlow(table, kLookaheadBits + 1);
  }

 private:
  // The byte-wise fill (bitsNeeded n): held bits join, then bytes are taken
  // while fewer than 15 bits are left. When the two bytes it may take are
  // prefetched, only the counters move.
  void Fill(int32_t n) {
    int32_t merged = loaded_ - pos_;
    int32_t held = 0;
    int32_t bitsLeft = merged;
    if (avail_ - merged >= 16) {    // the one or two bytes it takes are at hand
      NeedReady(kBufferLimit + 8);  // a fill for certain
      return;
    }
    while (bitsLeft < kBufferLimit) {
      if (avail_ - bitsLeft < 8) {
        int byte = ReadByte(handle_);
        if (byte == 0xFF) {
          int next = ReadByte(handle_);
          if (next != 0x00) {
            PutBack(handle_, next);
            PutBack(handle_, 0xFF);
            if (bitsLeft >= n) break;
            byte = 0;
          }
        }
        acc_ = (acc_ << 8) | static_cast<uint64_t>(byte);
        avail_ += 8;
      }
      bitsLeft += 8;
      if (bitsLeft > kBufferLimit) {
        held = bitsLeft - kBufferLimit;
        bitsLeft = kBufferLimit;
      }
    }
    end_ = pos_ + bitsLeft;
    loaded_ = end_ + held;
  }

  int32_t DecodeSlow(const HuffTable& table, int32_t length) {
    const HuffDecodeTables& t = table.decode;
    int32_t code = GetBits(length);
    while (code > t.maxCode[length]) {
      code = (code << 1) | GetBits(1);
      ++length;
    }
    return SymbolOf(table, code, length);
  }

  static int32_t SymbolOf(const HuffTable& table, int32_t code, int32_t length) {
    if (length > 16) return 0;  // no such code: 17 bits consumed
    const HuffDecodeTables& t = table.decode;
    int32_t index = t.valPtr[length] + code - t.minCode[length];
    if (index < 0 || index > 255) return 0;
    return table.huffval[index];
  }

  int32_t BitsLeft() const { return end_ - pos_; }
  int32_t Held() const { return loaded_ - end_; }

  IFFHandle& handle_;
  uint64_t acc_;   // the next avail_ bits of the segment in its low bits
  int32_t avail_;  // bitsLeft + heldCount + the prefetched bits
  // The byte-wise reader's counters as positions in the segment: bits taken
  // so far, the end of its bit buffer (pos_ + bitsLeft) and the end of the
  // bytes it has taken (end_ + heldCount).
  int32_t pos_;
  int32_t end_;
  int32_t loaded_;
};

}  // namespace

namespace {

// Inlined into both callers so that the reader stays in registers.
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline void
DecodeBlocks(FastBitReader& reader, DecoderState& dec, CoefBlock** blocks) {
  for (int32_t b = 0; b < dec.blocksInMcu; ++b) {
    int32_t ci = dec.mcuMembership[b];
    const ComponentInfo& comp = *dec.scanComponents[ci];
    const uint16_t* q = dec.quantTables[comp.quantTableNo]->quantval;
    const HuffTable& dcTable = *dec.dcHuffTables[comp.dcTableNo];
    const HuffTable& acTable = *dec.acHuffTables[comp.acTableNo];
    int16_t* block = *blocks[b];

    // DC: the difference from the component's prediction (T.81 F.2.2.1).
    int32_t s;
    int32_t diff = 0;
    if (reader.Ready()) {
      s = reader.DecodeSymbolReady(dcTable);
      if (s > 0 && s <= 15) diff = Extend(reader.GetBitsReady(s), s);
    } else {
      s = reader.DecodeSymbol(dcTable);
      if (s > 0 && s <= 15) diff = extendValue(reader.GetBits(s), s);
    }
    dec.lastDcVal[ci] = static_cast<int16_t>(dec.lastDcVal[ci] + diff);
    block[0] = static_cast<int16_t>(dec.lastDcVal[ci] * static_cast<int32_t>(q[0]));

    // AC (T.81 F.2.2.2).
    for (int32_t k = 1; k < 64;) {
      int32_t v = 0;
      int32_t rs;
      if (reader.Ready()) {
        int32_t entry = reader.LookAc(acTable);
        rs = (entry >> 4) & 0xFF;
        s = rs & 15;
        if (s > 0) {
          v = entry & kLookAcFits ? entry >> 16 : Extend(reader.GetBitsReady(s), s);
        }
      } else {
        rs = reader.DecodeSymbol(acTable);
        s = rs & 15;
        if (s > 0) v = extendValue(reader.GetBits(s), s);
      }
      int32_t r = rs >> 4;
      if (s > 0) {
        k += r;
        if (k > 63) break;  // corrupt run past the block: nothing stored
        block[zigzagToNatural[k]] = static_cast<int16_t>(v * static_cast<int32_t>(q[k]));
        ++k;
      } else if (r == 15) {
        k += 16;
      } else {
        break;
      }
    }
  }
}

// T.81 F.2.2.5: a restart is processed on the byte-wise reader's state.
void RestartIfDue(IFFHandle& handle, DecoderState& dec, FastBitReader& reader) {
  if (dec.restartInterval == 0 || dec.restartsAbandoned != 0) return;
  if (dec.restartsToGo == 0) {
    reader.Store();
    processRestart(handle, dec);
    reader.Load();
  }
  --dec.restartsToGo;
}

}  // namespace

int32_t decodeHuffmanMcuFast(IFFHandle& handle, DecoderState& dec, CoefBlock** blocks) {
  FastBitReader reader(handle);
  RestartIfDue(handle, dec, reader);
  DecodeBlocks(reader, dec, blocks);
  reader.Store();
  return 0;
}

void decodeHuffmanMcusFast(IFFHandle& handle, DecoderState& dec, CoefBlock** blocks,
                           int32_t count) {
  FastBitReader reader(handle);
  for (int32_t m = 0; m < count; ++m) {
    RestartIfDue(handle, dec, reader);
    DecodeBlocks(reader, dec, blocks + m * dec.blocksInMcu);
  }
  reader.Store();
}

}  // namespace iffjpeg
