// The word-at-a-time Huffman decoder against the byte-wise one: after every
// MCU the coefficients, the bytes taken, the reads made, the codes recorded
// and the bit reader left in the handle must agree, on random streams with
// random tables, stuffing, markers at every offset, restarts and reads of
// every small size; and whole files cut at many points decode line for line
// and code for code alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "entropy/huffman_decoder.h"
#include "platform/cpu_features.h"
#include "support/decode_helpers.h"
#include "support/decoder_fixture.h"
#include "support/images.h"
#include "support/jpeg_builder.h"

namespace iffjpeg_test {
namespace {

using namespace iffjpeg;

// Either one-MCU decoder: the scalar twin or the word-at-a-time reader.
using DecodeMcuFn = decltype(&decodeHuffmanMcu);

// A code-length count list that always fits the prefix space, sometimes
// complete, sometimes not, with codes from 1 to 16 bits.
HuffTable RandomTable(std::mt19937& rng, bool ac) {
  std::vector<int> counts(16, 0);
  int total = 0;
  int64_t room = 2;  // codes still free at the current length
  int maxTotal = ac ? 162 : 12;
  for (int l = 0; l < 16 && total < maxTotal; ++l) {
    int64_t limit = std::min<int64_t>(room, maxTotal - total);
    int n = limit <= 0 ? 0 : static_cast<int>(rng() % (limit + 1));
    if (l < 2 && n == limit && limit > 1) --n;  // leave long codes possible
    counts[l] = n;
    total += n;
    room = (room - n) * 2;
  }
  std::vector<int> symbols;
  for (int i = 0; i < total; ++i) {
    symbols.push_back(ac ? static_cast<int>(rng() & 0xFF) : static_cast<int>(rng() % 17));
  }
  return MakeHuffTable(counts, symbols);
}

// Random entropy-coded bytes: mostly data, with stuffed 0xFF bytes, and
// markers where asked.
std::vector<uint8_t> RandomSegment(std::mt19937& rng, size_t size, int ffPercent) {
  std::vector<uint8_t> out;
  while (out.size() < size) {
    if (static_cast<int>(rng() % 100) < ffPercent) {
      out.push_back(0xFF);
      out.push_back(0x00);
    } else {
      uint8_t b = static_cast<uint8_t>(rng());
      out.push_back(b == 0xFF ? 0xFE : b);
    }
  }
  return out;
}

// One scan of three components with 4 + 1 + 1 blocks per MCU (or one
// component with one block), decoded by one of the two decoders.
class Scan {
 public:
  Scan(const std::vector<uint8_t>& bytes, const HuffTable tables[4], bool colour,
       uint16_t restartInterval, int32_t readChunk)
      : stream_(bytes) {
    stream_.file().maxReadChunk = readChunk;
    for (int i = 0; i < 4; ++i) tables_[i] = tables[i];
    DecoderState& dec = stream_.dec();
    std::memset(comps_, 0, sizeof comps_);
    for (int q = 0; q < 2; ++q) {
      for (int k = 0; k < 64; ++k)
        quant_[q].quantval[k] = static_cast<uint16_t>(1 + (k * 7 + q) % 13);
      dec.quantTables[q] = &quant_[q];
    }
    dec.dcHuffTables[0] = &tables_[0];
    dec.acHuffTables[0] = &tables_[1];
    dec.dcHuffTables[1] = &tables_[2];
    dec.acHuffTables[1] = &tables_[3];
    dec.scanComponentCount = colour ? 3 : 1;
    for (int c = 0; c < dec.scanComponentCount; ++c) {
      int16_t t = c == 0 ? 0 : 1;
      comps_[c].quantTableNo = comps_[c].dcTableNo = comps_[c].acTableNo = t;
      dec.scanComponents[c] = &comps_[c];
    }
    const int16_t membership[6] = {0, 0, 0, 0, 1, 2};
    dec.blocksInMcu = colour ? 6 : 1;
    for (int b = 0; b < dec.blocksInMcu; ++b) dec.mcuMembership[b] = membership[b];
    dec.restartInterval = restartInterval;
    dec.mcuRowsInScan = 1 << 20;  // the data ends early whenever it ends
    dec.mcusPerRow = 1;
    EXPECT_EQ(0, startHuffmanPass(stream_.handle().stream, stream_.handle().bitReader, dec));
  }

