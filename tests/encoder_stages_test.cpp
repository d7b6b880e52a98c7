// Exact values of the writing stages: colour conversion, downsampling, the
// forward DCT, quantization and the Huffman encoder's bit strings.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "driver/stages.h"
#include "encoder/colour_convert.h"
#include "encoder/compress_defaults.h"
#include "encoder/downsample.h"
#include "encoder/mcu_assembly.h"
#include "entropy/annex_k_tables.h"
#include "entropy/huffman_encoder.h"
#include "support/encoder_harness.h"
#include "transform/fdct.h"
#include "transform/transform_kernels.h"

namespace {

using namespace iffjpeg;
using iffjpeg_test::EncoderHarness;

// ---------------------------------------------------------------- colour

struct Ycc {
  int y, cb, cr;
  bool operator==(const Ycc&) const = default;
};

std::vector<Ycc> ConvertPixels(const std::vector<std::array<uint8_t, 3>>& rgb) {
  EncoderHarness h;
  EncoderState& enc = h.enc();
  enc.imageWidth = static_cast<int32_t>(rgb.size());
  EXPECT_TRUE(BuildRgbYccTable(enc));
  std::vector<uint8_t> line;
  for (const auto& p : rgb) line.insert(line.end(), p.begin(), p.end());
  std::vector<uint8_t> planes[3];
  SampleRow rows[3];
  SampleArray view[3];
  for (int c = 0; c < 3; ++c) {
    planes[c].assign(rgb.size() + 1, 0xEE);
    rows[c] = planes[c].data();
    view[c] = &rows[c];
  }
  h.handle().currentLine = line.data();
  ConvertRgbToYcc(h.handle(), enc, 0, view);
  std::vector<Ycc> out;
  for (std::size_t i = 0; i < rgb.size(); ++i)
    out.push_back({planes[0][i], planes[1][i], planes[2][i]});
  EXPECT_EQ(planes[0][rgb.size()], 0xEE) << "wrote past the image width";
  return out;
}

TEST(ColourConvert, KnownTriples) {
  std::vector<Ycc> got = ConvertPixels(
      {{255, 255, 255}, {0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {77, 77, 77}, {1, 1, 1}});
  const std::vector<Ycc> expected = {{255, 128, 128}, {0, 128, 128},  {76, 84, 255}, {150, 43, 21},
                                     {29, 255, 107},  {77, 128, 128}, {1, 128, 128}};
  EXPECT_EQ(got, expected);
}

TEST(ColourConvert, EveryGreyMapsToItself) {
  std::vector<std::array<uint8_t, 3>> greys;
  for (int v = 0; v < 256; ++v) greys.push_back({uint8_t(v), uint8_t(v), uint8_t(v)});
  std::vector<Ycc> got = ConvertPixels(greys);
  for (int v = 0; v < 256; ++v) EXPECT_EQ(got[v], (Ycc{v, 128, 128})) << v;
}

TEST(ColourConvert, SelectionByColourSpaces) {
  struct Case {
    int32_t inSpace, inComponents, jpegSpace, components, expected;
  } cases[] = {
      {1, 1, 1, 1, 0}, {2, 3, 3, 3, 0},                   // the accepted ones
      {3, 3, 3, 3, 2},                                    // hosts give grey or RGB only
      {2, 3, 1, 1, 2},                                    // RGB into greyscale
      {1, 3, 1, 1, 2}, {2, 1, 3, 3, 2}, {5, 3, 3, 3, 2},  // inputs do not match
      {4, 3, 3, 3, 2}, {5, 4, 3, 3, 2}, {0, 1, 1, 1, 2}, {6, 3, 3, 3, 2},
      {2, 3, 3, 1, 2}, {1, 1, 1, 3, 2}, {2, 3, 2, 3, 2},  // output does not fit
  };
  for (const Case& c : cases) {
    EncoderHarness h;
    EncoderState& enc = h.enc();
    enc.inputColourSpace = c.inSpace;
    enc.inputComponents = static_cast<int16_t>(c.inComponents);
    enc.jpegColourSpace = c.jpegSpace;
    enc.numComponents = static_cast<int16_t>(c.components);
    EXPECT_EQ(SelectColourConverter(enc), c.expected)
        << c.inSpace << " " << c.inComponents << " " << c.jpegSpace << " " << c.components;
    if (c.expected == 0) {
      EXPECT_NE(enc.methods->convertLine, nullptr);
    }
  }
}

TEST(ColourConvert, TableIsBuiltOnceAndItsFailureGivesFive) {
  EncoderHarness h;
  EncoderState& enc = h.enc();
  enc.inputColourSpace = 2;
  enc.inputComponents = 3;
  enc.jpegColourSpace = 3;
  enc.numComponents = 3;
  iffjpeg::testing::FailAllocationNumber(1);
  EXPECT_EQ(SelectColourConverter(enc), 5);
  iffjpeg::testing::FailAllocationNumber(0);
  ASSERT_EQ(SelectColourConverter(enc), 0);
  int32_t* table = enc.colourTable;
  iffjpeg::testing::FailAllocationsFrom(1);
  EXPECT_EQ(SelectColourConverter(enc), 0) << "a second selection reuses the table";
  iffjpeg::testing::FailAllocationsFrom(0);
  EXPECT_EQ(enc.colourTable, table);
}

TEST(ColourConvert, GreyCopiesTheLine) {
  EncoderHarness h;
  EncoderState& enc = h.enc();
  enc.imageWidth = 3;
  uint8_t line[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  uint8_t planes[3][4] = {};
  SampleRow rows[3] = {planes[0], planes[1], planes[2]};
  SampleArray view[3] = {&rows[0], &rows[1], &rows[2]};
  h.handle().currentLine = line;
  CopyGreyLine(h.handle(), enc, 0, view);
  EXPECT_EQ(std::memcmp(planes[0], line, 3), 0);
  EXPECT_EQ(planes[0][3], 0);
}

// ------------------------------------------------------------ downsample

TEST(Downsample, AveragesWithTheirBiases) {
  EncoderHarness h;
  EncoderState& enc = h.enc();
  uint8_t a[8] = {10, 11, 10, 10, 1, 2, 3, 4};
  uint8_t b[8] = {10, 11, 11, 11, 1, 1, 1, 2};
  uint8_t out[2][4] = {};
  SampleRow group[2] = {a, b};
  SampleRow output[2] = {out[0], out[1]};
  DownsampleH2V2(enc, 0, 8, 2, 4, 1, nullptr, group, nullptr, output);
  EXPECT_EQ(out[0][0], 11);  // (42 + 2) >> 2
  EXPECT_EQ(out[0][1], 11);  // (42 + 2) >> 2
  EXPECT_EQ(out[0][2], 1);   // (5 + 2) >> 2
  EXPECT_EQ(out[0][3], 3);   // (10 + 2) >> 2
  DownsampleH2V1(enc, 0, 8, 2, 4, 2, nullptr, group, nullptr, output);
  EXPECT_EQ(out[0][0], 11);  // (21 + 1) >> 1
  EXPECT_EQ(out[0][1], 10);
  EXPECT_EQ(out[1][1], 11);
  EXPECT_EQ(out[1][3], 2);  // (3 + 1) >> 1

  // Ratio 4 x 1 with bias 2: H = 4, h = 1.
  ComponentInfo comp{};
  comp.hSampFactor = 1;
  comp.vSampFactor = 1;
  enc.scanComponents[0] = &comp;
  enc.maxHSampFactor = 4;
  enc.maxVSampFactor = 1;
  DownsampleIntegral(enc, 0, 8, 1, 2, 1, nullptr, group, nullptr, output);
  EXPECT_EQ(out[0][0], 10);  // (41 + 2) / 4
  EXPECT_EQ(out[0][1], 3);   // (10 + 2) / 4
}

TEST(Downsample, UniformAreasStayUniform) {
  EncoderHarness h;
  EncoderState& enc = h.enc();
  ComponentInfo comp{};
  comp.hSampFactor = 1;
  comp.vSampFactor = 1;
  enc.scanComponents[0] = &comp;
  enc.maxHSampFactor = 3;
  enc.maxVSampFactor = 3;
  std::vector<std::vector<uint8_t>> rows(3, std::vector<uint8_t>(24, 201));
  SampleRow group[3] = {rows[0].data(), rows[1].data(), rows[2].data()};
  uint8_t out[3][24];
  SampleRow output[3] = {out[0], out[1], out[2]};
  for (DownsampleFn fn : {DownsampleFullSize, DownsampleH2V1, DownsampleH2V2, DownsampleIntegral}) {
    std::memset(out, 0, sizeof out);
    int32_t width = fn == DownsampleFullSize ? 24 : 8;
    fn(enc, 0, 24, 3, width, 1, nullptr, group, nullptr, output);
    for (int c = 0; c < width; ++c) ASSERT_EQ(out[0][c], 201);
  }
}

TEST(Downsample, SelectionPerComponent) {
  EncoderHarness h;
  EncoderState& enc = h.enc();
  ComponentInfo comps[4]{};
  auto setUp = [&](std::initializer_list<std::pair<int, int>> factors) {
    int i = 0;
    enc.maxHSampFactor = enc.maxVSampFactor = 1;
    std::memset(enc.methods->downsample, 0, sizeof enc.methods->downsample);
    for (auto [hf, vf] : factors) {
      comps[i].hSampFactor = static_cast<int16_t>(hf);
      comps[i].vSampFactor = static_cast<int16_t>(vf);
      enc.scanComponents[i] = &comps[i];
      if (hf > enc.maxHSampFactor) enc.maxHSampFactor = static_cast<int16_t>(hf);
      if (vf > enc.maxVSampFactor) enc.maxVSampFactor = static_cast<int16_t>(vf);
      ++i;
    }
    enc.componentsInScan = static_cast<int16_t>(i);
  };
  setUp({{2, 2}, {1, 1}, {1, 1}});
  ASSERT_EQ(SelectDownsamplers(enc), 0);
  EXPECT_EQ(enc.methods->downsample[0], DownsampleFullSize);
  EXPECT_EQ(enc.methods->downsample[1], DownsampleH2V2);
  EXPECT_EQ(enc.methods->downsample[2], DownsampleH2V2);
  setUp({{1, 1}});
  ASSERT_EQ(SelectDownsamplers(enc), 0);
  EXPECT_EQ(enc.methods->downsample[0], DownsampleFullSize);
  setUp({{2, 1}, {1, 1}, {2, 1}, {4, 1}});
  ASSERT_EQ(SelectDownsamplers(enc), 0);
  EXPECT_EQ(enc.methods->downsample[0], DownsampleH2V1);
  EXPECT_EQ(enc.methods->downsample[1], DownsampleIntegral);
  EXPECT_EQ(enc.methods->downsample[3], DownsampleFullSize);
  setUp({{3, 1}, {2, 1}});  // 3 / 2 is not integral
  EXPECT_EQ(SelectDownsamplers(enc), 2);
  setUp({{1, 4}, {1, 3}});
  EXPECT_EQ(SelectDownsamplers(enc), 2);
}

// ------------------------------------------------------------ transform

std::array<int16_t, 64> Fdct(std::array<int16_t, 64> block) {
  forwardDct(block.data());
  return block;
}

TEST(ForwardDct, FlatBlocksGiveOnlyDc) {
  for (int x : {-128, -1, 0, 1, 5, 127}) {
    std::array<int16_t, 64> block;
    block.fill(static_cast<int16_t>(x));
    std::array<int16_t, 64> out = Fdct(block);
    EXPECT_EQ(out[0], 8 * x) << x;
    for (int k = 1; k < 64; ++k) ASSERT_EQ(out[k], 0) << x << " at " << k;
  }
}

TEST(ForwardDct, AlternatingColumnsPattern) {
  std::array<int16_t, 64> block;
  for (int i = 0; i < 64; ++i) block[i] = (i % 2) ? 127 : -128;
  std::array<int16_t, 64> out = Fdct(block);
  const int16_t row0[8] = {-4, -184, 0, -217, 0, -324, 0, -924};
  for (int u = 0; u < 8; ++u) EXPECT_EQ(out[u], row0[u]) << u;
  for (int k = 8; k < 64; ++k) EXPECT_EQ(out[k], 0) << k;
  // The same pattern down the columns lands in column 0 (v = 0..7); the
  // passes round differently, so only to within one unit.
  for (int i = 0; i < 64; ++i) block[i] = ((i / 8) % 2) ? 127 : -128;
  out = Fdct(block);
  for (int v = 0; v < 8; ++v) EXPECT_NEAR(out[8 * v], row0[v], 1) << v;
  for (int k = 0; k < 64; ++k) {
    if (k % 8 != 0) {
      EXPECT_EQ(out[k], 0) << k;
    }
  }
}

// A reference 2-D DCT in floating point: the integer transform stays within
// one unit of it on a ramp block with detail in both directions.
TEST(ForwardDct, CloseToTheExactTransform) {
  std::array<int16_t, 64> block;
  for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(((i * 37) % 255) - 128);
  std::array<int16_t, 64> out = Fdct(block);
  for (int v = 0; v < 8; ++v) {
    for (int u = 0; u < 8; ++u) {
      double sum = 0;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
          sum += block[8 * y + x] * std::cos((2 * x + 1) * u * std::numbers::pi / 16) *
                 std::cos((2 * y + 1) * v * std::numbers::pi / 16);
      double cu = u == 0 ? (1 / std::numbers::sqrt2) : 1,
             cv = v == 0 ? (1 / std::numbers::sqrt2) : 1;
      double exact = sum * cu * cv / 4;
      EXPECT_NEAR(out[8 * v + u], exact, 1.0) << u << "," << v;
    }
  }
}

// ------------------------------------------------------------ quantize

// The quantizing step of the transform kernels alone, as ForwardDctQuantize*
// applies it after forwardDct: the table laid out by PrepareQuantDivisors,
// each natural-order coefficient through QuantizeCoefficient into its
// zigzag place.
void QuantizeBlock(const int16_t* coefficients, const QuantTable& table, int16_t* destination) {
  QuantDivisors divisors;
  PrepareQuantDivisors(table.quantval, divisors);
  for (int k = 0; k < 64; ++k) {
    int n = zigzagToNatural[k];
    destination[k] = QuantizeCoefficient(coefficients[n], divisors.natural[n]);
  }
}

// One block whose top-left sample is rows[firstRow][firstColumn], through the
// forward kernel the encoder dispatches to.
void TransformAndQuantize(const SampleArray rows, int32_t firstRow, int32_t firstColumn,
                          const QuantTable& table, int16_t* destination) {
  QuantDivisors divisors;
  PrepareQuantDivisors(table.quantval, divisors);
  SelectedTransformKernels().forwardDctQuantize(rows + firstRow, firstColumn, divisors,
                                                destination);
}

TEST(Quantize, RoundsHalvesAwayFromZeroIntoZigzag) {
  QuantTable t;
  for (auto& q : t.quantval) q = 8;
  std::array<int16_t, 64> c{};
  c[0] = 12;
  c[1] = -12;   // zigzag 1
  c[8] = 11;    // zigzag 2
  c[16] = -11;  // zigzag 3
  c[9] = 4;     // zigzag 4: exactly one half rounds up
  c[2] = -4;    // zigzag 5: and away from zero
  c[63] = 3;
  int16_t out[64];
  QuantizeBlock(c.data(), t, out);
  const int16_t expected[6] = {2, -2, 1, -1, 1, -1};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(out[k], expected[k]) << k;
  EXPECT_EQ(out[63], 0);
  // Odd quantizers: 7 / 2 = 3 is the half.
  for (auto& q : t.quantval) q = 7;
  c = {};
  c[0] = 10;   // (10 + 3) / 7 = 1
  c[1] = 11;   // (11 + 3) / 7 = 2
  c[8] = -11;  // -((3 + 11) / 7) = -2
  QuantizeBlock(c.data(), t, out);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], 2);
  EXPECT_EQ(out[2], -2);
}

TEST(Quantize, WholeBlocksFromSamples) {
  QuantTable t;
  for (auto& q : t.quantval) q = 8;
  uint8_t samples[8][8];
  SampleRow rows[8];
  for (int y = 0; y < 8; ++y) rows[y] = samples[y];
  int16_t out[64];
  std::memset(samples, 128, sizeof samples);
  TransformAndQuantize(rows, 0, 0, t, out);
  for (int k = 0; k < 64; ++k) ASSERT_EQ(out[k], 0);
  std::memset(samples, 255, sizeof samples);
  TransformAndQuantize(rows, 0, 0, t, out);
  EXPECT_EQ(out[0], 127);  // 1016 / 8
  for (int k = 1; k < 64; ++k) ASSERT_EQ(out[k], 0);
  // A block taken from an offset inside larger rows.
  uint8_t wide[10][20];
  std::memset(wide, 0, sizeof wide);
  for (int y = 2; y < 10; ++y) std::memset(wide[y] + 8, 255, 8);
  SampleRow wideRows[10];
  for (int y = 0; y < 10; ++y) wideRows[y] = wide[y];
  TransformAndQuantize(wideRows, 2, 8, t, out);
  EXPECT_EQ(out[0], 127);
  for (int k = 1; k < 64; ++k) ASSERT_EQ(out[k], 0);
}

// ------------------------------------------------------------ Huffman

std::string Bits(const std::vector<uint8_t>& bytes) {
  std::string s;
  for (uint8_t b : bytes)
    for (int i = 7; i >= 0; --i) s += ((b >> i) & 1) ? '1' : '0';
  return s;
}

// Drops the 0x00 that follows every 0xFF data byte.
std::vector<uint8_t> Unstuffed(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out.push_back(bytes[i]);
    if (bytes[i] == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == 0x00) ++i;
  }
  return out;
}

