// Huffman decoding through a 64-bit register (T.81 F.2.2), the fast twin of
// decodeHuffmanMcu.
//
// The byte-wise reader's timing is observable: the bytes it has taken decide
// where the marker reader resumes, and the moment it asks FillBuffer for more
// data decides which line reports a truncated file. So this reader keeps the
// byte-wise reader's counters (bits left under the 15-bit limit, bits held
// aside) exactly, as one small state stepped through a precomputed table
// once per symbol, and only the bytes behind them come from elsewhere: while
// the next eight buffered bytes hold no 0xFF it loads them a word at a time,
// ahead of need, and near a 0xFF byte by byte, a stuffed 0xFF 0x00 as its
// one data byte. Those prefetched bytes are handed back to the stream buffer
// at the end of every batch of MCUs. Whenever the counters call for a byte
// that is not prefetched, the byte-wise rules run unchanged (stuffing,
// markers, FillBuffer).
#include <bit>
#include <cstdlib>
#include <cstring>

#include "entropy/error_concealment.h"
#include "entropy/huffman_decoder.h"
#include "entropy/mcu_plan.h"
#include "format/marker_codes.h"
#include "stream/byte_stream.h"

namespace iffjpeg {
namespace {

// The reader's hot operations are inlined into the decoding loop so that its
// state stays in registers.
#if defined(__GNUC__)
#define IFFJPEG_INLINE inline __attribute__((always_inline))
#else
#define IFFJPEG_INLINE inline
#endif

constexpr int32_t kBufferLimit = 15;  // the byte-wise reader's limit
constexpr int32_t kLookaheadBits = 8;
// The register holds its bits at the top (the next bit is bit 63) and never
// more than 63 of them, so that every shift below stays under 64. One
// symbol needs at most 32 bits (a 17-bit code, 15 magnitude bits) and the
// byte-wise reader may have taken 22 more.
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

// Eight stream bytes as a big-endian word: the first byte highest.
inline uint64_t LoadBigEndian(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::little) v = ByteSwap(v);
  return v;
}

// EXTEND without a branch: the sign of a magnitude is as good as random.
// kExtendTest[s] and kExtendOffset[s] computed by shifts rather than
// loaded: the decoding loop then needs no registers for the two tables.
inline int32_t Extend(int32_t r, int32_t s) {
  const auto top = static_cast<int32_t>(1u << s);  // 2^s, s = 0..15
  int32_t negative = (r - (top >> 1)) >> 31;       // all ones when r < 2^(s-1)
  return r + (negative & (1 - top));
}

// The byte-wise reader's counters (bitsLeft, heldCount) as one small state.
// heldCount is non-zero only while bitsLeft sits at or below the 15-bit
// limit, and the two never exceed 22 bits together, so 135 states (of
// kCounterStates) cover every reachable pair: bitsLeft 0..15 with heldCount
// 0..7, then bitsLeft 16..22 with nothing held.
constexpr int32_t CounterState(int32_t bitsLeft, int32_t held) {
  return bitsLeft <= kBufferLimit ? bitsLeft * 8 + held : 128 + bitsLeft - 16;
}
constexpr int32_t StateBitsLeft(int32_t state) { return state < 128 ? state >> 3 : state - 112; }
constexpr int32_t StateHeld(int32_t state) { return state < 128 ? state & 7 : 0; }

// The byte-wise fill with its bytes at hand (no marker within reach): held
// bits join, then whole bytes are taken while fewer than 15 bits are left;
// the bits of the last byte beyond the limit are held aside.
constexpr void FillCounters(int32_t& bitsLeft, int32_t& held) {
  bitsLeft += held;
  held = 0;
  while (bitsLeft < kBufferLimit) {
    bitsLeft += 8;
    if (bitsLeft > kBufferLimit) {
      held = bitsLeft - kBufferLimit;
      bitsLeft = kBufferLimit;
    }
  }
}

// A getBits(n)-style step: a fill when fewer than n bits are left, then n
// bits taken.
constexpr void TakeCounters(int32_t& bitsLeft, int32_t& held, int32_t n) {
  if (bitsLeft < n) FillCounters(bitsLeft, held);
  bitsLeft -= n;
}

// Where the byte-wise reader's counters go for one symbol of a code of the
// given length followed by s magnitude bits: a fill check for the 8-bit
// lookahead, the code (a longer one through the search, which takes 9 bits
// and then one at a time) and the magnitude. Built from the two halves so
// that compile-time evaluation stays small.
struct CounterSteps {
  uint8_t next[16 * (kMaxCodeLength + 1) * kCounterStates];
};

struct StepHalves {
  uint8_t code[kMaxCodeLength + 1][kCounterStates];  // lookahead check and code
  uint8_t magnitude[16][kCounterStates];             // s magnitude bits
};

constexpr StepHalves MakeStepHalves() {
  StepHalves halves{};
  for (int32_t state = 0; state < kCounterStates; ++state) {
    int32_t bitsLeft = StateBitsLeft(state);
    int32_t held = StateHeld(state);
    TakeCounters(bitsLeft, held, kLookaheadBits);
    bitsLeft += kLookaheadBits;                           // the lookahead only looks
    halves.code[0][state] = static_cast<uint8_t>(state);  // unused
    for (int32_t length = 1; length <= kLookaheadBits; ++length) {
      halves.code[length][state] = static_cast<uint8_t>(CounterState(bitsLeft - length, held));
    }
    TakeCounters(bitsLeft, held, kLookaheadBits + 1);
    halves.code[kLookaheadBits + 1][state] = static_cast<uint8_t>(CounterState(bitsLeft, held));
    for (int32_t length = kLookaheadBits + 2; length <= kMaxCodeLength; ++length) {
      TakeCounters(bitsLeft, held, 1);
      halves.code[length][state] = static_cast<uint8_t>(CounterState(bitsLeft, held));
    }
    for (int32_t s = 0; s < 16; ++s) {
      int32_t b = StateBitsLeft(state);
      int32_t h = StateHeld(state);
      if (s > 0) TakeCounters(b, h, s);
      halves.magnitude[s][state] = static_cast<uint8_t>(CounterState(b, h));
    }
  }
  return halves;
}

constexpr CounterSteps MakeCounterSteps() {
  constexpr StepHalves halves = MakeStepHalves();
  CounterSteps steps{};
  for (int32_t s = 0; s < 16; ++s) {
    for (int32_t length = 0; length <= kMaxCodeLength; ++length) {
      uint8_t* row = steps.next + CounterStepOffset(s, length);
      for (int32_t state = 0; state < kCounterStates; ++state) {
        row[state] = halves.magnitude[s][halves.code[length][state]];
      }
    }
  }
  return steps;
}

constexpr CounterSteps kCounterSteps = MakeCounterSteps();

class FastBitReader {
 public:
  FastBitReader(ByteStream& stream, BitReader& bits) : stream_(stream), bits_(bits) { Load(); }