  // Coefficients the decoders need not store (scaled decoding), the same
  // for every component.
  void Drop(uint64_t unused) {
    for (uint64_t& u : stream_.dec().unusedCoefficients) u = unused;
  }

  // Decodes MCU number m; returns its coefficients.
  std::vector<int16_t> Mcu(int32_t m, DecodeMcuFn decode) {
    stream_.handle().decomp.mcuRowIndex = m;  // FillBuffer's end-of-data rule sees it
    std::vector<int16_t> coefficients(6 * 64, 0);
    CoefBlock* list[6];
    for (int b = 0; b < 6; ++b) list[b] = reinterpret_cast<CoefBlock*>(&coefficients[64 * b]);
    decode(stream_.handle().stream, stream_.handle().bitReader, stream_.dec(), list);
    return coefficients;
  }

  // Decodes MCUs m .. m + count - 1 in one call of the batch decoder.
  std::vector<int16_t> Batch(int32_t m, int32_t count) {
    stream_.handle().decomp.mcuRowIndex = m;
    int32_t blocks = stream_.dec().blocksInMcu;
    std::vector<int16_t> coefficients(static_cast<size_t>(count * blocks * 64), 0);
    std::vector<CoefBlock*> list;
    for (int32_t b = 0; b < count * blocks; ++b)
      list.push_back(reinterpret_cast<CoefBlock*>(&coefficients[64 * b]));
    decodeHuffmanMcusFast(stream_.handle().stream, stream_.handle().bitReader, stream_.dec(),
                          list.data(), count);
    return coefficients;
  }

  // Everything observable after an MCU, as text for a readable failure.
  std::string State() {
    const IFFHandle& h = stream_.handle();
    const BitReader& br = h.bitReader;
    const DecoderState& dec = stream_.dec();
    // Bits above bitsLeft, and held bits beyond heldCount, are never read:
    // the byte-wise reader leaves stale ones there.
    uint32_t valid = br.bitsLeft >= 32 ? ~0u : (1u << br.bitsLeft) - 1;
    int32_t held = br.heldBits & ((1 << br.heldCount) - 1);
    std::string s =
        "cursor " + std::to_string(h.stream.cursor - h.stream.bufferStart) + " count " +
        std::to_string(h.stream.byteCount) + " file " + std::to_string(stream_.file().position) +
        " reads " + std::to_string(stream_.file().readCalls) + " bits " +
        std::to_string(br.bitBuffer & valid) + "/" + std::to_string(br.bitsLeft) + " held " +
        std::to_string(held) + "/" + std::to_string(br.heldCount) + " codes " +
        std::to_string(h.stream.lineCode) + "," + std::to_string(h.lastError) + "," +
        std::to_string(h.stream.dataEnded) + " restart " + std::to_string(dec.restartsToGo) + "," +
        std::to_string(dec.nextRestartNum) + "," + std::to_string(dec.restartsAbandoned) + " dc";
    for (int c = 0; c < 3; ++c) s += " " + std::to_string(dec.lastDcVal[c]);
    return s;
  }

