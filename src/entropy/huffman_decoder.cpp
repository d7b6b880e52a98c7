#include "entropy/huffman_decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>

#include "common/result_codes.h"
#include "entropy/annex_k_tables.h"
#include "entropy/error_concealment.h"
#include "format/marker_codes.h"
#include "format/marker_reader.h"
#include "platform/cpu_features.h"
#include "stream/byte_stream.h"

namespace iffjpeg {
namespace {

constexpr int32_t kBitMask[17] = {0,   1,    3,    7,    15,   31,    63,    127,  255,
                                  511, 1023, 2047, 4095, 8191, 16383, 32767, 65535};

// Bytes enter the bit buffer only while it holds fewer than this many bits.
constexpr int32_t kBufferLimit = 15;
constexpr int32_t kLookaheadBits = 8;
constexpr int32_t kMaxCodeSentinel = 0xFFFFF;

void NoFinish(DecoderState&) {}

// Tops up the bit buffer (T.81 F.2.2.5 NEXTBIT, byte-wise). At a marker the
// two bytes are put back so the marker stays in the stream; zero bytes are
// supplied when more bits are needed than remain.
void fillBitBuffer(ByteStream& stream, BitReader& bits, int32_t bitsNeeded) {
  BitReader& br = bits;
  if (br.heldCount > 0) {
    // heldBits may keep stale bits while heldCount is 0, as the fill leaves it.
    br.bitBuffer = (br.bitBuffer << br.heldCount) | (static_cast<uint32_t>(br.heldBits) &
                                                     static_cast<uint32_t>(kBitMask[br.heldCount]));
    br.bitsLeft += br.heldCount;
    br.heldCount = 0;
  }
  while (br.bitsLeft < kBufferLimit) {
    int byte = ReadByte(stream);
    if (byte == 0xFF) {
      int next = ReadByte(stream);
      if (next != 0x00) {
        PutBack(stream, next);
        PutBack(stream, 0xFF);
        if (br.bitsLeft >= bitsNeeded) return;
        byte = 0;
        if (next >= kMarkerRst0 && next <= kMarkerRst7) br.zerosSupplied = next;
      }
    }
    br.bitsLeft += 8;
    if (br.bitsLeft <= kBufferLimit) {
      br.bitBuffer = (br.bitBuffer << 8) | static_cast<uint32_t>(byte);
    } else {
      int32_t extra = br.bitsLeft - kBufferLimit;
      br.bitBuffer = (br.bitBuffer << (8 - extra)) | static_cast<uint32_t>(byte >> extra);
      br.heldBits = byte & kBitMask[extra];
      br.heldCount = extra;
      br.bitsLeft = kBufferLimit;
    }
  }
}

int32_t decodeSymbolSlow(ByteStream& stream, BitReader& bits, const HuffTable& table,
                         int32_t length) {
  return SearchCode(table, length, [&](int32_t n) { return getBits(stream, bits, n); });
}

void ReportRestartLost(ByteStream& stream) {
  stream.lineCode = kErrDataEnded;
  *stream.lastError = kErrDataEnded;
}

// Where the first marker after the stream's cursor begins (the first 0xFF
// of its fill bytes), and its code, among the bytes already in the buffer
// and at most limit of them; false when none is found there.
bool FindBufferedMarker(const ByteStream& stream, uint32_t limit, uint32_t& at, int& code) {
  const uint8_t* p = stream.cursor;
  const uint32_t n = std::min(stream.byteCount, limit);
  for (uint32_t i = 0; i < n; ++i) {
    if (p[i] != 0xFF) continue;
    uint32_t j = i + 1;
    while (j < n && p[j] == 0xFF) ++j;
    if (j >= n) return false;
    if (p[j] == 0x00) {  // a stuffed data byte (T.81 F.1.2.3)
      i = j;
      continue;
    }
    at = i;
    code = p[j];
    return true;
  }
  return false;
}

// Moves the bits held back by the fill into the bit buffer (at most 22
// bits then), so that all the reader's bits are counted by bitsLeft.
void MergeHeldBits(BitReader& br) {
  // heldBits may keep stale bits while heldCount is 0, as the fill leaves it.
  br.bitBuffer = (br.bitBuffer << br.heldCount) | (static_cast<uint32_t>(br.heldBits) &
                                                   static_cast<uint32_t>(kBitMask[br.heldCount]));
  br.bitsLeft += br.heldCount;
  br.heldBits = 0;
  br.heldCount = 0;
}

// Drops the bits that pad the reader's data to a byte boundary (fewer than
// eight, the buffer otherwise holding whole bytes); false when they are not
// the 1-bits an encoder pads with (T.81 F.1.2.3).
bool DropPadding(BitReader& br) {
  MergeHeldBits(br);
  int32_t pad = br.bitsLeft % 8;
  uint32_t bitsOfPad = (br.bitBuffer >> (br.bitsLeft - pad)) & static_cast<uint32_t>(kBitMask[pad]);
  if (bitsOfPad != static_cast<uint32_t>(kBitMask[pad])) return false;
  br.bitsLeft -= pad;
  br.bitBuffer &= (uint32_t{1} << br.bitsLeft) - 1;
  // Back to the fill's own form: bits beyond its limit are held.
  if (br.bitsLeft > kBufferLimit) {
    br.heldCount = br.bitsLeft - kBufferLimit;
    br.heldBits = static_cast<int32_t>(br.bitBuffer) & kBitMask[br.heldCount];
    br.bitBuffer >>= br.heldCount;
    br.bitsLeft = kBufferLimit;
  }
  return true;
}

// True when the reader's remaining bits are an interval's end: 1-bits up
// to a byte boundary, then only the zero bytes supplied in front of the
// marker.
bool EndsLikeAnInterval(BitReader br) {
  MergeHeldBits(br);
  int32_t pad = br.bitsLeft % 8;
  uint32_t rest = br.bitBuffer & ((uint32_t{1} << br.bitsLeft) - 1);
  uint32_t expected = static_cast<uint32_t>(kBitMask[pad]) << (br.bitsLeft - pad);
  return rest == expected;
}

// Extended reading, at a restart point with no marker: when markers were
// lost (removed in transit) and nothing else, the bytes that follow are the
// next intervals' data, whole, and the next marker is numbered one on for
// each lost one. A trial decode tells, from the bytes already buffered:
// every interval must end on 1-bits up to a byte boundary, and the last use
// up every byte to the marker. Garbled data rarely do, and then the usual
// resynchronisation runs. The trial makes no read and stays within the
// largest size the intervals can be coded in; it is run again at each of
// the restart points it passed, so damaged files cost at most a few times
// their decoding.
//
// When the trial fails, endedIntact still tells whether the interval just
// decoded ended as intact data do: on its padding, followed by data that
// decode as the next interval, up to padding again. Garbled data seldom
// pass both; then the interval is kept rather than concealed.
bool IntervalFollowsLostMarker(ByteStream& stream, BitReader& bits, DecoderState& dec,
                               bool& endedIntact) {
  // The most an MCU can take: per block, a DC code and value (16 + 11 bits)
  // and 63 AC codes and values (16 + 10 bits each), stuffing doubling it.
  constexpr uint32_t kMaxBlockBytes = 2 * (27 + 63 * 26) / 8 + 1;
  const uint32_t maxBytes =
      8 * uint32_t{dec.restartInterval} * static_cast<uint32_t>(dec.blocksInMcu) * kMaxBlockBytes +
      64;
  uint32_t at = 0;
  int code = 0;
  if (!FindBufferedMarker(stream, maxBytes, at, code) || at == 0) return false;
  if (code < kMarkerRst0 || code > kMarkerRst7) return false;
  const int32_t lost = (code - kMarkerRst0 - dec.nextRestartNum) & 7;
  if (lost == 0) return false;  // bytes in front of the expected marker

  // The trial: a copy of the stream that ends at the marker, the real
  // decoder's tables, no restart processing.
  int32_t trialError = 0;
  ByteStream trial = stream;
  trial.byteCount = at + 2;
  trial.lastError = &trialError;
  BitReader trialBits = bits;
  int16_t savedDc[kMaxScanComponents];
  std::copy_n(dec.lastDcVal, kMaxScanComponents, savedDc);
  const uint16_t interval = dec.restartInterval;
  const int32_t savedSkip = dec.skipMcus;
  dec.restartInterval = 0;
  dec.skipMcus = 0;
  CoefBlock scratch[kMaxBlocksInMcu];
  CoefBlock* blocks[kMaxBlocksInMcu];
  for (int32_t b = 0; b < kMaxBlocksInMcu; ++b) blocks[b] = &scratch[b];
  bool whole = true;
  for (int32_t i = 0; i < lost && whole; ++i) {
    whole = DropPadding(trialBits) && trialBits.zerosSupplied == 0;
    std::fill_n(dec.lastDcVal, kMaxScanComponents, int16_t{0});
    for (uint32_t m = 0; m < interval && whole; ++m)
      decodeHuffmanMcu(trial, trialBits, dec, blocks);
    if (i == 0 && whole) {
      BitReader next = trialBits;
      endedIntact = DropPadding(next) && next.zerosSupplied == 0;
    }
  }
  dec.restartInterval = interval;
  dec.skipMcus = savedSkip;
  std::copy_n(savedDc, kMaxScanComponents, dec.lastDcVal);
  if (!whole || trial.cursor != stream.cursor + at || !EndsLikeAnInterval(trialBits)) return false;

  // The real decoding goes on from the same place.
  DropPadding(bits);
  return true;
}

}  // namespace

// T.81 F.2.2.5 / E.2.4: a restart marker is due. Any RST0..RST7 is taken as
// the restart point (an unexpected number is reported); any other marker is
// left in the stream and the rest of the scan decodes from zero bits, with
// no further restart processed. Extended reading takes an unexpected number
// as the truth when the data show that markers were lost (whole bytes left
// before the marker, or the interval ran into it early): the intervals
// before the one it names (at most seven) are passed over and concealed,
// as is an interval whose data were damaged. A marker merely numbered wrongly behind an intact
// interval is taken as in the default mode. Before any of that, where the
// data go on without a marker, IntervalFollowsLostMarker may find that the
// markers were only removed: the data decode on in step.
void processRestart(ByteStream& stream, BitReader& bits, DecoderState& dec) {
  BitReader& br = bits;
  bool endedIntact = false;
  if (dec.extendedReading != 0 && dec.intervalDamaged == 0 &&
      IntervalFollowsLostMarker(stream, bits, dec, endedIntact)) {
    ReportRestartLost(stream);
    std::copy_n(dec.lastDcVal, kMaxScanComponents, dec.concealDc);
    for (int16_t& dc : dec.lastDcVal) dc = 0;
    dec.skipMcus = 0;
    dec.restartsToGo = dec.restartInterval;
    dec.intervalStart = dec.mcuInScan;
    dec.nextRestartNum = static_cast<int16_t>((dec.nextRestartNum + 1) & 7);
    return;
  }
  // An interval's data end with fewer than eight padding bits.
  bool leftOver = br.bitsLeft + br.heldCount >= 8;
  br.bitsLeft = 0;
  br.heldBits = 0;
  br.heldCount = 0;
  br.zerosSupplied = 0;
  // Any entropy-coded bytes left before the marker are skipped.
  int32_t passed = 0;
  int marker = NextMarker(stream, passed);
  bool damaged = leftOver || passed > 0 || dec.intervalDamaged != 0;
  dec.intervalDamaged = 0;
  if (marker < kMarkerRst0 || marker > kMarkerRst7) {
    PutBack(stream, marker);
    PutBack(stream, 0xFF);
    dec.restartsAbandoned = 1;
    ReportRestartLost(stream);
    return;
  }
  int32_t number = marker - kMarkerRst0;
  dec.skipMcus = 0;
  bool conceal = false;
  if (number != dec.nextRestartNum) {
    ReportRestartLost(stream);
    if (dec.extendedReading && damaged) {
      dec.skipMcus = ((number - dec.nextRestartNum) & 7) * int32_t{dec.restartInterval};
      // The interval just decoded ran on into the damage unless its end
      // looked intact. (Damage that leaves the next marker in sequence is
      // decoded as in the default mode.)
      conceal = !endedIntact;
    }
  }
  if (conceal) {
    concealMcus(dec, dec.intervalStart, dec.mcuInScan);
  } else {
    std::copy_n(dec.lastDcVal, kMaxScanComponents, dec.concealDc);
  }
  for (int16_t& dc : dec.lastDcVal) dc = 0;
  dec.restartsToGo = dec.restartInterval + dec.skipMcus;
  dec.intervalStart = dec.mcuInScan + dec.skipMcus;
  dec.nextRestartNum = static_cast<int16_t>((number + 1) & 7);
}

void processRestartEarly(ByteStream& stream, BitReader& bits, DecoderState& dec) {
  const int32_t code = stream.lineCode;
  const int32_t error = *stream.lastError;
  processRestart(stream, bits, dec);
  if (stream.lineCode != code || *stream.lastError != error) {
    dec.restartReportDue = 1;
    stream.lineCode = code;
    *stream.lastError = error;
  }
}

void deliverRestartReport(ByteStream& stream, DecoderState& dec) {
  ReportRestartLost(stream);
  dec.restartReportDue = 0;
}

bool restartSkipsMcu(ByteStream& stream, BitReader& bits, DecoderState& dec) {
  if (dec.restartInterval != 0) {
    if (dec.restartReportDue != 0) deliverRestartReport(stream, dec);
    if (dec.restartsAbandoned == 0) {
      if (dec.restartsToGo == 0) processRestart(stream, bits, dec);
      --dec.restartsToGo;
      ++dec.mcuInScan;
    }
  }
  if (dec.skipMcus == 0) return false;
  --dec.skipMcus;
  return true;
}

void checkMcuOverrun(ByteStream& stream, BitReader& bits, DecoderState& dec, CoefBlock** blocks) {
  if (bits.zerosSupplied == 0 || dec.extendedReading == 0 || dec.restartInterval == 0) return;
  int32_t number = bits.zerosSupplied - kMarkerRst0;
  bits.zerosSupplied = 0;
  // The interval's own marker: a damaged interval, decoded on from zero
  // bits as in the default mode.
  if (number == dec.nextRestartNum) return;
  dec.intervalDamaged = 1;
  for (int32_t b = 0; b < dec.blocksInMcu; ++b) {
    for (int16_t& c : *blocks[b]) c = 0;
  }
  // The interval's MCUs before this one came from the same damaged data.
  concealSkippedMcu(dec, blocks);
  concealMcus(dec, dec.intervalStart, dec.mcuInScan - 1);
  dec.skipMcus = dec.restartsToGo;
  dec.intervalStart = dec.mcuInScan + dec.skipMcus;
  ReportRestartLost(stream);
}

int32_t getBits(ByteStream& stream, BitReader& bits, int32_t n) {
  BitReader& br = bits;
  if (br.bitsLeft < n) fillBitBuffer(stream, bits, n);
  br.bitsLeft -= n;
  return static_cast<int32_t>(br.bitBuffer >> br.bitsLeft) & kBitMask[n];
}

int32_t decodeSymbol(ByteStream& stream, BitReader& bits, const HuffTable& table) {
  BitReader& br = bits;
  if (br.bitsLeft < kLookaheadBits) {
    fillBitBuffer(stream, bits, 0);
    if (br.bitsLeft < kLookaheadBits) return decodeSymbolSlow(stream, bits, table, 1);
  }
  int32_t look = static_cast<int32_t>(br.bitBuffer >> (br.bitsLeft - kLookaheadBits)) & 0xFF;
  int32_t nbits = table.decode.lookNbits[look];
  if (nbits > 0) {
    br.bitsLeft -= nbits;
    return table.decode.lookSym[look];
  }
  return decodeSymbolSlow(stream, bits, table, kLookaheadBits + 1);
}

bool huffmanCodesOverflow(const uint8_t bits[17]) {
  int32_t code = 0;
  for (int32_t length = 1; length <= 16; ++length) {
    code += bits[length];
    // The last code of this length is code - 1; it must fit in length bits.
    if (bits[length] > 0 && code > (1 << length)) return true;
    code <<= 1;
  }
  return false;
}

namespace {

// The combined lookup holds, for each code of up to ten bits, the entries
// of every 10-bit value it begins: exactly what the 8-bit lookahead and the
// search from length 9 find, for the tables huffmanCodesOverflow accepts
// (at most 256 codes, canonical, T.81 C.2). Built code by code, a run of
// equal entries at a time, since it is built again for every scan.
constexpr void DeriveCombinedLookup(const uint8_t* bits, const uint8_t* huffval,
                                    HuffDecodeTables& t) {
  int64_t* lookup = t.lookAc;
  std::fill(lookup, lookup + (1 << kLookAcBits), int64_t{0});  // longer codes, unused space
  int32_t code = 0;
  int32_t p = 0;
  for (int32_t length = 1; length <= kLookAcBits; ++length) {
    for (int32_t i = 0; i < bits[length] && p < 256; ++i, ++p, ++code) {
      int32_t symbol = huffval[p];
      int32_t s = symbol & 15;
      uint64_t base = static_cast<uint64_t>(length) << kLookAcLengthShift |
                      static_cast<uint64_t>(symbol) << kLookAcSymbolShift |
                      static_cast<uint64_t>(AcAdvance(symbol)) << kLookAcAdvanceShift |
                      static_cast<uint64_t>(CounterStepOffset(s, length)) << kLookAcStepShift;
      int64_t* first = lookup + (code << (kLookAcBits - length));
      int32_t span = 1 << (kLookAcBits - length);
      if (s == 0 || length + s > kLookAcBits) {
        // No magnitude bits, or not all of them within the ten.
        uint64_t entry = base | static_cast<uint64_t>(length) |
                         (s == 0 ? static_cast<uint64_t>(kLookAcValueKnown) : 0);
        std::fill(first, first + span, static_cast<int64_t>(entry));
        continue;
      }
      // Each of the 2^s magnitudes r after the code, for as many values as
      // the bits after it leave.
      int32_t repeat = span >> s;
      for (int32_t r = 0; r < (1 << s); ++r) {
        auto value = static_cast<uint16_t>(extendValue(r, s));
        uint64_t entry = base | static_cast<uint64_t>(kLookAcFits | kLookAcValueKnown) |
                         static_cast<uint64_t>(value) << kLookAcValueShift |
                         static_cast<uint64_t>(length + s);
        std::fill(first + r * repeat, first + (r + 1) * repeat, static_cast<int64_t>(entry));
      }
    }
    code <<= 1;
  }
  for (int32_t v = 0; v < (1 << kLookAcBits); ++v) {
    const uint64_t entry = static_cast<uint64_t>(lookup[v]);
    if ((entry & kLookAcTakenMask) == 0) {
      t.lookSkip[v] = 0;
      continue;
    }
    const auto symbol = static_cast<int32_t>(entry >> kLookAcSymbolShift) & 0xFF;
    const auto length = static_cast<uint32_t>(entry >> kLookAcLengthShift) & 15;
    t.lookSkip[v] = (length + static_cast<uint32_t>(symbol & 15)) |
                    static_cast<uint32_t>(AcAdvance(symbol) + 1) << kLookSkipAdvanceShift |
                    static_cast<uint32_t>(entry >> kLookAcStepShift) << kLookSkipStepShift;
  }
}

constexpr void DeriveDecodingTables(const uint8_t* bits, const uint8_t* huffval,
                                    HuffDecodeTables& t) {
  // T.81 C.2: canonical codes, in order of length, then of symbol index.
  uint16_t codes[256] = {};
  int32_t p = 0;
  int32_t code = 0;
  for (int32_t length = 1; length <= 16; ++length) {
    for (int32_t i = 0; i < bits[length] && p < 256; ++i)
      codes[p++] = static_cast<uint16_t>(code++);
    code <<= 1;
  }
  // T.81 F.2.2.3: MINCODE, MAXCODE, VALPTR.
  p = 0;
  for (int32_t length = 1; length <= 16; ++length) {
    int32_t count = bits[length];
    if (count > 0 && p + count <= 256) {
      t.valPtr[length] = p;
      t.minCode[length] = codes[p];
      p += count;
      t.maxCode[length] = codes[p - 1];
    } else {
      t.valPtr[length] = 0;
      t.minCode[length] = 0;
      t.maxCode[length] = -1;
    }
  }
  t.valPtr[0] = t.minCode[0] = t.maxCode[0] = 0;
  t.maxCode[17] = kMaxCodeSentinel;

  // Lookahead: every 8-bit value that begins with a code of 8 bits or fewer.
  std::fill(std::begin(t.lookNbits), std::end(t.lookNbits), 0);
  std::fill(std::begin(t.lookSym), std::end(t.lookSym), uint8_t{0});
  p = 0;
  for (int32_t length = 1; length <= kLookaheadBits; ++length) {
    const int32_t spread = 1 << (kLookaheadBits - length);
    for (int32_t i = 0; i < bits[length]; ++i, ++p) {
      const int32_t first = codes[p] << (kLookaheadBits - length);
      std::fill_n(t.lookNbits + first, spread, length);
      std::fill_n(t.lookSym + first, spread, huffval[p]);
    }
  }
}

// The four tables of T.81 Annex K, which most files carry, derived whole
// at compile time (decoding tables and combined lookups): a scan that uses
// one decodes with it in place, so that an open pays neither a derivation
// nor a copy (thousands of small files are thousands of opens).
constexpr HuffTable Derived(const uint8_t* bits, const uint8_t* values, int32_t count) {
  HuffTable t{};
  for (int32_t l = 0; l < 17; ++l) t.bits[l] = bits[l];
  for (int32_t i = 0; i < count; ++i) t.huffval[i] = values[i];
  t.decode = HuffDecodeTables{};
  DeriveDecodingTables(t.bits, t.huffval, t.decode);
  DeriveCombinedLookup(t.bits, t.huffval, t.decode);
  return t;
}

struct AnnexKTable {
  int32_t count;  // symbols
  HuffTable table;
};

constexpr AnnexKTable kAnnexKTables[] = {
    {12, Derived(kDcLuminanceBits, kDcLuminanceValues, 12)},
    {12, Derived(kDcChrominanceBits, kDcChrominanceValues, 12)},
    {162, Derived(kAcLuminanceBits, kAcLuminanceValues, 162)},
    {162, Derived(kAcChrominanceBits, kAcChrominanceValues, 162)}};

// The Annex K table whose counts and symbols the table holds, if any.
// Matched against the derived tables' own copies, beside the lookups they
// lead to: through AnnexKTableIndex, as the encoder matches, opening an
// 8 x 8 file ran 2 to 4% slower.
const HuffTable* AnnexKTableOf(const HuffTable& table) {
  for (const AnnexKTable& k : kAnnexKTables) {
    if (std::memcmp(table.bits + 1, k.table.bits + 1, 16) == 0 &&
        std::memcmp(table.huffval, k.table.huffval, static_cast<std::size_t>(k.count)) == 0) {
      return &k.table;
    }
  }
  return nullptr;
}

}  // namespace

void buildCombinedLookup(HuffTable& table) {
  if (const HuffTable* known = AnnexKTableOf(table)) {
    std::memcpy(table.decode.lookAc, known->decode.lookAc, sizeof known->decode.lookAc);
    std::memcpy(table.decode.lookSkip, known->decode.lookSkip, sizeof known->decode.lookSkip);
    return;
  }
  DeriveCombinedLookup(table.bits, table.huffval, table.decode);
}

void buildDecodingTable(HuffTable& table) {
  if (const HuffTable* known = AnnexKTableOf(table)) {
    std::memcpy(&table.decode, &known->decode, offsetof(HuffDecodeTables, lookAc));
    return;
  }
  DeriveDecodingTables(table.bits, table.huffval, table.decode);
}

const HuffTable* decodingTable(HuffTable& table, bool combined) {
  if (const HuffTable* known = AnnexKTableOf(table)) return known;
  DeriveDecodingTables(table.bits, table.huffval, table.decode);
  if (combined) DeriveCombinedLookup(table.bits, table.huffval, table.decode);
  return &table;
}

int32_t selectHuffmanDecoder(DecoderState& dec) {
  if (dec.arithCode != 0) return 0;
  dec.methods->startEntropyScan = startHuffmanPass;
  // The word-at-a-time reader is portable C++, chosen in every build; tests
  // may force its scalar twin.
  const bool scalar = platform::ScalarKernelsForced();
  dec.methods->decodeMcu = scalar ? decodeHuffmanMcu : decodeHuffmanMcuFast;
  dec.methods->decodeMcus = scalar ? nullptr : decodeHuffmanMcusFast;
  dec.methods->finishEntropyScan = NoFinish;
  return 0;
}

// Below this many blocks a scan goes through the byte-wise reader: the
// fast reader's combined lookups (1024 entries per AC table) would cost
// more to build than they save on so few blocks. Both readers give the same
// coefficients and codes, line for line.
constexpr int64_t kFastReaderMinBlocks = 16;

int32_t startHuffmanPass(ByteStream&, BitReader& bits, DecoderState& dec) {
  bits = BitReader{};
  const int64_t blocks = int64_t{dec.mcusPerRow} * dec.mcuRowsInScan * dec.blocksInMcu;
  const bool fast = !platform::ScalarKernelsForced() && blocks >= kFastReaderMinBlocks;
  dec.methods->decodeMcu = fast ? decodeHuffmanMcuFast : decodeHuffmanMcu;
  dec.methods->decodeMcus = fast ? decodeHuffmanMcusFast : nullptr;
  // The tables each scan component decodes with, derived once per table
  // of the scan (the fast decoder's combined lookups too).
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    const ComponentInfo& comp = *dec.scanComponents[i];
    HuffTable* dc = dec.dcHuffTables[comp.dcTableNo];
    HuffTable* ac = dec.acHuffTables[comp.acTableNo];
    if (dc == nullptr || ac == nullptr) return kErrInvalid;
    dec.dcDecoding[i] = nullptr;
    dec.acDecoding[i] = nullptr;
    for (int32_t j = 0; j < i; ++j) {
      if (dec.dcHuffTables[dec.scanComponents[j]->dcTableNo] == dc) {
        dec.dcDecoding[i] = dec.dcDecoding[j];
      }
      if (dec.acHuffTables[dec.scanComponents[j]->acTableNo] == ac) {
        dec.acDecoding[i] = dec.acDecoding[j];
      }
    }
    if (dec.dcDecoding[i] == nullptr) dec.dcDecoding[i] = decodingTable(*dc, fast);
    if (dec.acDecoding[i] == nullptr) dec.acDecoding[i] = decodingTable(*ac, fast);
    dec.lastDcVal[i] = 0;
  }
  dec.mcuPlan.made = 0;
  dec.restartsToGo = dec.restartInterval;
  dec.nextRestartNum = 0;
  dec.restartsAbandoned = 0;
  dec.skipMcus = 0;
  dec.intervalDamaged = 0;
  startConcealment(dec);
  return 0;
}