  // Takes over the byte-wise reader's state and the stream buffer's cursor
  // from the stream.
  void Load() {
    const BitReader& br = bits_;
    avail_ = br.bitsLeft + br.heldCount;
    uint64_t bits = ((br.bitBuffer & LowBits(br.bitsLeft)) << br.heldCount) |
                    static_cast<uint64_t>(br.heldBits);
    reg_ = avail_ == 0 ? 0 : bits << (64 - avail_);
    state_ = CounterState(br.bitsLeft, br.heldCount);
    stuffedAt_ = nullptr;
    TakeCursor();
  }

  // Hands the prefetched bytes back and leaves the byte-wise reader's state.
  void Store() {
    int32_t bitsLeft = BitsLeft();
    int32_t held = Held();
    int32_t prefetched = (avail_ - bitsLeft - held) >> 3;
    // A stuffed 0xFF among them goes back with its 0x00.
    int32_t stuffed = stuffedAt_ != nullptr && cursor_ - stuffedAt_ - 2 < prefetched ? 1 : 0;
    stream_.cursor = cursor_ - prefetched - stuffed;
    stream_.byteCount = static_cast<uint32_t>(end_ - stream_.cursor);
    BitReader& br = bits_;
    br.bitBuffer = static_cast<uint32_t>(Peek(bitsLeft));
    br.bitsLeft = bitsLeft;
    br.heldBits = static_cast<int32_t>(Peek(bitsLeft + held) & LowBits(held));
    br.heldCount = held;
  }