 private:
  StreamHandle stream_;
  HuffTable tables_[4];
  ComponentInfo comps_[3];
  QuantTable quant_[2];
};

// Decodes mcus MCUs with both decoders side by side; false at the first
// difference (reported through gtest).
bool SameDecoding(const std::vector<uint8_t>& bytes, const HuffTable tables[4], bool colour,
                  uint16_t restartInterval, int32_t readChunk, int32_t mcus,
                  const std::string& what) {
  Scan reference(bytes, tables, colour, restartInterval, readChunk);
  Scan fast(bytes, tables, colour, restartInterval, readChunk);
  for (int32_t m = 0; m < mcus; ++m) {
    std::vector<int16_t> a = reference.Mcu(m, decodeHuffmanMcu);
    std::vector<int16_t> b = fast.Mcu(m, decodeHuffmanMcuFast);
    std::string sa = reference.State(), sb = fast.State();
    if (a != b || sa != sb) {
      ADD_FAILURE() << what << ", MCU " << m << "\n reference: " << sa << "\n fast:      " << sb
                    << (a != b ? "\n coefficients differ" : "");
      return false;
    }
  }
  return true;
}

// The batch decoder over runs of 1 to 9 MCUs against MCU-by-MCU decoding.
bool SameDecodingInBatches(const std::vector<uint8_t>& bytes, const HuffTable tables[4],
                           bool colour, uint16_t restartInterval, int32_t readChunk, int32_t mcus,
                           const std::string& what) {
  Scan reference(bytes, tables, colour, restartInterval, readChunk);
  Scan fast(bytes, tables, colour, restartInterval, readChunk);
  int32_t blocks = colour ? 6 : 1;
  for (int32_t m = 0, count = 1; m < mcus; m += count, count = count % 9 + 1) {
    std::vector<int16_t> a;
    for (int32_t i = 0; i < count; ++i) {
      // Every MCU of a batch sees the batch's first MCU row number.
      std::vector<int16_t> one = reference.Mcu(m, decodeHuffmanMcu);
      a.insert(a.end(), one.begin(), one.begin() + 64 * blocks);
    }
    std::vector<int16_t> b = fast.Batch(m, count);
    std::string sa = reference.State(), sb = fast.State();
    if (a != b || sa != sb) {
      ADD_FAILURE() << what << ", MCUs " << m << " + " << count << "\n reference: " << sa
                    << "\n batch:     " << sb << (a != b ? "\n coefficients differ" : "");
      return false;
    }
  }
  return true;
}

void LuminanceTables(HuffTable tables[4]) {
  tables[0] = tables[2] = LuminanceDcTable();
  tables[1] = tables[3] = LuminanceAcTable();
}

// One round of the random tests: the Annex K tables every third round,
// random ones otherwise; data with more or fewer stuffed bytes, sometimes
// ending at EOI; one or three components; reads of every small size.
struct RandomRound {
  HuffTable tables[4];
  std::vector<uint8_t> bytes;
  bool colour;
  int32_t chunk;
};

RandomRound MakeRound(std::mt19937& rng, int round) {
  RandomRound r;
  if (round % 3 == 0) {
    LuminanceTables(r.tables);
  } else {
    for (int i = 0; i < 4; ++i) r.tables[i] = RandomTable(rng, i % 2 == 1);
  }
  int ffPercent = std::array<int, 4>{0, 1, 5, 30}[round % 4];
  r.bytes = RandomSegment(rng, 200 + rng() % 3000, ffPercent);
  if (round % 5 == 0) r.bytes.insert(r.bytes.end(), {0xFF, 0xD9});
  r.colour = round % 2 == 0;
  r.chunk = std::array<int32_t, 5>{0x7FFFFFFF, 1, 7, 64, 1000}[round % 5];
  return r;
}

TEST(HuffmanFastPath, RandomStreamsWithRandomTables) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 300; ++round) {
    const RandomRound r = MakeRound(rng, round);
    ASSERT_TRUE(SameDecoding(r.bytes, r.tables, r.colour, 0, r.chunk, 120,
                             "round " + std::to_string(round)));
  }
}

TEST(HuffmanFastPath, BatchesDecodeLikeSingleMcus) {
  std::mt19937 rng(77);
  for (int round = 0; round < 120; ++round) {
    HuffTable tables[4];
    if (round % 3 == 0) {
      LuminanceTables(tables);
    } else {
      for (int i = 0; i < 4; ++i) tables[i] = RandomTable(rng, i % 2 == 1);
    }
    std::vector<uint8_t> bytes = RandomSegment(rng, 100 + rng() % 2000, round % 4 == 0 ? 20 : 1);
    if (round % 5 == 0) bytes.insert(bytes.end(), {0xFF, 0xD9});
    uint16_t restart = 0;
    if (round % 4 == 1) {
      // Restart markers every few entropy bytes, in sequence.
      std::vector<uint8_t> withRestarts;
      for (size_t i = 0; i < bytes.size(); ++i) {
        withRestarts.push_back(bytes[i]);
        if (i % 97 == 96 && bytes[i] != 0xFF) {
          withRestarts.insert(withRestarts.end(),
                              {0xFF, static_cast<uint8_t>(0xD0 + (i / 97) % 8)});
        }
      }
      bytes = withRestarts;
      restart = 2;
    }
    int32_t chunk = std::array<int32_t, 3>{0x7FFFFFFF, 3, 200}[round % 3];
    ASSERT_TRUE(SameDecodingInBatches(bytes, tables, round % 2 == 0, restart, chunk, 80,
                                      "round " + std::to_string(round)));
  }
}