// Pads a bit string with 1-bits to whole bytes, as the finish step does.
std::string Padded(std::string s) {
  while (s.size() % 8) s += '1';
  return s;
}

class HuffmanEncoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EncoderState& enc = h.enc();
    ASSERT_EQ(SetCompressDefaults(enc, 75, 0), 0);
    enc.numComponents = 1;
    enc.componentsInScan = 1;
    enc.scanComponents[0] = &enc.components[0];
    enc.blocksInMcu = 1;
    enc.mcuMembership[0] = 0;
    ASSERT_EQ(selectHuffmanEncoder(enc), 0);
    ASSERT_EQ(startHuffmanEncoding(h.handle().stream, h.handle().bitWriter, enc), 0);
  }
  // Codes one block through the MCU entry and finishes the segment.
  std::string EncodeBlocks(std::vector<std::array<int16_t, 64>> blocks) {
    for (auto& b : blocks)
      encodeHuffmanMcu(h.handle().stream, h.handle().bitWriter, h.enc(), b.data());
    finishHuffmanEncoding(h.handle().stream, h.handle().bitWriter, h.enc());
    return Bits(Unstuffed(h.bytes()));
  }
  EncoderHarness h;
};

TEST_F(HuffmanEncoderTest, DcDifferencesWithTheLuminanceTable) {
  std::array<int16_t, 64> zero{}, minus3{}, plus3{};
  minus3[0] = -3;
  plus3[0] = 3;
  EXPECT_EQ(EncodeBlocks({zero}), Padded("00"
                                         "1010"));  // DC 0, then EOB
  h.clearBytes();
  // -3 after a prediction of 0: symbol 2 (011) then 00; back to 0: +3.
  EXPECT_EQ(EncodeBlocks({minus3, zero}), Padded("011"
                                                 "00"
                                                 "1010"
                                                 "011"
                                                 "11"
                                                 "1010"));
  h.clearBytes();
  startHuffmanEncoding(h.handle().stream, h.handle().bitWriter, h.enc());
  EXPECT_EQ(EncodeBlocks({plus3, plus3}), Padded("011"
                                                 "11"
                                                 "1010"
                                                 "00"
                                                 "1010"));
}

