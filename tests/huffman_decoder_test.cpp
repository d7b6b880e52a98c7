// The Huffman decoder: code tables and lookahead, EXTEND, byte stuffing,
// zero bits at a marker, runs, restart markers and corrupt data.
#include "entropy/huffman_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "entropy/annex_k_tables.h"
#include "stream/byte_stream.h"
#include "support/decoder_fixture.h"

namespace {

using namespace iffjpeg;
using iffjpeg_test::LuminanceAcTable;
using iffjpeg_test::LuminanceDcTable;
using iffjpeg_test::PackBits;
using iffjpeg_test::StreamHandle;

// One component, one block per MCU, Annex K luminance tables, and the
// quantizer q[k] = k + 1 so that every position shows its zigzag index.
// The canonical code of symbol in table, as '0'/'1' characters.
std::string CodeOf(const HuffTable& table, int symbol) {
  int code = 0, p = 0;
  for (int length = 1; length <= 16; ++length, code <<= 1) {
    for (int i = 0; i < table.bits[length]; ++i, ++p, ++code) {
      if (table.huffval[p] != symbol) continue;
      std::string out;
      for (int b = length - 1; b >= 0; --b) out += ((code >> b) & 1) ? '1' : '0';
      return out;
    }
  }
  return "";
}

class OneComponentScan {
 public:
  explicit OneComponentScan(std::vector<uint8_t> bytes, uint16_t restartInterval = 0)
      : stream(std::move(bytes)), dcTable(LuminanceDcTable()), acTable(LuminanceAcTable()) {
    std::memset(&component, 0, sizeof component);
    for (int k = 0; k < 64; ++k) quant.quantval[k] = static_cast<uint16_t>(k + 1);
    DecoderState& dec = stream.dec();
    dec.scanComponentCount = 1;
    dec.scanComponents[0] = &component;
    dec.dcHuffTables[0] = &dcTable;
    dec.acHuffTables[0] = &acTable;
    dec.quantTables[0] = &quant;
    dec.blocksInMcu = 1;
    dec.mcuMembership[0] = 0;
    dec.restartInterval = restartInterval;
    EXPECT_EQ(startHuffmanPass(stream.handle().stream, stream.handle().bitReader, dec), 0);
  }

  // Decodes one MCU into a cleared block, returned in natural order.
  std::vector<int> Mcu() {
    CoefBlock block;
    std::memset(block, 0, sizeof block);
    CoefBlock* list[1] = {&block};
    decodeHuffmanMcu(stream.handle().stream, stream.handle().bitReader, stream.dec(), list);
    return std::vector<int>(block, block + 64);
  }