// A marker (the end of the image, a restart marker out of place, or a
// table marker) at every offset of a stream, met anywhere in a code, a
// magnitude or a word load.
TEST(HuffmanFastPath, MarkerAtEveryOffset) {
  std::mt19937 rng(7);
  HuffTable tables[4];
  LuminanceTables(tables);
  std::vector<uint8_t> base = RandomSegment(rng, 160, 2);
  for (uint8_t code : {0xD9, 0xD3, 0xC4}) {
    for (size_t at = 0; at <= base.size(); ++at) {
      std::vector<uint8_t> bytes(base.begin(), base.begin() + static_cast<long>(at));
      bytes.insert(bytes.end(), {0xFF, code});
      bytes.insert(bytes.end(), base.begin() + static_cast<long>(at), base.end());
      for (bool colour : {false, true}) {
        ASSERT_TRUE(SameDecoding(bytes, tables, colour, 0, 0x7FFFFFFF, 40,
                                 "marker " + std::to_string(code) + " at " + std::to_string(at)));
      }
    }
  }
}

// Data ending at every length, read in chunks that end anywhere: the reads
// and the MCU that records the early end must be the same.
TEST(HuffmanFastPath, DataEndingAnywhereWithSmallReads) {
  std::mt19937 rng(99);
  HuffTable tables[4];
  LuminanceTables(tables);
  std::vector<uint8_t> base = RandomSegment(rng, 120, 3);
  for (size_t length = 0; length <= base.size(); ++length) {
    std::vector<uint8_t> bytes(base.begin(), base.begin() + static_cast<long>(length));
    for (int32_t chunk : {1, 3, 8, 9, 17, 0x7FFFFFFF}) {
      ASSERT_TRUE(
          SameDecoding(bytes, tables, length % 2 == 0, 0, chunk, 30,
                       "length " + std::to_string(length) + " chunk " + std::to_string(chunk)));
    }
  }
}

// Restart markers in and out of sequence, and a foreign marker where one is
// due, with entropy bytes left before them.
TEST(HuffmanFastPath, RestartsInAndOutOfSequence) {
  std::mt19937 rng(5);
  HuffTable tables[4];
  LuminanceTables(tables);
  for (int round = 0; round < 60; ++round) {
    std::vector<uint8_t> bytes;
    for (int n = 0; n < 12; ++n) {
      std::vector<uint8_t> part = RandomSegment(rng, 20 + rng() % 200, 2);
      bytes.insert(bytes.end(), part.begin(), part.end());
      int marker = 0xD0 + (round % 7 == 3 && n == 5 ? 6 : n % 8);
      if (round % 11 == 4 && n == 7) marker = 0xDB;
      bytes.insert(bytes.end(), {0xFF, static_cast<uint8_t>(marker)});
    }
    uint16_t interval = static_cast<uint16_t>(1 + round % 4);
    ASSERT_TRUE(SameDecoding(bytes, tables, round % 2 == 0, interval, round % 3 ? 0x7FFFFFFF : 5,
                             60, "round " + std::to_string(round)));
  }
}