TEST_F(HuffmanEncoderTest, ZeroRunsAndEndOfBlock) {
  const std::string zrl = "11111111001";
  std::array<int16_t, 64> b{};
  b[17] = 1;  // a run of 16 zeros: one ZRL, then run 0 size 1 (00) and bit 1
  EXPECT_EQ(EncodeBlocks({b}), Padded("00" + zrl +
                                      "00"
                                      "1"
                                      "1010"));
  h.clearBytes();
  startHuffmanEncoding(h.handle().stream, h.handle().bitWriter, h.enc());
  b = {};
  b[41] = -1;  // a run of 40: two ZRLs, then run 8 size 1 (111111000), bit 0
  EXPECT_EQ(EncodeBlocks({b}), Padded("00" + zrl + zrl +
                                      "111111000"
                                      "0"
                                      "1010"));
  h.clearBytes();
  startHuffmanEncoding(h.handle().stream, h.handle().bitWriter, h.enc());
  b.fill(1);
  b[0] = 0;  // coefficient 63 is non-zero: no EOB
  std::string all;
  for (int k = 1; k < 64; ++k) all += "001";
  EXPECT_EQ(EncodeBlocks({b}), Padded("00" + all));
  EXPECT_EQ(h.enc().lastDcVal[0], 0);
}