  // True when the register holds one symbol and its magnitude plus
  // everything the byte-wise reader may take ahead of them: the *Ready
  // operations below may then be used for one symbol and its magnitude
  // bits, followed by Advance. Tops the register up whenever the next eight
  // buffered bytes hold no 0xFF, without a branch on how many it takes.
  IFFJPEG_INLINE bool Ready() {
    if (cursor_ + 8 <= safeEnd_) {
      Refill();
      return true;
    }
    if (avail_ < kReadyBits) CarefulRefill();
    return avail_ >= kReadyBits;
  }

  // The byte-wise reader's counters after a symbol whose code had the given
  // length and which was followed by s magnitude bits (s = 0 for none).
  IFFJPEG_INLINE void Advance(int32_t length, int32_t s) {
    AdvanceBy(CounterStepOffset(s, length));
  }
  // The same step, its table offset given (CounterStepOffset).
  IFFJPEG_INLINE void AdvanceBy(int32_t offset) { state_ = kCounterSteps.next[offset + state_]; }

  // The next n bits (n = 0..63) without taking them.
  IFFJPEG_INLINE uint64_t Peek(int32_t n) const { return n == 0 ? 0 : reg_ >> (64 - n); }

  // n = 0..16 bits; none (and 0) for n = 0, without a branch.
  IFFJPEG_INLINE int32_t TakeBitsOrNone(int32_t n) {
    auto bits = static_cast<int32_t>((reg_ >> 1) >> (63 - n));
    SkipReady(n);
    return bits;
  }

  IFFJPEG_INLINE void SkipReady(int32_t n) {
    reg_ <<= n;
    avail_ -= n;
  }

  // n = 1..16 bits.
  IFFJPEG_INLINE int32_t TakeBitsReady(int32_t n) {
    auto bits = static_cast<int32_t>(reg_ >> (64 - n));
    SkipReady(n);
    return bits;
  }

  // ReadyAc inside a run of symbols decoded from the register: the last
  // top-up left at least 56 bits and one symbol takes at most 32, so the
  // lookup's ten bits are there; only the next 0xFF (or the end of the
  // buffered bytes) can call for the other operations.
  IFFJPEG_INLINE bool ReadyAcAgain(const HuffTable& table, int64_t& entry) {
    if (cursor_ + 8 > safeEnd_) return false;
    entry = table.decode.lookAc[reg_ >> (64 - kLookAcBits)];
    Refill();
    return true;
  }

  // ReadyAcAgain and ReadyAc with the skipping lookup.
  IFFJPEG_INLINE bool ReadySkipAgain(const HuffTable& table, uint32_t& entry) {
    if (cursor_ + 8 > safeEnd_) return false;
    entry = table.decode.lookSkip[reg_ >> (64 - kLookAcBits)];
    Refill();
    return true;
  }

  IFFJPEG_INLINE bool ReadySkip(const HuffTable& table, uint32_t& entry) {
    if (cursor_ + 8 <= safeEnd_ && avail_ >= kLookAcBits) {
      entry = table.decode.lookSkip[reg_ >> (64 - kLookAcBits)];
      Refill();
      return true;
    }
    if (!Ready()) return false;
    entry = table.decode.lookSkip[reg_ >> (64 - kLookAcBits)];
    return true;
  }

  // Ready() together with the combined lookup of the next AC symbol. When
  // the register already holds the lookup's ten bits, they are read before
  // the register is topped up (the top-up only adds bits below them), so
  // that the table load does not wait for the top-up.
  IFFJPEG_INLINE bool ReadyAc(const HuffTable& table, int64_t& entry) {
    if (cursor_ + 8 <= safeEnd_ && avail_ >= kLookAcBits) {
      entry = table.decode.lookAc[reg_ >> (64 - kLookAcBits)];
      Refill();
      return true;
    }
    if (!Ready()) return false;
    entry = table.decode.lookAc[reg_ >> (64 - kLookAcBits)];
    return true;
  }