  StreamHandle stream;
  ComponentInfo component;
  HuffTable dcTable, acTable;
  QuantTable quant;
};

TEST(HuffmanDecoder, LuminanceDcCodeTable) {
  HuffTable table = LuminanceDcTable();
  buildDecodingTable(table);
  const HuffDecodeTables& t = table.decode;
  EXPECT_EQ(t.maxCode[1], -1);
  EXPECT_EQ(t.minCode[2], 0b00);
  EXPECT_EQ(t.maxCode[2], 0b00);
  EXPECT_EQ(t.minCode[3], 0b010);
  EXPECT_EQ(t.maxCode[3], 0b110);
  EXPECT_EQ(t.valPtr[3], 1);
  EXPECT_EQ(t.maxCode[4], 0b1110);
  EXPECT_EQ(t.maxCode[9], 0b111111110);
  EXPECT_EQ(t.valPtr[9], 11);
  EXPECT_EQ(t.maxCode[10], -1);
  EXPECT_EQ(t.maxCode[17], 0xFFFFF);
  for (int look = 0x00; look <= 0x3F; ++look) {
    EXPECT_EQ(t.lookNbits[look], 2);
    EXPECT_EQ(t.lookSym[look], 0);
  }
  EXPECT_EQ(t.lookNbits[0x40], 3);
  EXPECT_EQ(t.lookSym[0x40], 1);
  EXPECT_EQ(t.lookSym[0xDF], 5);
  EXPECT_EQ(t.lookNbits[0xE0], 4);
  EXPECT_EQ(t.lookSym[0xE0], 6);
  EXPECT_EQ(t.lookNbits[0xFE], 8);
  EXPECT_EQ(t.lookSym[0xFE], 10);
  EXPECT_EQ(t.lookNbits[0xFF], 0);
}

// The four Annex K tables are copied from their compile-time derivation.
// Each with one more code of 16 bits goes through the derivation at run
// time, whose tables must agree with the copy for every shorter code.
TEST(HuffmanDecoder, AnnexKTablesMatchTheirDerivation) {
  struct Case {
    const uint8_t* bits;
    const uint8_t* values;
    int count;
  } cases[] = {{kDcLuminanceBits, kDcLuminanceValues, 12},
               {kDcChrominanceBits, kDcChrominanceValues, 12},
               {kAcLuminanceBits, kAcLuminanceValues, 162},
               {kAcChrominanceBits, kAcChrominanceValues, 162}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    HuffTable copied = iffjpeg_test::MakeHuffTable(std::vector<int>(c.bits + 1, c.bits + 17),
                                                   std::vector<int>(c.values, c.values + c.count));
    HuffTable derived = copied;
    derived.bits[16] = static_cast<uint8_t>(derived.bits[16] + 1);
    derived.huffval[c.count] = 0x0F;
    ASSERT_FALSE(huffmanCodesOverflow(derived.bits));
    for (HuffTable* table : {&copied, &derived}) {
      buildDecodingTable(*table);
      buildCombinedLookup(*table);
    }
    const HuffDecodeTables& a = copied.decode;
    const HuffDecodeTables& b = derived.decode;
    for (int length = 1; length < 16; ++length) {
      EXPECT_EQ(a.minCode[length], b.minCode[length]) << length;
      EXPECT_EQ(a.maxCode[length], b.maxCode[length]) << length;
      EXPECT_EQ(a.valPtr[length], b.valPtr[length]) << length;
    }
    EXPECT_EQ(a.maxCode[17], b.maxCode[17]);
    EXPECT_EQ(std::memcmp(a.lookNbits, b.lookNbits, sizeof a.lookNbits), 0);
    EXPECT_EQ(std::memcmp(a.lookSym, b.lookSym, sizeof a.lookSym), 0);
    EXPECT_EQ(std::memcmp(a.lookAc, b.lookAc, sizeof a.lookAc), 0);
    EXPECT_EQ(std::memcmp(a.lookSkip, b.lookSkip, sizeof a.lookSkip), 0);
    EXPECT_NE(a.maxCode[16], b.maxCode[16]);  // the extra code was derived
  }
}

TEST(HuffmanDecoder, SymbolsThroughLookaheadAndSlowSearch) {
  // 00 (0), 110 (5), 11111110 (10), 111111110 (11, nine bits: slow search),
  // then 010 (1).
  StreamHandle s(PackBits("00 110 11111110 111111110 010"));
  HuffTable table = LuminanceDcTable();
  buildDecodingTable(table);
  EXPECT_EQ(decodeSymbol(s.handle().stream, s.handle().bitReader, table), 0);
  EXPECT_EQ(decodeSymbol(s.handle().stream, s.handle().bitReader, table), 5);
  EXPECT_EQ(decodeSymbol(s.handle().stream, s.handle().bitReader, table), 10);
  EXPECT_EQ(decodeSymbol(s.handle().stream, s.handle().bitReader, table), 11);
  EXPECT_EQ(decodeSymbol(s.handle().stream, s.handle().bitReader, table), 1);
}

TEST(HuffmanDecoder, ExtendGivesSignedMagnitudes) {
  EXPECT_EQ(extendValue(0b010, 3), -5);
  EXPECT_EQ(extendValue(0b101, 3), 5);
  EXPECT_EQ(extendValue(0, 1), -1);
  EXPECT_EQ(extendValue(1, 1), 1);
  EXPECT_EQ(extendValue(0, 15), -32767);
  EXPECT_EQ(extendValue(0x7FFF, 15), 32767);
  EXPECT_EQ(extendValue(0b01111111111, 11), -1024);
}

TEST(HuffmanDecoder, CodeOverflowIsDetected) {
  auto overflows = [](std::vector<int> counts) {
    uint8_t bits[17] = {};
    for (std::size_t i = 0; i < counts.size(); ++i) bits[i + 1] = static_cast<uint8_t>(counts[i]);
    return huffmanCodesOverflow(bits);
  };
  EXPECT_FALSE(overflows({0, 1, 5, 1, 1, 1, 1, 1, 1}));
  EXPECT_FALSE(overflows({2}));                             // 0 and 1: every 1-bit code
  EXPECT_FALSE(overflows({0, 4}));                          // 00..11
  EXPECT_TRUE(overflows({3}));                              // a third 1-bit code cannot exist
  EXPECT_TRUE(overflows({1, 3}));                           // 0, then 10, 11 and a fourth
  EXPECT_TRUE(overflows({0, 0, 0, 0, 0, 0, 0, 255, 255}));  // 765 > 2^9
  EXPECT_FALSE(overflows({0, 0, 0, 0, 0, 0, 0, 0, 255, 255}));
}

TEST(HuffmanDecoder, StuffedByteIsData) {
  StreamHandle s({0xFF, 0x00, 0x5A, 0xFF, 0x00});
  EXPECT_EQ(getBits(s.handle().stream, s.handle().bitReader, 8), 0xFF);
  EXPECT_EQ(getBits(s.handle().stream, s.handle().bitReader, 8), 0x5A);
  EXPECT_EQ(getBits(s.handle().stream, s.handle().bitReader, 8), 0xFF);
}

// Ten bits in the buffer and seven held aside: an eleven-bit magnitude
// spans the buffer, the held bits and a new byte.
TEST(HuffmanDecoder, HeldBitsJoinTheMagnitude) {
  HuffTable table = LuminanceDcTable();
  buildDecodingTable(table);
  for (int magnitude : {0b10110011101, 0b00110011101}) {
    std::string bits;
    for (int i = 10; i >= 0; --i) bits += ((magnitude >> i) & 1) ? '1' : '0';
    StreamHandle s(PackBits(bits.substr(8).c_str()));  // the last three bits
    BitReader& br = s.handle().bitReader;
    br.bitBuffer = (0b111111110u << 1) | static_cast<uint32_t>(bits[0] - '0');
    br.bitsLeft = 10;
    br.heldBits = (magnitude >> 3) & 0x7F;
    br.heldCount = 7;
    ASSERT_EQ(decodeSymbol(s.handle().stream, s.handle().bitReader, table), 11);
    int32_t r = getBits(s.handle().stream, s.handle().bitReader, 11);
    EXPECT_EQ(r, magnitude);
    EXPECT_EQ(extendValue(r, 11), magnitude >= 1024 ? magnitude : magnitude - 2047);
  }
}

// T.81 F.2.2.5: at a marker the decoder supplies zero bits and leaves the
// marker in the stream. With these tables zero bits are a DC difference of
// 0 and AC symbols "run 0, size 1" with magnitude -1.
TEST(HuffmanDecoder, ZeroBitsAtMarker) {
  // DC 00 (no difference); AC 00 1 (+1 at k = 1); AC 00 0 (-1 at k = 2).
  OneComponentScan scan({0b00001000, 0xFF, 0xD9});
  std::vector<int> block = scan.Mcu();
  EXPECT_EQ(block[0], 0);
  EXPECT_EQ(block[zigzagToNatural[1]], 2);
  for (int k = 2; k < 64; ++k) EXPECT_EQ(block[zigzagToNatural[k]], -(k + 1)) << k;
  block = scan.Mcu();
  EXPECT_EQ(block[0], 0);
  for (int k = 1; k < 64; ++k) EXPECT_EQ(block[zigzagToNatural[k]], -(k + 1)) << k;
  EXPECT_EQ(scan.stream.handle().stream.lineCode, 0);
  ASSERT_EQ(scan.stream.BytesLeft(), 2u);
  EXPECT_EQ(ReadByte(scan.stream.handle().stream), 0xFF);
  EXPECT_EQ(ReadByte(scan.stream.handle().stream), 0xD9);
}

TEST(HuffmanDecoder, ZeroRunLengthThenEndOfBlock) {
  // DC 100 + 101 (category 3: +5); AC 00 1; ZRL; 00 1 (at k = 18); EOB.
  ASSERT_EQ(CodeOf(LuminanceAcTable(), 0xF0), "11111111001");
  OneComponentScan scan(PackBits("100 101  00 1  11111111001  00 1  1010"));
  std::vector<int> block = scan.Mcu();
  EXPECT_EQ(block[0], 5);
  for (int k = 1; k < 64; ++k) {
    int expected = (k == 1 || k == 18) ? k + 1 : 0;
    EXPECT_EQ(block[zigzagToNatural[k]], expected) << k;
  }
}

TEST(HuffmanDecoder, DcPredictionAccumulates) {
  // +1, +1, -1 (categories 1 with bits 1, 1, 0), each block ended by EOB.
  OneComponentScan scan(PackBits("010 1 1010  010 1 1010  010 0 1010"));
  EXPECT_EQ(scan.Mcu()[0], 1);
  EXPECT_EQ(scan.Mcu()[0], 2);
  EXPECT_EQ(scan.Mcu()[0], 1);
}

// A run that carries the position past 63 consumes its magnitude, stores
// nothing and ends the block; the next block decodes normally.
TEST(HuffmanDecoder, RunPastBlockEndStoresNothing) {
  // AC 0xF1 (run 15, size 1) stores at k = 16, 32, 48; the fourth would
  // land at 64.
  std::string bits = "00";
  for (int i = 0; i < 4; ++i) bits += " " + CodeOf(LuminanceAcTable(), 0xF1) + " 1";
  bits += " 010 1 1010";  // next block: DC +1, EOB
  OneComponentScan scan(PackBits(bits.c_str()));
  std::vector<int> block = scan.Mcu();
  for (int k = 1; k < 64; ++k) {
    int expected = (k == 16 || k == 32 || k == 48) ? k + 1 : 0;
    EXPECT_EQ(block[zigzagToNatural[k]], expected) << k;
  }
  block = scan.Mcu();
  EXPECT_EQ(block[0], 1);
  for (int k = 1; k < 64; ++k) EXPECT_EQ(block[zigzagToNatural[k]], 0);
}

// A DC category above 15 comes only from a corrupt table: it is a zero
// difference and takes no magnitude bits.
TEST(HuffmanDecoder, DcCategoryAbove15IsZeroDifference) {
  OneComponentScan scan(PackBits("0 1010  010 1 1010"));
  HuffTable corrupt = iffjpeg_test::MakeHuffTable({1, 1}, {16, 0});  // 0: 16, 10: 0
  // The table the scan decodes with, swapped in place of the Annex K one.
  scan.stream.dec().dcDecoding[0] = decodingTable(corrupt, false);
  scan.stream.dec().lastDcVal[0] = 7;
  std::vector<int> block = scan.Mcu();
  EXPECT_EQ(block[0], 7);
  scan.stream.dec().dcDecoding[0] = decodingTable(scan.dcTable, false);
  EXPECT_EQ(scan.Mcu()[0], 8);
}

// Every interval: DC +1 then DC 0, both blocks ended by EOB; 14 bits,
// padded with ones to two bytes.
std::vector<uint8_t> Interval() { return PackBits("010 1 1010  00 1010"); }

std::vector<uint8_t> RestartStream(const std::vector<int>& markers) {
  std::vector<uint8_t> out;
  for (int marker : markers) {
    std::vector<uint8_t> bytes = Interval();
    out.insert(out.end(), bytes.begin(), bytes.end());
    if (marker >= 0) {
      out.push_back(0xFF);
      out.push_back(static_cast<uint8_t>(marker));
    }
  }
  return out;
}

TEST(HuffmanDecoder, RestartMarkersInSequence) {
  // Interval 2: RST0..RST7, RST0 after MCUs 2, 4, ..., 18.
  std::vector<int> markers;
  for (int i = 0; i < 9; ++i) markers.push_back(0xD0 + (i & 7));
  markers.push_back(-1);
  OneComponentScan scan(RestartStream(markers), 2);
  for (int mcu = 0; mcu < 20; ++mcu) {
    // The prediction restarts at every interval: +1 then 1 + 0.
    EXPECT_EQ(scan.Mcu()[0], 1) << mcu;
  }
  EXPECT_EQ(scan.stream.handle().stream.lineCode, 0);
  EXPECT_EQ(scan.stream.dec().nextRestartNum, 1);
}

TEST(HuffmanDecoder, WrongRestartNumberIsAcceptedAndReported) {
  // RST0, then RST3 where RST1 is due, then RST4 (expected after RST3).
  OneComponentScan scan(RestartStream({0xD0, 0xD3, 0xD4, -1}), 2);
  for (int mcu = 0; mcu < 4; ++mcu) EXPECT_EQ(scan.Mcu()[0], 1) << mcu;
  EXPECT_EQ(scan.stream.handle().stream.lineCode, 0);
  EXPECT_EQ(scan.Mcu()[0], 1);  // after RST3: still a restart point
  EXPECT_EQ(scan.stream.handle().stream.lineCode, 10);
  EXPECT_EQ(scan.stream.handle().lastError, 10);
  scan.stream.handle().stream.lineCode = 0;
  for (int mcu = 5; mcu < 8; ++mcu) EXPECT_EQ(scan.Mcu()[0], 1) << mcu;
  EXPECT_EQ(scan.stream.handle().stream.lineCode, 0);
  EXPECT_EQ(scan.stream.dec().nextRestartNum, 5);
}

TEST(HuffmanDecoder, OtherMarkerAtRestartPointDecodesZeroBits) {
  // RST0, then an APP1 marker where RST1 is due.
  OneComponentScan scan(RestartStream({0xD0, 0xE1, -1}), 2);
  for (int mcu = 0; mcu < 4; ++mcu) EXPECT_EQ(scan.Mcu()[0], 1) << mcu;
  EXPECT_EQ(scan.stream.handle().stream.lineCode, 0);
  // At the restart point: the marker stays, predictions are kept, and the
  // rest decodes from zero bits (DC difference 0, AC all -1).
  std::vector<int> block = scan.Mcu();
  EXPECT_EQ(scan.stream.handle().stream.lineCode, 10);
  EXPECT_EQ(block[0], 1);
  EXPECT_EQ(block[zigzagToNatural[63]], -64);
  scan.stream.handle().stream.lineCode = 0;
  for (int mcu = 0; mcu < 40; ++mcu) scan.Mcu();  // no restart is due any more
  EXPECT_EQ(scan.stream.handle().stream.lineCode, 0);
  EXPECT_EQ(ReadByte(scan.stream.handle().stream), 0xFF);
  EXPECT_EQ(ReadByte(scan.stream.handle().stream), 0xE1);
}

// A scan whose table is one of Annex K decodes with the copy derived at
// compile time (nothing derived or copied at the open); any other table is
// derived in place. Both decode the same symbols (the scan tests above).
TEST(HuffmanDecoder, AnnexKTablesDecodeInPlaceOthersAreDerived) {
  OneComponentScan scan({});
  const DecoderState& dec = scan.stream.dec();
  EXPECT_NE(dec.dcDecoding[0], &scan.dcTable);
  EXPECT_NE(dec.acDecoding[0], &scan.acTable);
  EXPECT_EQ(dec.dcDecoding[0]->decode.lookNbits[0], 2);  // code 00 of the luminance DC table
  HuffTable other = iffjpeg_test::MakeHuffTable({1, 1}, {16, 0});
  EXPECT_EQ(decodingTable(other, true), &other);
  EXPECT_EQ(other.decode.lookNbits[0x80], 2);  // code 10
  // The same counts as the luminance DC table with two symbols exchanged:
  // its own table, code 00 decoding to 1.
  HuffTable swapped = scan.dcTable;
  std::swap(swapped.huffval[0], swapped.huffval[1]);
  EXPECT_EQ(decodingTable(swapped, true), &swapped);
  EXPECT_EQ(swapped.decode.lookSym[0], 1);
}

TEST(HuffmanDecoder, MissingTableAtScanStart) {
  OneComponentScan scan({});
  scan.stream.dec().acHuffTables[0] = nullptr;
  EXPECT_EQ(startHuffmanPass(scan.stream.handle().stream, scan.stream.handle().bitReader,
                             scan.stream.dec()),
            2);
}

}  // namespace