TEST_F(HuffmanEncoderTest, LargestMagnitudes) {
  std::array<int16_t, 64> b{};
  b[0] = 2047;   // category 11: 111111110 then eleven 1-bits
  b[1] = -1023;  // run 0 size 10: 1111111110000011 then 0000000000
  std::string expected =
      "111111110"
      "11111111111"
      "1111111110000011"
      "0000000000"
      "1010";
  EXPECT_EQ(EncodeBlocks({b}), Padded(expected));
}

TEST_F(HuffmanEncoderTest, StuffingAndPadding) {
  emitBits(h.handle().stream, h.handle().bitWriter, 8, 0xFF);
  emitBits(h.handle().stream, h.handle().bitWriter, 3, 0x5);  // 101 pending
  EXPECT_EQ(h.bytes(), (std::vector<uint8_t>{0xFF, 0x00}));
  finishHuffmanEncoding(h.handle().stream, h.handle().bitWriter, h.enc());
  EXPECT_EQ(h.bytes(), (std::vector<uint8_t>{0xFF, 0x00, 0xBF}));
  EXPECT_EQ(h.handle().bitWriter.bitCount, 0);
  finishHuffmanEncoding(h.handle().stream, h.handle().bitWriter, h.enc());
  EXPECT_EQ(h.bytes().size(), 3u) << "nothing pending, nothing written";
  h.clearBytes();
  emitBits(h.handle().stream, h.handle().bitWriter, 1,
           1);  // a completed byte of all ones is stuffed too
  finishHuffmanEncoding(h.handle().stream, h.handle().bitWriter, h.enc());
  EXPECT_EQ(h.bytes(), (std::vector<uint8_t>{0xFF, 0x00}));
  h.clearBytes();
  emitBits(h.handle().stream, h.handle().bitWriter, 0, 0x1234);  // size 0 emits nothing
  emitBits(h.handle().stream, h.handle().bitWriter, 16, 0xABCD);
  EXPECT_EQ(h.bytes(), (std::vector<uint8_t>{0xAB, 0xCD}));
}