  // Takes the AC symbol of a ReadyAc entry: the code, and the magnitude
  // bits too when the entry carries the value (kLookAcFits). A code longer
  // than the lookup is found by the search and comes back as an entry
  // without a value (but with its advance, and kLookAcValueKnown for a
  // symbol of size 0).
  IFFJPEG_INLINE int64_t TakeAc(const HuffTable& table, int64_t entry) {
    if ((entry & kLookAcTakenMask) == 0) {
      int32_t length;
      int32_t symbol = DecodeLongReady(table, length);
      return static_cast<int64_t>(symbol) << kLookAcSymbolShift |
             static_cast<int64_t>(AcAdvance(symbol)) << kLookAcAdvanceShift |
             ((symbol & 15) == 0 ? kLookAcValueKnown : 0) |
             static_cast<int64_t>(CounterStepOffset(symbol & 15, length)) << kLookAcStepShift;
    }
    SkipReady(static_cast<int32_t>(entry & kLookAcTakenMask));
    return entry;
  }

  // The symbol of an 8-bit lookahead value read after Ready(), its code
  // taken.
  IFFJPEG_INLINE int32_t DecodeSymbolReady(const HuffTable& table, int32_t look, int32_t& length) {
    length = table.decode.lookNbits[look];
    if (length > 0) {
      SkipReady(length);
      return table.decode.lookSym[look];
    }
    return DecodeLongReady(table, length);
  }

  // The search from length 9 (T.81 F.2.2.3, Figure F.16).
  int32_t DecodeLongReady(const HuffTable& table, int32_t& length) {
    const HuffDecodeTables& t = table.decode;
    length = kLookaheadBits + 1;
    auto code = static_cast<int32_t>(reg_ >> (64 - length));
    while (code > t.maxCode[length]) {
      ++length;
      code = static_cast<int32_t>(reg_ >> (64 - length));
    }
    SkipReady(length);
    return SymbolOfCode(table, code, length);
  }

  // The byte-wise operations, used when the register may run short.
  int32_t GetBits(int32_t n) {
    if (BitsLeft() < n) Fill(n);
    auto bits = static_cast<int32_t>(Peek(n));
    SkipCounted(n);
    return bits;
  }

  int32_t DecodeSymbol(const HuffTable& table) {
    if (BitsLeft() < kLookaheadBits) {
      Fill(0);
      if (BitsLeft() < kLookaheadBits) return DecodeSlow(table, 1);
    }
    auto look = static_cast<int32_t>(Peek(kLookaheadBits));
    int32_t nbits = table.decode.lookNbits[look];
    if (nbits > 0) {
      SkipCounted(nbits);
      return table.decode.lookSym[look];
    }
    return DecodeSlow(table, kLookaheadBits + 1);
  }

 private:
  // Takes the stream buffer's cursor and finds the next 0xFF (or the end of
  // the buffered bytes): whole words are loaded only before it. Only the
  // byte-wise rules move past a 0xFF, and they come back through here.
  void TakeCursor() {
    cursor_ = stream_.cursor;
    end_ = cursor_ + stream_.byteCount;
    FindSafeEnd();
  }

  void FindSafeEnd() {
    const void* ff = std::memchr(cursor_, 0xFF, static_cast<size_t>(end_ - cursor_));
    safeEnd_ = ff != nullptr ? cursor_ + (static_cast<const uint8_t*>(ff) - cursor_) : end_;
  }

  // Whole bytes up to 63 bits in the register. The bits below them are
  // those of the following bytes (none of them 0xFF): later loads and the
  // byte-wise fill OR the very same bits into those places again.
  IFFJPEG_INLINE void Refill() {
    reg_ |= LoadBigEndian(cursor_) >> avail_;
    cursor_ += (kRegisterBits - avail_) >> 3;
    avail_ |= 56;
  }

