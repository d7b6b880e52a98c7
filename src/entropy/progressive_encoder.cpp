#include "entropy/progressive_encoder.h"

#include <bit>

#include "entropy/coefficient_masks.h"
#include "entropy/huffman_encoder.h"
#include "format/marker_codes.h"

namespace iffjpeg {
namespace {

// T.81 G.1.2.2: an end-of-band run is at most 32767 blocks.
constexpr int32_t kMaxEobRun = 0x7FFF;
constexpr int32_t kZrl = 0xF0;

// The size category of a magnitude (T.81 F.1.2.1, G.1.2.2).
inline int32_t Category(uint32_t m) { return m == 0 ? 0 : 32 - std::countl_zero(m); }

inline uint64_t LowBits(uint64_t value, int32_t n) { return value & ((uint64_t{1} << n) - 1); }

// The symbols and bits of a scan go either to the counts its tables are
// built from, or through the tables into the stream. A symbol comes with
// the bits that follow it (at most 16), so that the coder adds both at once.
struct CountingSink {
  static constexpr bool kCodes = false;
  ProgressiveEncoder& pe;
  void dcSymbol(int32_t ci, int32_t symbol, int32_t, uint32_t) { ++pe.dcCounts[ci]->count[symbol]; }
  void acSymbol(int32_t symbol, int32_t = 0, uint32_t = 0) { ++pe.acCounts->count[symbol]; }
  void bits(int32_t, uint64_t) {}
};

// Four bytes of coded data, each 0xFF followed by a stuffed 0 (T.81
// F.1.2.3).
inline void PutDataWord(ByteStream& stream, uint32_t word) {
  for (int32_t shift = 24; shift >= 0; shift -= 8) {
    int32_t byte = static_cast<int32_t>((word >> shift) & 0xFF);
    PutByte(stream, byte);
    if (byte == 0xFF) PutByte(stream, 0);
  }
}

// Bits gather in a 64-bit word and leave it 32 at a time: the bit writer
// stays empty until the scan or interval ends, when the last few bits go
// through it to be padded.
struct CodingSink {
  static constexpr bool kCodes = true;
  ProgressiveEncoder& pe;
  void bits(int32_t n, uint64_t value) {  // n <= 32
    pe.pendingBits = (pe.pendingBits << n) | LowBits(value, n);
    pe.pendingCount += n;
    if (pe.pendingCount >= 32) {
      pe.pendingCount -= 32;
      PutDataWord(*pe.stream, static_cast<uint32_t>(pe.pendingBits >> pe.pendingCount));
    }
  }
  void symbol(const HuffTable& table, int32_t s, int32_t n, uint32_t extra) {
    bits(table.encode.sizeOfSymbol[s] + n,
         (uint64_t{table.encode.codeOfSymbol[s]} << n) | LowBits(extra, n));
  }
  void dcSymbol(int32_t ci, int32_t s, int32_t n, uint32_t extra) {
    symbol(*pe.dcTables[ci], s, n, extra);
  }
  void acSymbol(int32_t s, int32_t n = 0, uint32_t extra = 0) { symbol(*pe.acTable, s, n, extra); }
};

// Ends the coded data of a scan or interval: whole bytes out, the rest
// padded with 1-bits by the bit writer.
void CompleteData(ProgressiveEncoder& pe) {
  for (; pe.pendingCount >= 8; pe.pendingCount -= 8) {
    int32_t byte = static_cast<int32_t>((pe.pendingBits >> (pe.pendingCount - 8)) & 0xFF);
    PutByte(*pe.stream, byte);
    if (byte == 0xFF) PutByte(*pe.stream, 0);
  }
  emitBits(*pe.stream, *pe.writer, pe.pendingCount,
           static_cast<uint32_t>(LowBits(pe.pendingBits, pe.pendingCount)));
  completeLastByte(*pe.stream, *pe.writer);
  pe.pendingBits = 0;
  pe.pendingCount = 0;
}

// n bits (at most 63), the oldest first from bit n - 1.
template <class Sink>
void EmitWord(Sink sink, uint64_t word, int32_t n) {
  if (n > 32) {
    sink.bits(n - 32, word >> 32);
    n = 32;
  }
  sink.bits(n, word);
}

// The correction bits of a block join those of the run it ends in, packed
// from the most significant bit of each word.
void AppendCorrections(ProgressiveEncoder& pe, uint64_t word, int32_t n) {
  if (n == 0) return;
  word = LowBits(word, n);
  const int32_t at = pe.correctionCount;
  const int32_t w = at >> 6;
  const int32_t room = 64 - (at & 63);
  if (room == 64) pe.correctionWords[w] = 0;
  if (n <= room) {
    pe.correctionWords[w] |= word << (room - n);
  } else {
    pe.correctionWords[w] |= word >> (n - room);
    pe.correctionWords[w + 1] = word << (64 - (n - room));
  }
  pe.correctionCount += n;
}

// EOBn with the run's low n bits (T.81 G.1.2.2, Table G.1), then the
// correction bits of the blocks in the run (G.1.2.3).
template <class Sink>
void EmitEobRun(ProgressiveEncoder& pe, Sink sink) {
  if (pe.eobRun == 0) return;
  int32_t n = Category(static_cast<uint32_t>(pe.eobRun)) - 1;
  sink.acSymbol(n << 4, n, static_cast<uint32_t>(pe.eobRun));
  if constexpr (Sink::kCodes) {
    const int32_t full = pe.correctionCount >> 6;
    for (int32_t i = 0; i < full; ++i) {
      sink.bits(32, pe.correctionWords[i] >> 32);
      sink.bits(32, pe.correctionWords[i]);
    }
    if (int32_t rest = pe.correctionCount & 63; rest != 0) {
      EmitWord(sink, pe.correctionWords[full] >> (64 - rest), rest);
    }
  }
  pe.eobRun = 0;
  pe.correctionCount = 0;
}

// T.81 G.1.2.1: the DC coefficient shifted right by Al, coded as a
// difference from the component's last one, as in a sequential scan.
template <class Sink>
void EncodeDcFirst(ProgressiveEncoder& pe, Sink sink, const int16_t* block, int32_t ci) {
  int32_t value = block[0] >> pe.params.al;
  int32_t diff = value - pe.lastDc[ci];
  pe.lastDc[ci] = value;
  int32_t s = Category(static_cast<uint32_t>(diff < 0 ? -diff : diff));
  sink.dcSymbol(ci, s, s, static_cast<uint32_t>(diff < 0 ? diff - 1 : diff));
}

// T.81 G.1.2.2: the band's magnitudes divided by 2^Al, as run/size pairs;
// a block ending in zeros joins the end-of-band run. Only the coefficients
// that are not zero after the point transform are visited.
// magnitudes is MagnitudeMask(block, Al).
template <class Sink>
void EncodeAcFirst(ProgressiveEncoder& pe, Sink sink, const int16_t* block, uint64_t magnitudes) {
  const int32_t al = pe.params.al;
  uint64_t coded = magnitudes & Span(pe.params.ss, pe.params.se);
  int32_t next = pe.params.ss;           // the first position after the last coded one
  if (coded != 0) EmitEobRun(pe, sink);  // the run ends before the block's first symbol
  for (; coded != 0; coded &= coded - 1) {
    int32_t k = LowestBit(coded);
    int32_t run = k - next;
    next = k + 1;
    for (; run > 15; run -= 16) sink.acSymbol(kZrl);
    int32_t c = block[k];
    uint32_t m = static_cast<uint32_t>(c < 0 ? -c : c) >> al;
    int32_t s = Category(m);
    sink.acSymbol((run << 4) + s, s, c < 0 ? ~m : m);
  }
  if (next <= pe.params.se && ++pe.eobRun == kMaxEobRun) EmitEobRun(pe, sink);
}

// T.81 G.1.2.3: coefficients first non-zero at this bit are coded as
// run/1 with a sign bit; those already non-zero give one correction bit
// each, sent after the next symbol (or the end-of-band run) that follows.
// Runs count only the coefficients still zero, and a ZRL is only coded on
// the way to a newly non-zero coefficient. The block is taken a stretch at
// a time, from one newly non-zero coefficient to the next: a stretch whose
// zeros cannot make a ZRL passes its correction bits on at once; only one
// that can is walked coefficient by coefficient. masks are
// RefinementMasksOf(block, Al).
template <class Sink>
void EncodeAcRefine(ProgressiveEncoder& pe, Sink sink, const int16_t* block,
                    const RefinementMasks& masks) {
  const uint64_t band = Span(pe.params.ss, pe.params.se);
  const uint64_t nonZero = masks.nonZero & band;
  const uint64_t before = masks.before & band;  // non-zero in earlier scans
  const uint64_t zeros = band & ~nonZero;
  const uint64_t corrections = masks.bits & before;

  // This block's correction bits not yet sent, the oldest highest.
  uint64_t pending = 0;
  int32_t pendingCount = 0;
  auto emitPending = [&] {
    if (pendingCount == 0) return;
    EmitWord(sink, pending, pendingCount);
    pending = 0;
    pendingCount = 0;
  };
  auto takeCorrections = [&](uint64_t positions) {
    if constexpr (Sink::kCodes) {
      for (; positions != 0; positions &= positions - 1) {
        pending = (pending << 1) | ((corrections >> LowestBit(positions)) & 1);
        ++pendingCount;
      }
    } else {
      pendingCount += BitCount(positions);
    }
  };
  auto emitZrls = [&](int32_t& run) {
    for (; run > 15; run -= 16) {
      sink.acSymbol(kZrl);
      emitPending();
    }
  };

  int32_t run = 0;
  int32_t next = pe.params.ss;
  const uint64_t allFresh = nonZero & ~before;
  // The pending run ends before this block's first symbol, ZRL or not.
  if (allFresh != 0) EmitEobRun(pe, sink);
  for (uint64_t fresh = allFresh; fresh != 0; fresh &= fresh - 1) {
    const int32_t k = LowestBit(fresh);
    const uint64_t stretch = Span(next, k - 1);
    // The stretch holds k - next coefficients, zero or already non-zero.
    const uint64_t old = before & stretch;
    const int32_t stretchZeros = k - next - (old == 0 ? 0 : BitCount(old));
    if (run + stretchZeros <= 15) {
      run += stretchZeros;
      takeCorrections(old);
    } else {
      // Between two coefficients already non-zero there are only zeros.
      int32_t at = next;
      for (uint64_t left = old; left != 0; left &= left - 1) {
        const int32_t j = LowestBit(left);
        run += j - at;
        at = j + 1;
        emitZrls(run);
        takeCorrections(uint64_t{1} << j);
      }
      run += k - at;
      emitZrls(run);
    }
    sink.acSymbol((run << 4) + 1, 1, block[k] < 0 ? 0 : 1);
    emitPending();
    run = 0;
    next = k + 1;
  }
  // After the last newly non-zero coefficient everything joins the end of
  // band.
  const uint64_t tail = Span(next, pe.params.se);
  takeCorrections(before & tail);
  if ((zeros & tail) != 0 || pendingCount > 0) {
    ++pe.eobRun;
    AppendCorrections(pe, pending, pendingCount);
    if (pe.eobRun == kMaxEobRun || pe.correctionCount > kMaxCorrectionBits - 63) {
      EmitEobRun(pe, sink);
    }
  }
}

enum class ScanKind { kDcFirst, kDcRefine, kAcFirst, kAcRefine };

ScanKind KindOf(const ProgressiveScanParams& p) {
  if (p.ss == 0) return p.ah == 0 ? ScanKind::kDcFirst : ScanKind::kDcRefine;
  return p.ah == 0 ? ScanKind::kAcFirst : ScanKind::kAcRefine;
}

template <ScanKind kKind, class Sink>
inline void EncodeBlock(ProgressiveEncoder& pe, Sink sink, const int16_t* block, int32_t ci) {
  if constexpr (kKind == ScanKind::kDcFirst) {
    EncodeDcFirst(pe, sink, block, ci);
  } else if constexpr (kKind == ScanKind::kDcRefine) {
    sink.bits(1, static_cast<uint32_t>(block[0] >> pe.params.al) & 1);  // G.1.2.1
  } else if constexpr (kKind == ScanKind::kAcFirst) {
    EncodeAcFirst(pe, sink, block, MagnitudeMask(block, pe.params.al));
  } else {
    EncodeAcRefine(pe, sink, block, RefinementMasksOf(block, pe.params.al));
  }
}

// Ends a restart interval: the pending run goes out, the data are
// completed, RSTn follows and the predictions restart (T.81 G.1.2,
// F.1.2.3).
template <class Sink>
void Restart(ProgressiveEncoder& pe, Sink sink) {
  EmitEobRun(pe, sink);
  if constexpr (Sink::kCodes) {
    CompleteData(pe);
    PutByte(*pe.stream, 0xFF);
    PutByte(*pe.stream, kMarkerRst0 + pe.restartNumber);
  }
  pe.restartNumber = (pe.restartNumber + 1) & 7;
  pe.restartsLeft = pe.restartInterval;
  for (int32_t& v : pe.lastDc) v = 0;
}

template <class Sink>
inline void BeforeMcu(ProgressiveEncoder& pe, Sink sink) {
  if (pe.restartInterval == 0) return;
  if (pe.restartsLeft == 0) Restart(pe, sink);
  --pe.restartsLeft;
}

// An AC scan's row with its masks from the row kernel, a stretch of blocks
// at a time: what EncodeBlock gives block by block.
template <ScanKind kKind, class Sink, class Masks>
void EncodeRowWithMasks(ProgressiveEncoder& pe, Sink sink, const CoefBlock* row, int32_t count) {
  constexpr int32_t kStretch = 32;
  Masks masks[kStretch];
  for (int32_t at = 0; at < count; at += kStretch) {
    const int32_t n = count - at < kStretch ? count - at : kStretch;
    if constexpr (kKind == ScanKind::kAcFirst) {
      pe.magnitudeMasks(row[at], n, pe.params.al, masks);
    } else {
      pe.refinementMasks(row[at], n, pe.params.al, masks);
    }
    for (int32_t i = 0; i < n; ++i) {
      BeforeMcu(pe, sink);
      if constexpr (kKind == ScanKind::kAcFirst) {
        EncodeAcFirst(pe, sink, row[at + i], masks[i]);
      } else {
        EncodeAcRefine(pe, sink, row[at + i], masks[i]);
      }
    }
  }
}

template <ScanKind kKind, class Sink>
void EncodeRow(ProgressiveEncoder& pe, Sink sink, const CoefBlock* row, int32_t count) {
  if constexpr (kKind == ScanKind::kAcFirst) {
    if (pe.magnitudeMasks != nullptr) {
      return EncodeRowWithMasks<kKind, Sink, uint64_t>(pe, sink, row, count);
    }
  } else if constexpr (kKind == ScanKind::kAcRefine) {
    if (pe.refinementMasks != nullptr) {
      return EncodeRowWithMasks<kKind, Sink, RefinementMasks>(pe, sink, row, count);
    }
  }
  for (int32_t i = 0; i < count; ++i) {
    BeforeMcu(pe, sink);
    EncodeBlock<kKind>(pe, sink, row[i], 0);
  }
}

template <ScanKind kKind, class Sink>
void EncodeMcus(ProgressiveEncoder& pe, Sink sink, const int16_t* const* blocks,
                const int32_t* components, int32_t blocksInMcu, int32_t mcuCount) {
  for (int32_t m = 0; m < mcuCount; ++m, blocks += blocksInMcu) {
    BeforeMcu(pe, sink);
    for (int32_t i = 0; i < blocksInMcu; ++i) {
      EncodeBlock<kKind>(pe, sink, blocks[i], components[i]);
    }
  }
}

// A DC scan's blocks are read at their first coefficient only, so a DC
// term alone stands for its block.
template <ScanKind kKind, class Sink>
void EncodeDcTerms(ProgressiveEncoder& pe, Sink sink, const int16_t* terms,
                   const int32_t* components, int32_t blocksInMcu, int32_t mcuCount) {
  static_assert(kKind == ScanKind::kDcFirst || kKind == ScanKind::kDcRefine);
  for (int32_t m = 0; m < mcuCount; ++m, terms += blocksInMcu) {
    BeforeMcu(pe, sink);
    for (int32_t i = 0; i < blocksInMcu; ++i) {
      EncodeBlock<kKind>(pe, sink, terms + i, components[i]);
    }
  }
}

// Calls f with the sink and the scan kind as compile-time choices.
template <class F>
void Dispatch(ProgressiveEncoder& pe, F f) {
  auto withSink = [&](auto sink) {
    switch (KindOf(pe.params)) {
      case ScanKind::kDcFirst:
        return f(sink, std::integral_constant<ScanKind, ScanKind::kDcFirst>{});
      case ScanKind::kDcRefine:
        return f(sink, std::integral_constant<ScanKind, ScanKind::kDcRefine>{});
      case ScanKind::kAcFirst:
        return f(sink, std::integral_constant<ScanKind, ScanKind::kAcFirst>{});
      case ScanKind::kAcRefine:
        return f(sink, std::integral_constant<ScanKind, ScanKind::kAcRefine>{});
    }
  };
  if (pe.counting) {
    withSink(CountingSink{pe});
  } else {
    withSink(CodingSink{pe});
  }
}

}  // namespace

void StartProgressiveEncoding(ProgressiveEncoder& pe) {
  for (int32_t& v : pe.lastDc) v = 0;
  pe.eobRun = 0;
  pe.correctionCount = 0;
  pe.restartsLeft = pe.restartInterval;
  pe.restartNumber = 0;
  pe.pendingBits = 0;
  pe.pendingCount = 0;
  if (!pe.counting) {
    pe.writer->bitAccumulator = 0;
    pe.writer->bitCount = 0;
  }
}

void EncodeProgressiveRow(ProgressiveEncoder& pe, const CoefBlock* row, int32_t count) {
  Dispatch(pe, [&](auto sink, auto kind) { EncodeRow<kind()>(pe, sink, row, count); });
}

void EncodeProgressiveMcus(ProgressiveEncoder& pe, const int16_t* const* blocks,
                           const int32_t* components, int32_t blocksInMcu, int32_t mcuCount) {
  Dispatch(pe, [&](auto sink, auto kind) {
    EncodeMcus<kind()>(pe, sink, blocks, components, blocksInMcu, mcuCount);
  });
}

void EncodeProgressiveDcTerms(ProgressiveEncoder& pe, const int16_t* terms,
                              const int32_t* components, int32_t blocksInMcu, int32_t mcuCount) {
  Dispatch(pe, [&](auto sink, auto kind) {
    if constexpr (kind() == ScanKind::kDcFirst || kind() == ScanKind::kDcRefine) {
      EncodeDcTerms<kind()>(pe, sink, terms, components, blocksInMcu, mcuCount);
    }
  });
}

void FinishProgressiveEncoding(ProgressiveEncoder& pe) {
  if (pe.counting) {
    EmitEobRun(pe, CountingSink{pe});
    return;
  }
  EmitEobRun(pe, CodingSink{pe});
  CompleteData(pe);
}

}  // namespace iffjpeg
