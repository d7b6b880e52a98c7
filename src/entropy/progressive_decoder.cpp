#include "entropy/progressive_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/result_codes.h"
#include "entropy/coefficient_masks.h"
#include "entropy/huffman_decoder.h"
#include "format/marker_codes.h"
#include "format/marker_reader.h"
#include "platform/cpu_features.h"
#include "stream/byte_stream.h"

namespace iffjpeg {
namespace {

// The block helpers and the reader's hot steps are inlined into the scan
// loops, so that the reader stays in registers and, in the bit-instruction
// kernel, is compiled for those instructions too.
#if defined(__GNUC__)
#define IFFJPEG_INLINE inline __attribute__((always_inline))
#else
#define IFFJPEG_INLINE inline
#endif

constexpr int32_t kMaxPointTransform = 13;
constexpr int32_t kRefillBelow = 32;  // a code and its magnitude bits fit in 32
constexpr int32_t kLookBits = 8;

// Tops the register up to more than 56 bits, a byte at a time. Stuffed
// 0xFF 0x00 pairs give 0xFF; at a marker the marker is put back into the
// stream and zero bits are supplied from then on.
// The reader goes in and out by value, so that the callers' copy never has
// its address taken and stays in registers.
ProgressiveReader RefillSlow(ByteStream& stream, ProgressiveReader r) {
  while (r.bits <= 56) {
    uint64_t byte = 0;
    if (!r.atMarker) {
      int value = ReadByte(stream);
      if (value == 0xFF) {
        int next = ReadByte(stream);
        while (next == 0xFF) next = ReadByte(stream);  // fill bytes before a marker
        if (next == 0x00) {
          byte = 0xFF;
        } else {
          PutBack(stream, next);
          PutBack(stream, 0xFF);
          r.atMarker = 1;
        }
      } else {
        byte = static_cast<uint64_t>(value);
      }
    }
    if (r.atMarker) r.fake += 8;
    r.acc |= byte << (56 - r.bits);
    r.bits += 8;
  }
  return r;
}

// The same, with the bytes already in the stream buffer that are not 0xFF
// taken directly: eight at a time where the buffer holds that many and none
// of those taken is 0xFF, otherwise one at a time; anything else goes the
// byte-wise way. Either way the register ends with the bytes RefillSlow
// would have put there.
IFFJPEG_INLINE void Refill(ByteStream& stream, ProgressiveReader& r) {
  if (r.bits > 56) return;
  if (!r.atMarker && stream.byteCount >= 8) {
    uint64_t word;
    std::memcpy(&word, stream.cursor, sizeof word);
    // The bytes that fit whole: bits + 8 x take in 57..64.
    const int32_t take = (64 - r.bits) >> 3;
    // A 0xFF byte is a zero byte of ~word; the test may flag bytes after a
    // true one too, which only sends them the byte-wise way.
    const uint64_t inverted = ~word;
    uint64_t ff = (inverted - 0x0101010101010101u) & ~inverted & 0x8080808080808080u;
    if (take < 8) ff &= (uint64_t{1} << (8 * take)) - 1;
    if (std::endian::native == std::endian::little && ff == 0) {
      const uint64_t bytes = __builtin_bswap64(word) >> (64 - 8 * take);
      r.acc |= bytes << (64 - r.bits - 8 * take);
      r.bits += 8 * take;
      stream.cursor += take;
      stream.byteCount -= static_cast<uint32_t>(take);
      return;
    }
  }
  while (r.bits <= 56) {
    if (r.atMarker || stream.byteCount == 0 || *stream.cursor == 0xFF) {
      r = RefillSlow(stream, r);
      return;
    }
    uint64_t byte = *stream.cursor++;
    --stream.byteCount;
    r.acc |= byte << (56 - r.bits);
    r.bits += 8;
  }
}

inline void Skip(ProgressiveReader& r, int32_t n) {
  r.acc <<= n;
  r.bits -= n;
  if (r.bits < r.fake) {
    r.overrun = 1;
    r.fake = r.bits;
  }
}

inline int32_t GetBits(ByteStream& stream, ProgressiveReader& r, int32_t n) {
  if (n == 0) return 0;
  if (r.bits < n) Refill(stream, r);
  auto value = static_cast<int32_t>(r.acc >> (64 - n));
  Skip(r, n);
  return value;
}

inline int32_t GetBit(ByteStream& stream, ProgressiveReader& r) {
  if (r.bits < 1) Refill(stream, r);
  auto value = static_cast<int32_t>(r.acc >> 63);
  Skip(r, 1);
  return value;
}

// The 8-bit lookahead of buildDecodingTable, then the search by length
// (T.81 F.2.2.3). A code that does not exist takes 16 bits and gives 0.
inline int32_t DecodeSymbol(ByteStream& stream, ProgressiveReader& r, const HuffTable& table) {
  if (r.bits < kRefillBelow) Refill(stream, r);
  const HuffDecodeTables& t = table.decode;
  auto look = static_cast<int32_t>(r.acc >> (64 - kLookBits));
  int32_t length = t.lookNbits[look];
  if (length > 0) {
    Skip(r, length);
    return t.lookSym[look];
  }
  for (length = kLookBits + 1; length <= 16; ++length) {
    auto code = static_cast<int32_t>(r.acc >> (64 - length));
    if (code <= t.maxCode[length]) {
      Skip(r, length);
      int32_t index = t.valPtr[length] + code - t.minCode[length];
      return index < 0 || index > 255 ? 0 : table.huffval[index];
    }
  }
  Skip(r, 16);
  return 0;
}

// n bits (0..63) at once, the first one highest: what n single bits would
// give, with the same end of the data. Up to 32 of them, as a pass over a
// run mostly takes, without a branch on n (0 included).
IFFJPEG_INLINE uint64_t TakeBits(ByteStream& stream, ProgressiveReader& r, int32_t n) {
  if (n <= 32) {
    if (r.bits < 32) Refill(stream, r);
    const uint64_t value = (r.acc >> 1) >> (63 - n);
    Skip(r, n);
    return value;
  }
  uint64_t value = 0;
  while (n > 0) {
    const int32_t part = std::min(n, 32);
    if (r.bits < part) Refill(stream, r);
    value = (value << part) | (r.acc >> (64 - part));
    Skip(r, part);
    n -= part;
  }
  return value;
}

// T.81 G.1.2.1: the DC difference, scaled by the point transform.
IFFJPEG_INLINE void DecodeDcFirst(ByteStream& stream, DecoderState& dec, ProgressiveScan& scan,
                                  ProgressiveReader& r, CoefBlock** blocks) {
  for (int32_t b = 0; b < dec.blocksInMcu; ++b) {
    int32_t ci = dec.mcuMembership[b];
    const HuffTable& table = *scan.dcTables[ci];
    // The combined lookup, as for AC codes: a size symbol (0..15) has the
    // form of an AC symbol with no run, and most come with their value.
    if (r.bits < kRefillBelow) Refill(stream, r);
    const int64_t entry = table.decode.lookAc[r.acc >> (64 - kLookAcBits)];
    const int32_t symbol = static_cast<int32_t>(entry >> kLookAcSymbolShift) & 0xFF;
    int32_t s;
    int32_t diff = 0;
    if (entry != 0 && symbol <= 15 && (entry & kLookAcFits) != 0) {
      Skip(r, static_cast<int32_t>(entry & kLookAcTakenMask));
      s = 0;
      diff = static_cast<int16_t>(static_cast<uint64_t>(entry) >> kLookAcValueShift);
    } else if (entry != 0) {
      Skip(r, static_cast<int32_t>(entry >> kLookAcLengthShift) & 15);
      s = symbol;
    } else {
      s = DecodeSymbol(stream, r, table);
    }
    if (s > 0 && s <= 15) diff = extendValue(GetBits(stream, r, s), s);
    dec.lastDcVal[ci] = static_cast<int16_t>(dec.lastDcVal[ci] + diff);
    (*blocks[b])[0] = static_cast<int16_t>(dec.lastDcVal[ci] * (1 << dec.approxLow));
  }
}

// T.81 G.1.2.1: one more bit of every DC coefficient, the MCU's bits taken
// at once and applied without a branch, as they come at random.
IFFJPEG_INLINE void DecodeDcRefine(ByteStream& stream, DecoderState& dec, ProgressiveReader& r,
                                   CoefBlock** blocks) {
  const int32_t bit = 1 << dec.approxLow;
  const int32_t n = dec.blocksInMcu;
  uint64_t bits = TakeBits(stream, r, n) << (64 - n);
  for (int32_t b = 0; b < n; ++b, bits <<= 1) {
    int16_t& dc = (*blocks[b])[0];
    dc = static_cast<int16_t>(dc | (bit & -static_cast<int32_t>(bits >> 63)));
  }
}

// T.81 G.1.2.2: run/size symbols over the band Ss..Se, EOBn runs. The
// combined lookup (buildCombinedLookup) gives most codes with their
// magnitude bits in one step; it finds exactly what DecodeSymbol finds.
IFFJPEG_INLINE void DecodeAcFirst(ByteStream& stream, DecoderState& dec, ProgressiveScan& scan,
                                  ProgressiveReader& r, CoefBlock* block) {
  if (scan.eobRun > 0) {
    --scan.eobRun;
    return;
  }
  const HuffTable& table = *scan.acTable;
  const int64_t* lookup = table.decode.lookAc;
  const int32_t end = dec.spectralEnd;
  const int32_t scale = 1 << dec.approxLow;
  int16_t* coef = *block;
  for (int32_t k = dec.spectralStart; k <= end; ++k) {
    if (r.bits < kRefillBelow) Refill(stream, r);
    int64_t entry = lookup[r.acc >> (64 - kLookAcBits)];
    int32_t rs;
    if (entry & kLookAcFits) {
      Skip(r, static_cast<int32_t>(entry & kLookAcTakenMask));
      k += static_cast<int32_t>(entry >> (kLookAcSymbolShift + 4)) & 15;
      if (k > end) break;  // a run past the band: corrupt, nothing stored
      auto value = static_cast<int16_t>(static_cast<uint64_t>(entry) >> kLookAcValueShift);
      coef[k] = static_cast<int16_t>(value * scale);
      continue;
    }
    if (entry != 0) {
      Skip(r, static_cast<int32_t>(entry >> kLookAcLengthShift) & 15);
      rs = static_cast<int32_t>(entry >> kLookAcSymbolShift) & 0xFF;
    } else {
      rs = DecodeSymbol(stream, r, table);
    }
    int32_t run = rs >> 4;
    int32_t s = rs & 15;
    if (s != 0) {
      k += run;
      int32_t value = extendValue(GetBits(stream, r, s), s);
      if (k > end) break;  // a run past the band: corrupt, nothing stored
      coef[k] = static_cast<int16_t>(value * scale);
    } else if (run == 15) {
      k += 15;  // ZRL: sixteen zeros
    } else {
      scan.eobRun = (1 << run) - 1;
      if (run > 0) scan.eobRun += GetBits(stream, r, run);
      break;
    }
  }
}

// The bit-counting steps of the refinement, through the processor's own
// instructions (kBitOps) or the portable forms; both give the same bits.
template <bool kBitOps>
inline uint64_t SelectBit(uint64_t mask, int32_t n) {
#if defined(IFFJPEG_HAVE_AVX2)
  if constexpr (kBitOps) return SelectBitDeposit(mask, n);
#endif
  return SelectBitScalar(mask, n);
}
template <bool kBitOps>
inline int32_t CountBits(uint64_t mask) {
#if defined(IFFJPEG_HAVE_AVX2)
  if constexpr (kBitOps) return BitCountInstruction(mask);
#endif
  return BitCount(mask);
}

// Correction bits (T.81 G.1.2.3) for the non-zero coefficients at the
// positions of mask, in order, the first at bit count - 1 of bits: when
// set, the coefficient's magnitude gains the bit, unless it has it already.
// With the bit instructions the set bits are first placed at their
// positions, and only those coefficients are visited. The update is
// computed without branches, as the bits come at random.
template <bool kBitOps>
inline void ApplyCorrections(int16_t* coef, uint64_t mask, uint64_t bits, int32_t bit) {
  if (mask == 0) return;
  const int32_t n = CountBits<kBitOps>(mask);
  uint64_t visit = mask;
  bits <<= 64 - n;  // the first at the top
#if defined(IFFJPEG_HAVE_AVX2)
  if constexpr (kBitOps) {
    visit = DepositBitsInstruction(ReverseBits(bits), mask);
    bits = ~uint64_t{0};  // every one visited is set
  }
#endif
  for (; visit != 0; visit &= visit - 1, bits <<= 1) {
    int16_t& c = coef[LowestBit(visit)];
    const int32_t value = c;
    const int32_t sign = value >> 31;          // 0 or -1
    const int32_t step = (bit ^ sign) - sign;  // bit, with the coefficient's sign
    const int32_t wanted = static_cast<int32_t>(bits >> 63) & ((value & bit) == 0 ? 1 : 0);
    c = static_cast<int16_t>(value + (step & -wanted));
  }
}

// T.81 G.1.2.3: new coefficients of magnitude 1 << Al among the zero ones,
// and a correction bit for each non-zero one passed over, also in the
// blocks an end-of-band run covers. The block's non-zero positions are
// taken once, as a mask: the walk over a run of zero-history coefficients
// then finds the zero it ends at, and the non-zero ones it passes, by bits.
// A coefficient set on the way lies behind the walk and is never met again,
// so the mask stays true for every position ahead of it. Every non-zero
// coefficient of the band takes exactly one correction bit, and none of
// them changes what the walk finds, so the bits are gathered, as many at a
// time as a pass meets, and applied once at the end of the block. Symbols
// come through the combined lookup, which also holds the sign bit of a new
// coefficient (its one magnitude bit) for most codes.
template <bool kBitOps>
IFFJPEG_INLINE void DecodeAcRefine(ByteStream& stream, DecoderState& dec, ProgressiveScan& scan,
                                   ProgressiveReader& r, CoefBlock* block) {
  const HuffTable& table = *scan.acTable;
  const int64_t* lookup = table.decode.lookAc;
  const int32_t end = dec.spectralEnd;
  const int32_t bit = 1 << dec.approxLow;
  int16_t* coef = *block;
  const uint64_t band = Span(dec.spectralStart, end);
  const uint64_t nonZero = NonZeroMask(coef) & band;
  const uint64_t zeros = ~nonZero & band;
  uint64_t corrections = 0;  // the bits taken so far, the last one lowest
  uint64_t rest = band;      // the positions the walk has not reached
  if (scan.eobRun == 0) {
    while (rest != 0) {
      if (r.bits < kRefillBelow) Refill(stream, r);
      const int64_t entry = lookup[r.acc >> (64 - kLookAcBits)];
      int32_t rs;
      int32_t value = 0;
      if (entry != 0) {
        rs = static_cast<int32_t>(entry >> kLookAcSymbolShift) & 0xFF;
        if ((rs & 15) == 1 && (entry & kLookAcFits) != 0) {
          Skip(r, static_cast<int32_t>(entry & kLookAcTakenMask));
          auto v = static_cast<int16_t>(static_cast<uint64_t>(entry) >> kLookAcValueShift);
          value = v > 0 ? bit : -bit;
        } else {
          Skip(r, static_cast<int32_t>(entry >> kLookAcLengthShift) & 15);
        }
      } else {
        rs = DecodeSymbol(stream, r, table);
      }
      int32_t run = rs >> 4;
      if (value != 0) {
        // taken with the code
      } else if ((rs & 15) != 0) {
        // Any size but 1 comes only from corrupt data: taken as 1.
        value = GetBit(stream, r) ? bit : -bit;
      } else if (run != 15) {
        scan.eobRun = 1 << run;
        if (run > 0) scan.eobRun += GetBits(stream, r, run);
        break;
      }
      // Pass over run zero coefficients (ZRL: sixteen), taking the
      // correction bits of the non-zero ones on the way; the new one goes
      // at the zero after them, or nowhere when the band ends first (ahead
      // 0: every position left is passed).
      const uint64_t ahead = SelectBit<kBitOps>(zeros & rest, run);
      const int32_t n = CountBits<kBitOps>(nonZero & rest & (ahead - 1));
      corrections = (corrections << n) | TakeBits(stream, r, n);
      if (value != 0 && ahead != 0) coef[LowestBit(ahead)] = static_cast<int16_t>(value);
      rest &= uint64_t{0} - (ahead << 1);  // above ahead; nothing when ahead is 0 or bit 63
    }
  }
  if (scan.eobRun > 0) {
    const int32_t n = CountBits<kBitOps>(nonZero & rest);
    corrections = (corrections << n) | TakeBits(stream, r, n);
    --scan.eobRun;
  }
  ApplyCorrections<kBitOps>(coef, nonZero, corrections, bit);
}

// T.81 G.1.2 with restart intervals (E.2.4): the register is emptied, the
// marker taken, predictions and the run reset. A marker other than RSTn
// abandons the rest of the scan. An unexpected number is taken as the
// truth when the data show that markers were lost (whole bytes left before
// the marker, or the interval ran into it early): the intervals before the
// one it names (at most seven) are passed over, their blocks left
// unrefined.
void ProcessProgressiveRestart(ByteStream& stream, DecoderState& dec, ProgressiveScan& scan) {
  // An interval's data end with fewer than eight padding bits.
  bool leftOver = scan.reader.bits - scan.reader.fake >= 8;
  scan.reader.acc = 0;
  scan.reader.bits = 0;
  scan.reader.fake = 0;
  scan.reader.atMarker = 0;
  scan.reader.overrun = 0;
  scan.eobRun = 0;
  dec.skipMcus = 0;
  int32_t passed = 0;
  int marker = NextMarker(stream, passed);
  bool damaged = leftOver || passed > 0 || dec.intervalDamaged != 0;
  dec.intervalDamaged = 0;
  if (marker < kMarkerRst0 || marker > kMarkerRst7) {
    PutBack(stream, marker);
    PutBack(stream, 0xFF);
    scan.reader.atMarker = 1;
    dec.restartsAbandoned = 1;
    stream.lineCode = kErrDataEnded;
    return;
  }
  int32_t number = marker - kMarkerRst0;
  if (number != dec.nextRestartNum) {
    stream.lineCode = kErrDataEnded;
    if (damaged) dec.skipMcus = ((number - dec.nextRestartNum) & 7) * int32_t{dec.restartInterval};
  }
  for (int16_t& dc : dec.lastDcVal) dc = 0;
  dec.restartsToGo = dec.restartInterval + dec.skipMcus;
  dec.nextRestartNum = static_cast<int16_t>((number + 1) & 7);
}

// With restart intervals, data that run into a restart marker inside an
// interval lose only the rest of that interval: it is passed over, and
// decoding resumes at that marker (reported once, as 10). The reader stops
// in front of the marker it met; data that end at any other marker still
// end the scan.
void PassOverRestOfInterval(ByteStream& stream, DecoderState& dec, ProgressiveReader& r) {
  if (!r.overrun || dec.restartInterval == 0 || dec.restartsAbandoned) return;
  if (stream.byteCount < 2 || stream.cursor[0] != 0xFF) return;
  if (stream.cursor[1] < kMarkerRst0 || stream.cursor[1] > kMarkerRst7) return;
  r.overrun = 0;
  dec.skipMcus = dec.restartsToGo;
  dec.intervalDamaged = 1;
  stream.lineCode = kErrDataEnded;
}

template <bool kBitOps>
IFFJPEG_INLINE void DecodeMcus(ByteStream& stream, DecoderState& dec, ProgressiveScan& scan,
                               CoefBlock** blocks, int32_t count) {
  const int32_t perMcu = dec.blocksInMcu;
  // The reader is held in a local record across the MCUs, so that its
  // fields can stay in registers.
  ProgressiveReader r = scan.reader;
  if (dec.restartInterval == 0 && dec.restartsAbandoned == 0 && perMcu == 1) {
    // A lone component without restarts, as most AC scans are: only the end
    // of the data stops the blocks, and the kind of scan is asked once.
    switch (scan.kind) {
      case ProgressiveKind::kAcFirst:
        for (int32_t m = 0; m < count && r.overrun == 0; ++m) {
          DecodeAcFirst(stream, dec, scan, r, blocks[m]);
        }
        break;
      case ProgressiveKind::kAcRefine:
        for (int32_t m = 0; m < count && r.overrun == 0; ++m) {
          DecodeAcRefine<kBitOps>(stream, dec, scan, r, blocks[m]);
        }
        break;
      case ProgressiveKind::kDcFirst:
        for (int32_t m = 0; m < count && r.overrun == 0; ++m) {
          DecodeDcFirst(stream, dec, scan, r, blocks + m);
        }
        break;
      case ProgressiveKind::kDcRefine:
        for (int32_t m = 0; m < count && r.overrun == 0; ++m) {
          DecodeDcRefine(stream, dec, r, blocks + m);
        }
        break;
    }
    if (r.overrun) PassOverRestOfInterval(stream, dec, r);
    scan.reader = r;
    return;
  }
  for (int32_t m = 0; m < count; ++m, blocks += perMcu) {
    if (r.overrun) PassOverRestOfInterval(stream, dec, r);
    if (r.overrun || dec.restartsAbandoned) break;
    if (dec.restartInterval != 0) {
      if (dec.restartsToGo == 0) {
        scan.reader = r;
        ProcessProgressiveRestart(stream, dec, scan);
        r = scan.reader;
        if (dec.restartsAbandoned) break;
      }
      --dec.restartsToGo;
      if (dec.skipMcus > 0) {
        --dec.skipMcus;
        continue;
      }
    }
    switch (scan.kind) {
      case ProgressiveKind::kDcFirst:
        DecodeDcFirst(stream, dec, scan, r, blocks);
        break;
      case ProgressiveKind::kDcRefine:
        DecodeDcRefine(stream, dec, r, blocks);
        break;
      case ProgressiveKind::kAcFirst:
        DecodeAcFirst(stream, dec, scan, r, blocks[0]);
        break;
      case ProgressiveKind::kAcRefine:
        DecodeAcRefine<kBitOps>(stream, dec, scan, r, blocks[0]);
        break;
    }
  }
  if (r.overrun) PassOverRestOfInterval(stream, dec, r);
  scan.reader = r;
}

struct ProgressiveKernels {
  void (*decodeMcus)(ByteStream&, DecoderState&, ProgressiveScan&, CoefBlock**, int32_t);
};
void DecodeMcusPortable(ByteStream& stream, DecoderState& dec, ProgressiveScan& scan,
                        CoefBlock** blocks, int32_t count) {
  DecodeMcus<false>(stream, dec, scan, blocks, count);
}
#if defined(IFFJPEG_HAVE_AVX2)
__attribute__((target("bmi,bmi2,popcnt"))) void DecodeMcusBitOps(ByteStream& stream,
                                                                 DecoderState& dec,
                                                                 ProgressiveScan& scan,
                                                                 CoefBlock** blocks,
                                                                 int32_t count) {
  DecodeMcus<true>(stream, dec, scan, blocks, count);
}
#endif
constexpr ProgressiveKernels kPortableKernels{DecodeMcusPortable};
ProgressiveKernels FastestKernels() {
#if defined(IFFJPEG_HAVE_AVX2)
  if (platform::ProcessorHasBitOps()) return ProgressiveKernels{DecodeMcusBitOps};
#endif
  return kPortableKernels;
}

}  // namespace

bool ProgressiveScanValid(const DecoderState& dec, const int8_t (*history)[64]) {
  int32_t ss = dec.spectralStart, se = dec.spectralEnd;
  int32_t ah = dec.approxHigh, al = dec.approxLow;
  if (ss > se || se > 63 || ah > kMaxPointTransform || al > kMaxPointTransform) return false;
  if (ss == 0 && se != 0) return false;                     // DC and AC in one scan
  if (ss > 0 && dec.scanComponentCount != 1) return false;  // an AC scan of several components
  if (ah == 0) return true;
  if (al != ah - 1 || history == nullptr) return false;
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    const int8_t* bits = history[dec.scanComponents[i]->componentIndex];
    for (int32_t k = ss; k <= se; ++k) {
      if (bits[k] < 0) return false;  // a refinement of what was never coded
    }
  }
  return true;
}