  // Near a 0xFF or the end of the buffered bytes: whole bytes one at a
  // time, a stuffed 0xFF 0x00 as the one byte 0xFF (one such pair in the
  // register at a time), up to a marker or the end of the buffered bytes,
  // which only the byte-wise rules pass.
  void CarefulRefill() {
    while (avail_ <= kRegisterBits - 8 && cursor_ < end_) {
      uint8_t byte = *cursor_;
      int32_t step = 1;
      if (byte == 0xFF) {
        if (end_ - cursor_ < 2 || cursor_[1] != 0x00) break;
        if (stuffedAt_ != nullptr && StuffedPrefetched()) break;
        stuffedAt_ = cursor_;
        step = 2;
      }
      reg_ |= static_cast<uint64_t>(byte) << (56 - avail_);
      avail_ += 8;
      cursor_ += step;
    }
    if (cursor_ > safeEnd_) FindSafeEnd();
  }

  // True while the stuffed 0xFF last loaded is still among the prefetched
  // bytes (not yet taken by the byte-wise reader's counters).
  bool StuffedPrefetched() const {
    int32_t prefetched = (avail_ - BitsLeft() - Held()) >> 3;
    return cursor_ - stuffedAt_ - 2 < prefetched;
  }

  // The byte-wise fill (bitsNeeded n): held bits join, then bytes are taken
  // while fewer than 15 bits are left. When the two bytes it may take are
  // prefetched, only the counters move.
  void Fill(int32_t n) {
    int32_t bitsLeft = BitsLeft() + Held();
    int32_t held = 0;
    if (avail_ - bitsLeft >= 16) {  // the one or two bytes it takes are at hand
      FillCounters(bitsLeft, held);
      state_ = CounterState(bitsLeft, held);
      return;
    }
    stream_.cursor = cursor_;
    stream_.byteCount = static_cast<uint32_t>(end_ - cursor_);
    while (bitsLeft < kBufferLimit) {
      if (avail_ - bitsLeft < 8) {
        // No whole prefetched byte is left: a stuffed 0xFF loaded ahead has
        // been taken, and the byte-wise rules read on from the cursor.
        stuffedAt_ = nullptr;
        int byte = ReadByte(stream_);
        if (byte == 0xFF) {
          int next = ReadByte(stream_);
          if (next != 0x00) {
            PutBack(stream_, next);
            PutBack(stream_, 0xFF);
            if (bitsLeft >= n) break;
            byte = 0;
            if (next >= kMarkerRst0 && next <= kMarkerRst7) bits_.zerosSupplied = next;
          }
        }
        reg_ |= static_cast<uint64_t>(byte) << (56 - avail_);
        avail_ += 8;
      }
      bitsLeft += 8;
      if (bitsLeft > kBufferLimit) {
        held = bitsLeft - kBufferLimit;
        bitsLeft = kBufferLimit;
      }
    }
    state_ = CounterState(bitsLeft, held);
    TakeCursor();  // FillBuffer may have brought new bytes
  }

  // n bits taken by the byte-wise reader (at most bitsLeft).
  void SkipCounted(int32_t n) {
    SkipReady(n);
    state_ = CounterState(BitsLeft() - n, Held());
  }

  int32_t DecodeSlow(const HuffTable& table, int32_t length) {
    return SearchCode(table, length, [this](int32_t n) { return GetBits(n); });
  }

  int32_t BitsLeft() const { return StateBitsLeft(state_); }
  int32_t Held() const { return StateHeld(state_); }

  ByteStream& stream_;
  BitReader& bits_;
  // The next avail_ bits of the segment at the top; below them zeros or the
  // bits of the stream bytes that follow.
  uint64_t reg_;
  int32_t avail_;  // bitsLeft + heldCount + the prefetched bits
  int32_t state_;  // the byte-wise reader's counters (CounterState)
  // The stream buffer's bytes not yet in the register: cursor_ up to end_,
  // of which those before safeEnd_ are known to hold no 0xFF.
  uint8_t* cursor_;
  uint8_t* end_;
  uint8_t* safeEnd_;
  // The stuffed 0xFF (followed by its 0x00) loaded ahead as one byte, if
  // any: handed back with its 0x00 while still prefetched.
  uint8_t* stuffedAt_;
};

}  // namespace