TEST_F(HuffmanEncoderTest, RestartMarkersEveryFourMcus) {
  EncoderState& enc = h.enc();
  enc.restartInterval = 4;
  ASSERT_EQ(startHuffmanEncoding(h.handle().stream, h.handle().bitWriter, enc), 0);
  std::array<int16_t, 64> b{};
  for (int i = 0; i < 9; ++i) {
    b = {};
    b[0] = 5;
    encodeHuffmanMcu(h.handle().stream, h.handle().bitWriter, enc, b.data());
  }
  finishHuffmanEncoding(h.handle().stream, h.handle().bitWriter, enc);
  // Each interval: DC 5 (100 101 + EOB 1010), then three DC 0 (00 1010),
  // completed with 1-bits before the marker; the prediction restarts at 0.
  std::string interval = Padded(std::string("100"
                                            "101"
                                            "1010") +
                                "001010"
                                "001010"
                                "001010");
  std::string expected = interval + Bits({0xFF, 0xD0}) + interval + Bits({0xFF, 0xD1}) +
                         Padded(
                             "100"
                             "101"
                             "1010");
  EXPECT_EQ(Bits(h.bytes()), expected);
}

TEST_F(HuffmanEncoderTest, RestartNumbersWrapAfterSeven) {
  EncoderState& enc = h.enc();
  enc.restartInterval = 1;
  ASSERT_EQ(startHuffmanEncoding(h.handle().stream, h.handle().bitWriter, enc), 0);
  std::array<int16_t, 64> b{};
  for (int i = 0; i < 10; ++i) {
    b = {};
    encodeHuffmanMcu(h.handle().stream, h.handle().bitWriter, enc, b.data());
  }
  std::vector<uint8_t> bytes = h.bytes();
  std::vector<int> markers;
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
    if (bytes[i] == 0xFF && bytes[i + 1] >= 0xD0 && bytes[i + 1] <= 0xD7)
      markers.push_back(bytes[i + 1] - 0xD0);
  EXPECT_EQ(markers, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 0}));
}