int32_t StartProgressiveScan(ByteStream& stream, DecoderState& dec, ProgressiveScan& scan) {
  (void)stream;
  scan.reader = ProgressiveReader{};
  scan.eobRun = 0;
  scan.acTable = nullptr;
  bool dc = dec.spectralStart == 0;
  bool refine = dec.approxHigh != 0;
  if (dc) {
    scan.kind = refine ? ProgressiveKind::kDcRefine : ProgressiveKind::kDcFirst;
  } else {
    scan.kind = refine ? ProgressiveKind::kAcRefine : ProgressiveKind::kAcFirst;
  }
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    const ComponentInfo& comp = *dec.scanComponents[i];
    scan.dcTables[i] = nullptr;
    if (scan.kind == ProgressiveKind::kDcFirst) {
      HuffTable* table = dec.dcHuffTables[comp.dcTableNo];
      if (table == nullptr) return kErrBadData;
      buildDecodingTable(*table);
      buildCombinedLookup(*table);
      scan.dcTables[i] = table;
    } else if (!dc) {
      HuffTable* table = dec.acHuffTables[comp.acTableNo];
      if (table == nullptr) return kErrBadData;
      buildDecodingTable(*table);
      buildCombinedLookup(*table);
      scan.acTable = table;
    }
    dec.lastDcVal[i] = 0;
  }
  dec.restartsToGo = dec.restartInterval;
  dec.nextRestartNum = 0;
  dec.restartsAbandoned = 0;
  dec.skipMcus = 0;
  dec.intervalDamaged = 0;
  return kOk;
}

void DecodeProgressiveMcus(ByteStream& stream, DecoderState& dec, ProgressiveScan& scan,
                           CoefBlock** blocks, int32_t count) {
  platform::ChooseKernels<ProgressiveKernels, FastestKernels>(kPortableKernels)
      .decodeMcus(stream, dec, scan, blocks, count);
}

}  // namespace iffjpeg