namespace {

// Where coefficient k (zigzag order) of a component lands in its block and
// its quantizer step (McuPlan::place). An unused coefficient
// (DecoderState::unusedCoefficients) before the component's last used one
// has the step 0: the loop stays free of a branch, and the block keeps the
// zero it holds there.
void PlaceCoefficients(const uint16_t* quant, uint64_t unused, CoefficientPlacement& place) {
  for (int32_t k = 0; k < 64; ++k) {
    uint32_t step = (unused >> k & 1) != 0 ? 0 : quant[k];
    place[k] = static_cast<uint32_t>(zigzagToNatural[k]) | step << 16;
  }
}

// The scan's plan, made at its first MCU and kept in the decoder's record
// until the next scan starts (startHuffmanPass).
const McuPlan& PlanOf(DecoderState& dec) {
  McuPlan& plan = dec.mcuPlan;
  if (plan.made) return plan;
  plan.made = 1;
  plan.blocks = dec.blocksInMcu;
  plan.drops = false;
  for (int32_t c = 0; c < dec.scanComponentCount; ++c) {
    const ComponentInfo& comp = *dec.scanComponents[c];
    PlaceCoefficients(dec.quantTables[comp.quantTableNo]->quantval, dec.unusedCoefficients[c],
                      plan.place[c]);
    plan.drops = plan.drops || dec.unusedCoefficients[c] != 0;
  }
  for (int32_t b = 0; b < dec.blocksInMcu; ++b) {
    int32_t ci = dec.mcuMembership[b];
    // The DC term is always used, so ~unused is never 0.
    auto last = static_cast<uint32_t>(63 - std::countl_zero(~dec.unusedCoefficients[ci]));
    plan.block[b] = {ci, plan.place[ci], dec.dcDecoding[ci], dec.acDecoding[ci], last};
  }
  return plan;
}

// DC: the difference from the component's prediction (T.81 F.2.2.1).
IFFJPEG_INLINE int32_t DecodeDc(FastBitReader& reader, const HuffTable& table) {
  int64_t entry;
  if (reader.ReadyAc(table, entry)) {
    // The DC table's combined lookup (startHuffmanPass builds it too): a
    // code within its ten bits whose symbol is a category 0..15 is taken
    // with the steps below, the magnitude from the entry where it fits.
    if ((entry & kLookAcTakenMask) != 0 && (entry >> (kLookAcSymbolShift + 4) & 15) == 0) {
      reader.SkipReady(static_cast<int32_t>(entry & kLookAcTakenMask));
      int32_t diff;
      if (entry & kLookAcValueKnown) {
        diff = static_cast<int16_t>(entry >> kLookAcValueShift);
      } else {
        int32_t s = static_cast<int32_t>(entry >> kLookAcSymbolShift) & 15;
        diff = Extend(reader.TakeBitsReady(s), s);
      }
      reader.AdvanceBy(static_cast<int32_t>(static_cast<uint64_t>(entry) >> kLookAcStepShift));
      return diff;
    }
    // The register holds the lookahead's eight bits whole after the top-up.
    auto look = static_cast<int32_t>(reader.Peek(kLookaheadBits));
    int32_t length;
    int32_t symbol = reader.DecodeSymbolReady(table, look, length);
    // A category above 15 only comes from corrupt data: no magnitude bits.
    // Category 0 (no difference) is common and as good as random, so both
    // go through the same steps with s = 0.
    int32_t s = static_cast<uint32_t>(symbol - 1) < 15 ? symbol : 0;
    int32_t diff = Extend(reader.TakeBitsOrNone(s), s);
    reader.Advance(length, s);
    return diff;
  }
  int32_t s = reader.DecodeSymbol(table);
  return s > 0 && s <= 15 ? extendValue(reader.GetBits(s), s) : 0;
}

// AC (T.81 F.2.2.2): run/size symbols, ZRL and EOB, from coefficient k,
// one symbol at a time through whichever reader has the bits; coefficients
// past last are decoded but not stored.
IFFJPEG_INLINE void DecodeAcCareful(FastBitReader& reader, const HuffTable& table,
                                    const uint32_t* place, int16_t* block, uint32_t k,
                                    uint32_t last) {
  while (k < 64) {
    int32_t v = 0;
    uint32_t rs;
    int32_t s;
    int64_t entry;
    if (reader.ReadyAc(table, entry)) {
      entry = reader.TakeAc(table, entry);
      rs = static_cast<uint32_t>(entry >> kLookAcSymbolShift) & 0xFF;
      s = static_cast<int32_t>(rs & 15);
      if (s > 0) {
        v = entry & kLookAcFits ? static_cast<int16_t>(entry >> kLookAcValueShift)
                                : Extend(reader.TakeBitsReady(s), s);
      }
      reader.AdvanceBy(static_cast<int32_t>(static_cast<uint64_t>(entry) >> kLookAcStepShift));
    } else {
      rs = static_cast<uint32_t>(reader.DecodeSymbol(table));
      s = static_cast<int32_t>(rs & 15);
      if (s > 0) v = extendValue(reader.GetBits(s), s);
    }
    uint32_t r = rs >> 4;
    if (s > 0) {
      k += r;
      if (k > 63) break;  // corrupt run past the block: nothing stored
      if (k <= last) {
        uint32_t at = place[k];
        block[at & 63] = static_cast<int16_t>(v * static_cast<int32_t>(at >> 16));
      }
      ++k;
    } else if (r == 15) {
      k += 16;
    } else {
      break;
    }
  }
}

// The rest of a block from coefficient k on, none of which is used: each
// symbol is still decoded, to move through the data, but its magnitude
// bits are dropped with the code (lookSkip), never extracted.
IFFJPEG_INLINE void SkipAc(FastBitReader& reader, const HuffTable& table, const uint32_t* place,
                           int16_t* block, uint32_t k) {
  if (k > 63) return;
  uint32_t entry;
  bool ready = reader.ReadySkip(table, entry);
  for (; ready; ready = reader.ReadySkipAgain(table, entry)) {
    if ((entry & kLookSkipDropMask) != 0) {
      reader.SkipReady(static_cast<int32_t>(entry & kLookSkipDropMask));
      reader.AdvanceBy(static_cast<int32_t>(entry >> kLookSkipStepShift));
      // The coefficient the symbol codes, then the next one (past the
      // block for EOB).
      k += entry >> kLookSkipAdvanceShift & 255;
    } else {
      int32_t length;
      int32_t symbol = reader.DecodeLongReady(table, length);
      reader.SkipReady(symbol & 15);
      reader.Advance(length, symbol & 15);
      k += static_cast<uint32_t>(AcAdvance(symbol)) + 1;
    }
    if (k > 63) return;
  }
  DecodeAcCareful(reader, table, place, block, k, 0);
}

// The same while the register holds the bits, each symbol's step through
// the block taken from its entry (AcAdvance): a ZRL stores a zero where the
// block holds one already, so that every symbol but EOB takes the same
// steps; the careful loop takes over where the register may run short.
// With kDrops, the coefficients past last go through SkipAc.
template <bool kDrops>
IFFJPEG_INLINE void DecodeAc(FastBitReader& reader, const HuffTable& table, const uint32_t* place,
                             int16_t* block, uint32_t last) {
  if (!kDrops) last = 63;
  uint32_t k = 1;
  if (kDrops && last == 0) return SkipAc(reader, table, place, block, k);
  int64_t entry;
  bool ready = reader.ReadyAc(table, entry);
  for (; ready; ready = reader.ReadyAcAgain(table, entry)) {
    entry = reader.TakeAc(table, entry);
    int32_t v;
    if (entry & kLookAcValueKnown) {
      v = static_cast<int16_t>(entry >> kLookAcValueShift);
    } else {
      int32_t s = static_cast<int32_t>(entry >> kLookAcSymbolShift) & 15;
      v = Extend(reader.TakeBitsReady(s), s);
    }
    reader.AdvanceBy(static_cast<int32_t>(static_cast<uint64_t>(entry) >> kLookAcStepShift));
    k += static_cast<uint32_t>(entry >> kLookAcAdvanceShift) & 127;
    if (k > last) {
      // EOB, or a corrupt run past the block: nothing stored.
      if (!kDrops) return;
      return SkipAc(reader, table, place, block, k + 1);
    }
    uint32_t at = place[k];
    block[at & 63] = static_cast<int16_t>(v * static_cast<int32_t>(at >> 16));
    if (++k > last) {
      if (!kDrops) return;
      return SkipAc(reader, table, place, block, k);
    }
  }
  DecodeAcCareful(reader, table, place, block, k, last);
}

template <bool kDrops>
IFFJPEG_INLINE void DecodeBlocks(FastBitReader& reader, DecoderState& dec, const McuPlan& plan,
                                 CoefBlock** blocks) {
  for (int32_t b = 0; b < plan.blocks; ++b) {
    const BlockPlan& p = plan.block[b];
    int16_t* block = *blocks[b];
    int32_t diff = DecodeDc(reader, *p.dc);
    dec.lastDcVal[p.component] = static_cast<int16_t>(dec.lastDcVal[p.component] + diff);
    block[0] =
        static_cast<int16_t>(dec.lastDcVal[p.component] * static_cast<int32_t>(p.place[0] >> 16));
    DecodeAc<kDrops>(reader, *p.ac, p.place, block, p.last);
  }
}

// T.81 F.2.2.5: a restart is processed on the byte-wise reader's state.
// True when the MCU is to be passed over (restartSkipsMcu).
bool RestartIfDue(ByteStream& stream, BitReader& bits, DecoderState& dec, FastBitReader& reader) {
  if (dec.restartInterval != 0) {
    if (dec.restartReportDue != 0) deliverRestartReport(stream, dec);
    if (dec.restartsAbandoned == 0) {
      if (dec.restartsToGo == 0) {
        reader.Store();
        processRestart(stream, bits, dec);
        reader.Load();
      }
      --dec.restartsToGo;
      ++dec.mcuInScan;
    }
  }
  if (dec.skipMcus == 0) return false;
  --dec.skipMcus;
  return true;
}

// An MCU that ran into a marker (extended reading): checkMcuOverrun on the
// bit reader's state, which only its flag takes part in.
void CheckOverrun(ByteStream& stream, BitReader& bits, DecoderState& dec, CoefBlock** blocks) {
  if (bits.zerosSupplied != 0) checkMcuOverrun(stream, bits, dec, blocks);
}

// The reader lives in the function that runs the loop, so that its state
// stays in registers.
template <bool kDrops>
void DecodeMcus(ByteStream& stream, BitReader& bits, DecoderState& dec, const McuPlan& plan,
                CoefBlock** blocks, int32_t count) {
  FastBitReader reader(stream, bits);
  for (int32_t m = 0; m < count; ++m) {
    if (RestartIfDue(stream, bits, dec, reader)) {
      concealSkippedMcu(dec, blocks + m * dec.blocksInMcu);
      continue;
    }
    DecodeBlocks<kDrops>(reader, dec, plan, blocks + m * dec.blocksInMcu);
    CheckOverrun(stream, bits, dec, blocks + m * dec.blocksInMcu);
  }
  reader.Store();
}

}  // namespace

int32_t decodeHuffmanMcuFast(ByteStream& stream, BitReader& bits, DecoderState& dec,
                             CoefBlock** blocks) {
  const McuPlan& plan = PlanOf(dec);
  if (plan.drops) {
    DecodeMcus<true>(stream, bits, dec, plan, blocks, 1);
  } else {
    DecodeMcus<false>(stream, bits, dec, plan, blocks, 1);
  }
  return 0;
}

void decodeHuffmanMcusFast(ByteStream& stream, BitReader& bits, DecoderState& dec,
                           CoefBlock** blocks, int32_t count) {
  const McuPlan& plan = PlanOf(dec);
  if (plan.drops) {
    DecodeMcus<true>(stream, bits, dec, plan, blocks, count);
  } else {
    DecodeMcus<false>(stream, bits, dec, plan, blocks, count);
  }
}

}  // namespace iffjpeg