// The combined lookup finds what the 8-bit lookahead and the search find.
TEST(HuffmanFastPath, CombinedLookupAgreesWithTheSearch) {
  std::mt19937 rng(11);
  constexpr int kBits = kLookAcBits;
  // AC tables, then DC tables (the fast decoder looks up both).
  for (int round = 0; round < 300; ++round) {
    HuffTable table = round == 0     ? LuminanceAcTable()
                      : round < 200  ? RandomTable(rng, true)
                      : round == 200 ? LuminanceDcTable()
                                     : RandomTable(rng, false);
    buildDecodingTable(table);
    buildCombinedLookup(table);
    const HuffDecodeTables& t = table.decode;
    for (int v = 0; v < (1 << kBits); ++v) {
      int64_t entry = t.lookAc[v];
      int length = static_cast<int>(entry >> kLookAcLengthShift) & 15;
      int n = t.lookNbits[v >> (kBits - 8)];
      int symbol = -1;
      if (n > 0) {
        ASSERT_EQ(length, n);
        symbol = t.lookSym[v >> (kBits - 8)];
      } else {
        for (int l = 9; l <= kBits && symbol < 0; ++l) {
          int code = v >> (kBits - l);
          if (code > t.maxCode[l]) continue;
          ASSERT_EQ(length, l) << v;
          int index = t.valPtr[l] + code - t.minCode[l];
          symbol = index < 0 || index > 255 ? 0 : table.huffval[index];
        }
        if (symbol < 0) {
          ASSERT_EQ(entry, 0);
          ASSERT_EQ(t.lookSkip[v], 0u);
          continue;
        }
      }
      ASSERT_EQ((entry >> kLookAcSymbolShift) & 0xFF, symbol);
      int s = symbol & 15;
      bool fits = (entry & kLookAcFits) != 0;
      if (fits) {
        ASSERT_LE(length + s, kBits);
        int r = (v >> (kBits - length - s)) & ((1 << s) - 1);
        ASSERT_EQ(static_cast<int16_t>(entry >> kLookAcValueShift), extendValue(r, s));
      } else {
        ASSERT_TRUE(s == 0 || length + s > kBits);
        ASSERT_EQ((entry >> kLookAcValueShift) & 0xFFFF, 0);
      }
      // The counter step and the bits the lookup takes.
      ASSERT_EQ(static_cast<uint64_t>(entry) >> kLookAcStepShift,
                static_cast<uint64_t>(CounterStepOffset(s, length)))
          << v;
      ASSERT_EQ(entry & kLookAcTakenMask, length + (fits ? s : 0)) << v;
      // The sequential decoder's step through the block, and whether the
      // entry holds the whole value (none is needed for size 0).
      ASSERT_EQ((entry >> kLookAcAdvanceShift) & 127, AcAdvance(symbol)) << v;
      ASSERT_EQ((entry & kLookAcValueKnown) != 0, fits || s == 0) << v;
      // The skipping lookup drops the code and the magnitude together.
      const uint32_t skip = t.lookSkip[v];
      ASSERT_EQ(skip & kLookSkipDropMask, static_cast<uint32_t>(length + s)) << v;
      ASSERT_EQ(skip >> kLookSkipAdvanceShift & 255, static_cast<uint32_t>(AcAdvance(symbol) + 1))
          << v;
      ASSERT_EQ(skip >> kLookSkipStepShift, static_cast<uint32_t>(CounterStepOffset(s, length)))
          << v;
    }
  }
}

class ScalarGuard {
 public:
  ScalarGuard() { iffjpeg::testing::ForceScalarKernels(true); }
  ~ScalarGuard() { iffjpeg::testing::ForceScalarKernels(false); }
};

// Scaled decoding: the coefficients a reduced transform does not use are
// decoded without being stored (past the last used one, their magnitude
// bits dropped with the code). The reader must still take exactly the bits
// and bytes the byte-wise reader takes, on any data: the stored
// coefficients and everything observable agree after every MCU.
TEST(HuffmanFastPath, DroppedCoefficientsLeaveTheReaderAlike) {
  auto outside = [](int size) {
    uint64_t mask = 0;
    for (int k = 0; k < 64; ++k) {
      int natural = zigzagToNatural[k];
      if (natural % 8 >= size || natural / 8 >= size) mask |= uint64_t{1} << k;
    }
    return mask;
  };
  const uint64_t masks[3] = {outside(1), outside(2), outside(4)};
  std::mt19937 rng(4242);
  for (int round = 0; round < 150; ++round) {
    const RandomRound r = MakeRound(rng, round);
    const uint64_t unused = masks[round / 3 % 3];
    Scan reference(r.bytes, r.tables, r.colour, 0, r.chunk);
    Scan fast(r.bytes, r.tables, r.colour, 0, r.chunk);
    fast.Drop(unused);
    for (int32_t m = 0; m < 120; ++m) {
      std::vector<int16_t> a = reference.Mcu(m, decodeHuffmanMcu);
      std::vector<int16_t> b = fast.Mcu(m, decodeHuffmanMcuFast);
      for (size_t i = 0; i < a.size(); ++i) {
        // (Positions are natural order; the mask is in zigzag order.)
        for (int k = 0; k < 64; ++k) {
          if ((unused >> k & 1) != 0 && static_cast<size_t>(zigzagToNatural[k]) == i % 64) a[i] = 0;
        }
      }
      std::string sa = reference.State(), sb = fast.State();
      ASSERT_TRUE(a == b && sa == sb)
          << "round " << round << ", MCU " << m << "\n reference: " << sa << "\n fast:      " << sb;
    }
  }
}