int32_t decodeHuffmanMcu(ByteStream& stream, BitReader& bits, DecoderState& dec,
                         CoefBlock** blocks) {
  if (restartSkipsMcu(stream, bits, dec)) {
    concealSkippedMcu(dec, blocks);
    return 0;
  }
  for (int32_t b = 0; b < dec.blocksInMcu; ++b) {
    int32_t ci = dec.mcuMembership[b];
    const ComponentInfo& comp = *dec.scanComponents[ci];
    const uint16_t* q = dec.quantTables[comp.quantTableNo]->quantval;
    const HuffTable& dcTable = *dec.dcDecoding[ci];
    const HuffTable& acTable = *dec.acDecoding[ci];
    int16_t* block = *blocks[b];
    const uint64_t unused = dec.unusedCoefficients[ci];

    // DC: the difference from the component's prediction (T.81 F.2.2.1).
    // A category above 15 only comes from corrupt data: a zero difference.
    int32_t s = decodeSymbol(stream, bits, dcTable);
    int32_t diff = 0;
    if (s > 0 && s <= 15) diff = extendValue(getBits(stream, bits, s), s);
    dec.lastDcVal[ci] = static_cast<int16_t>(dec.lastDcVal[ci] + diff);
    block[0] = static_cast<int16_t>(dec.lastDcVal[ci] * static_cast<int32_t>(q[0]));

    // AC (T.81 F.2.2.2): run/size symbols, ZRL and EOB.
    for (int32_t k = 1; k < 64;) {
      int32_t rs = decodeSymbol(stream, bits, acTable);
      int32_t r = rs >> 4;
      s = rs & 15;
      if (s > 0) {
        k += r;
        int32_t v = extendValue(getBits(stream, bits, s), s);
        if (k > 63) break;  // corrupt run past the block: nothing stored
        if ((unused >> k & 1) == 0) {
          block[zigzagToNatural[k]] = static_cast<int16_t>(v * static_cast<int32_t>(q[k]));
        }
        ++k;
      } else if (r == 15) {
        k += 16;
      } else {
        break;
      }
    }
  }
  checkMcuOverrun(stream, bits, dec, blocks);
  return 0;
}

}  // namespace iffjpeg
