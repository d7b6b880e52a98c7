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

// Where the symbols and bits of a scan go: to the counts its tables are
// built from, or through the tables into the stream.
struct CountingSink {
  ProgressiveEncoder& pe;
  void dcSymbol(int32_t ci, int32_t symbol) { ++pe.dcCounts[ci]->count[symbol]; }
  void acSymbol(int32_t symbol) { ++pe.acCounts->count[symbol]; }
  void bits(int32_t, uint32_t) {}
};

struct CodingSink {
  ProgressiveEncoder& pe;
  void symbol(const HuffTable& table, int32_t s) {
    emitBits(*pe.stream, *pe.writer, table.encode.sizeOfSymbol[s], table.encode.codeOfSymbol[s]);
  }
  void dcSymbol(int32_t ci, int32_t s) { symbol(*pe.dcTables[ci], s); }
  void acSymbol(int32_t s) { symbol(*pe.acTable, s); }
  void bits(int32_t n, uint32_t value) { emitBits(*pe.stream, *pe.writer, n, value); }
};

// EOBn with the run's low n bits (T.81 G.1.2.2, Table G.1), then the
// correction bits of the blocks in the run (G.1.2.3).
template <class Sink>
void EmitEobRun(ProgressiveEncoder& pe, Sink sink) {
  if (pe.eobRun == 0) return;
  int32_t n = Category(static_cast<uint32_t>(pe.eobRun)) - 1;
  sink.acSymbol(n << 4);
  if (n > 0) sink.bits(n, static_cast<uint32_t>(pe.eobRun));
  for (int32_t i = 0; i < pe.correctionCount; ++i) sink.bits(1, pe.correction[i]);
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
  sink.dcSymbol(ci, s);
  if (s > 0) sink.bits(s, static_cast<uint32_t>(diff < 0 ? diff - 1 : diff));
}

// T.81 G.1.2.2: the band's magnitudes divided by 2^Al, as run/size pairs;
// a block ending in zeros joins the end-of-band run. Only the coefficients
// that are not zero after the point transform are visited.
template <class Sink>
void EncodeAcFirst(ProgressiveEncoder& pe, Sink sink, const int16_t* block) {
  const int32_t al = pe.params.al;
  uint64_t coded = MagnitudeMask(block, al) & Span(pe.params.ss, pe.params.se);
  int32_t next = pe.params.ss;  // the first position after the last coded one
  for (; coded != 0; coded &= coded - 1) {
    int32_t k = LowestBit(coded);
    int32_t run = k - next;
    next = k + 1;
    EmitEobRun(pe, sink);
    for (; run > 15; run -= 16) sink.acSymbol(kZrl);
    int32_t c = block[k];
    uint32_t m = static_cast<uint32_t>(c < 0 ? -c : c) >> al;
    int32_t s = Category(m);
    sink.acSymbol((run << 4) + s);
    sink.bits(s, c < 0 ? ~m : m);
  }
  if (next <= pe.params.se && ++pe.eobRun == kMaxEobRun) EmitEobRun(pe, sink);
}

// T.81 G.1.2.3: coefficients first non-zero at this bit are coded as
// run/1 with a sign bit; those already non-zero give one correction bit
// each, sent after the next symbol (or the end-of-band run) that follows.
// Runs count only the coefficients still zero.
template <class Sink>
void EncodeAcRefine(ProgressiveEncoder& pe, Sink sink, const int16_t* block) {
  const int32_t al = pe.params.al;
  const uint64_t band = Span(pe.params.ss, pe.params.se);
  const uint64_t nonZero = MagnitudeMask(block, al) & band;
  const uint64_t before = MagnitudeMask(block, al + 1) & band;  // non-zero in earlier scans
  const uint64_t fresh = nonZero & ~before;
  const int32_t lastFresh = fresh == 0 ? -1 : HighestBit(fresh);

  // This block's correction bits sit behind those of the pending run.
  int32_t pendingStart = pe.correctionCount;
  int32_t pending = 0;
  auto emitPending = [&] {
    for (int32_t i = 0; i < pending; ++i) sink.bits(1, pe.correction[pendingStart + i]);
    pendingStart = pe.correctionCount;
    pending = 0;
  };
  int32_t run = 0;
  int32_t next = pe.params.ss;
  for (uint64_t left = nonZero; left != 0; left &= left - 1) {
    int32_t k = LowestBit(left);
    run += k - next;
    next = k + 1;
    // Zero runs are only coded on the way to a newly non-zero coefficient;
    // after the last one they belong to the end of band.
    while (run > 15 && k <= lastFresh) {
      EmitEobRun(pe, sink);
      sink.acSymbol(kZrl);
      run -= 16;
      emitPending();
    }
    int32_t c = block[k];
    if ((before >> k) & 1) {
      uint32_t m = static_cast<uint32_t>(c < 0 ? -c : c) >> al;
      pe.correction[pendingStart + pending++] = static_cast<uint8_t>(m & 1);
      continue;
    }
    EmitEobRun(pe, sink);
    sink.acSymbol((run << 4) + 1);
    sink.bits(1, c < 0 ? 0 : 1);
    emitPending();
    run = 0;
  }
  run += pe.params.se + 1 - next;
  if (run > 0 || pending > 0) {
    ++pe.eobRun;
    pe.correctionCount = pendingStart + pending;
    if (pe.eobRun == kMaxEobRun || pe.correctionCount > kMaxCorrectionBits - 63) {
      EmitEobRun(pe, sink);
    }
  }
}

template <class Sink>
void EncodeBlock(ProgressiveEncoder& pe, Sink sink, const int16_t* block, int32_t ci) {
  const ProgressiveScanParams& p = pe.params;
  if (p.ss == 0) {
    if (p.ah == 0) {
      EncodeDcFirst(pe, sink, block, ci);
    } else {
      sink.bits(1, static_cast<uint32_t>(block[0] >> p.al) & 1);  // G.1.2.1
    }
  } else if (p.ah == 0) {
    EncodeAcFirst(pe, sink, block);
  } else {
    EncodeAcRefine(pe, sink, block);
  }
}

void FlushRun(ProgressiveEncoder& pe) {
  if (pe.counting) {
    EmitEobRun(pe, CountingSink{pe});
  } else {
    EmitEobRun(pe, CodingSink{pe});
  }
}

}  // namespace

void StartProgressiveEncoding(ProgressiveEncoder& pe) {
  for (int32_t& v : pe.lastDc) v = 0;
  pe.eobRun = 0;
  pe.correctionCount = 0;
  if (!pe.counting) {
    pe.writer->bitAccumulator = 0;
    pe.writer->bitCount = 0;
  }
}

void EncodeProgressiveBlock(ProgressiveEncoder& pe, const int16_t* block, int32_t ci) {
  if (pe.counting) {
    EncodeBlock(pe, CountingSink{pe}, block, ci);
  } else {
    EncodeBlock(pe, CodingSink{pe}, block, ci);
  }
}

void RestartProgressiveEncoding(ProgressiveEncoder& pe, int32_t restartNumber) {
  FlushRun(pe);
  if (!pe.counting) {
    completeLastByte(*pe.stream, *pe.writer);
    PutByte(*pe.stream, 0xFF);
    PutByte(*pe.stream, kMarkerRst0 + (restartNumber & 7));
  }
  for (int32_t& v : pe.lastDc) v = 0;
}

void FinishProgressiveEncoding(ProgressiveEncoder& pe) {
  FlushRun(pe);
  if (!pe.counting) completeLastByte(*pe.stream, *pe.writer);
}

}  // namespace iffjpeg