// Whole files cut at many lengths: lines and line codes agree.
TEST(HuffmanFastPath, TruncatedFilesDecodeAlike) {
  for (int channels : {1, 3}) {
    Image img = MakeTestImage(70, 53, channels, 17);
    JpegBuildOptions options = channels == 3 ? ColourOptions(2, 2) : GreyOptions();
    options.quality = 90;
    std::vector<uint8_t> jpeg = BuildJpeg(img, options);
    for (size_t cut = jpeg.size() / 4; cut < jpeg.size(); cut += 1 + cut % 29) {
      std::vector<uint8_t> part(jpeg.begin(), jpeg.begin() + static_cast<long>(cut));
      DecodeResult reference;
      {
        ScalarGuard guard;
        reference = DecodeWithLibrary(part);
      }
      DecodeResult fast = DecodeWithLibrary(part);
      ASSERT_EQ(reference.openResult > 0, fast.openResult > 0) << cut;
      ASSERT_EQ(reference.lineCodes, fast.lineCodes) << channels << " channels, cut " << cut;
      ASSERT_EQ(reference.image.pixels, fast.image.pixels) << channels << " channels, cut " << cut;
    }
  }
}

// Extended reading's resynchronisation: a restart marker removed, intervals
// cut out or cut short at every restart point: both decoders pass over the
// same MCUs and report the same lines.
TEST(HuffmanFastPath, ResynchronisedRestartsDecodeAlike) {
  for (int channels : {1, 3}) {
    Image img = MakeTestImage(70, 53, channels, 23);
    JpegBuildOptions options = channels == 3 ? ColourOptions(2, 2) : GreyOptions();
    options.restartInterval = 2;
    std::vector<uint8_t> jpeg = BuildJpeg(img, options);
    std::vector<size_t> rst;
    for (const JpegSegment& seg : ListSegments(jpeg)) {
      if (seg.marker >= 0xD0 && seg.marker <= 0xD7) rst.push_back(seg.offset);
    }
    ASSERT_GT(rst.size(), 4u);
    for (size_t k = 0; k + 2 < rst.size(); ++k) {
      const size_t cuts[3][2] = {
          {rst[k], rst[k] + 2}, {rst[k] + 2, rst[k + 2]}, {(rst[k] + rst[k + 1]) / 2, rst[k + 1]}};
      for (int c = 0; c < 3; ++c) {
        const auto& cut = cuts[c];
        std::vector<uint8_t> part = jpeg;
        part.erase(part.begin() + static_cast<long>(cut[0]),
                   part.begin() + static_cast<long>(cut[1]));
        DecodeResult reference;
        {
          ScalarGuard guard;
          reference = DecodeWithLibrary(part, IFF_MODE_EXTENDED);
        }
        DecodeResult fast = DecodeWithLibrary(part, IFF_MODE_EXTENDED);
        ASSERT_GT(fast.openResult, 0);
        ASSERT_EQ(reference.lineCodes, fast.lineCodes) << channels << " channels, cut " << cut[0];
        ASSERT_EQ(reference.image.pixels, fast.image.pixels)
            << channels << " channels, cut " << cut[0];
        // A lost number is always noticed; data cut short may happen to
        // decode without running into the marker.
        if (c < 2) {
          ASSERT_GT(std::count(fast.lineCodes.begin(), fast.lineCodes.end(), 10), 0);
        }
      }
    }
  }
}

}  // namespace
}  // namespace iffjpeg_test