TEST_F(HuffmanEncoderTest, MissingTableIsReportedAtStart) {
  EncoderState& enc = h.enc();
  enc.components[0].acTableNo = 2;  // an empty slot
  EXPECT_EQ(startHuffmanEncoding(h.handle().stream, h.handle().bitWriter, enc), 2);
  enc.components[0].acTableNo = 0;
  enc.components[0].dcTableNo = 7;  // not a slot at all
  EXPECT_EQ(startHuffmanEncoding(h.handle().stream, h.handle().bitWriter, enc), 2);
}

TEST(HuffmanEncoderTables, CodesFollowAnnexC) {
  HuffTable t{};
  std::memcpy(t.bits, kDcLuminanceBits, 17);
  std::memcpy(t.huffval, kDcLuminanceValues, 12);
  buildEncodingTable(t);
  const char* codes[12] = {"00",   "010",   "011",    "100",     "101",      "110",
                           "1110", "11110", "111110", "1111110", "11111110", "111111110"};
  for (int s = 0; s < 12; ++s) {
    std::string got;
    for (int i = t.encode.sizeOfSymbol[s] - 1; i >= 0; --i)
      got += ((t.encode.codeOfSymbol[s] >> i) & 1) ? '1' : '0';
    EXPECT_EQ(got, codes[s]) << s;
  }
  EXPECT_EQ(t.encode.sizeOfSymbol[12], 0);
  EXPECT_EQ(t.encode.sizeOfSymbol[255], 0);
}

// The codes made at compile time serve only a table that holds exactly
// Annex K's counts and symbols: the luminance AC table with its first two
// symbols (0x01 and 0x02, codes 00 and 01) exchanged, or with one count
// moved, gets its own codes.
TEST(HuffmanEncoderTables, OnlyTheAnnexKTablesThemselvesTakeTheirPrecomputedCodes) {
  HuffTable annex{};
  std::memcpy(annex.bits, kAcLuminanceBits, 17);
  std::memcpy(annex.huffval, kAcLuminanceValues, 162);
  HuffTable swapped = annex;
  std::swap(swapped.huffval[0], swapped.huffval[1]);
  HuffTable moved = annex;
  moved.bits[2] = 1;  // one 2-bit code fewer, one 3-bit code more
  moved.bits[3] = 2;
  buildEncodingTable(annex);
  buildEncodingTable(swapped);
  buildEncodingTable(moved);
  EXPECT_EQ(annex.encode.codeOfSymbol[0x01], 0b00);
  EXPECT_EQ(annex.encode.codeOfSymbol[0x02], 0b01);
  EXPECT_EQ(swapped.encode.codeOfSymbol[0x01], 0b01);
  EXPECT_EQ(swapped.encode.codeOfSymbol[0x02], 0b00);
  EXPECT_EQ(moved.encode.sizeOfSymbol[0x02], 3);
  EXPECT_EQ(moved.encode.codeOfSymbol[0x02], 0b010);
  EXPECT_EQ(annex.encode.sizeOfSymbol[0xF0], 11);  // ZRL, 11111111001 (T.81 Table K.5)
  EXPECT_EQ(annex.encode.codeOfSymbol[0xF0], 0b11111111001);
}

}  // namespace
