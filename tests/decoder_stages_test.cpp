// Upsamplers, colour deconversion and decompression set-up, driven
// directly on a decoder record.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "decoder/colour_deconvert.h"
#include "decoder/mcu_rows.h"
#include "decoder/upsample.h"
#include "driver/stages.h"
#include "support/decoder_fixture.h"

namespace {

using namespace iffjpeg;
using iffjpeg_test::StreamHandle;

const std::vector<uint8_t> kStep = {0, 0, 0, 0, 255, 255, 255, 255};

TEST(Upsampler, ChoiceFollowsTheFactors) {
  EXPECT_EQ(ChooseUpsampler(2, 2, 2, 2), UpsampleCopy);       // 4:2:0 luma
  EXPECT_EQ(ChooseUpsampler(1, 1, 2, 2), UpsampleDoubleHV);   // 4:2:0 chroma
  EXPECT_EQ(ChooseUpsampler(1, 1, 2, 1), UpsampleDoubleH);    // 4:2:2 chroma
  EXPECT_EQ(ChooseUpsampler(1, 2, 2, 2), UpsampleDoubleH);    // 2x2/1x2/1x2 chroma
  EXPECT_EQ(ChooseUpsampler(1, 1, 1, 2), UpsampleReplicate);  // 4:4:0 chroma
  EXPECT_EQ(ChooseUpsampler(1, 1, 4, 1), UpsampleReplicate);  // 4:1:1 chroma
  EXPECT_EQ(ChooseUpsampler(1, 1, 4, 2), UpsampleReplicate);  // 4:1:0 chroma
  EXPECT_EQ(ChooseUpsampler(1, 1, 2, 4), UpsampleReplicate);
  EXPECT_EQ(ChooseUpsampler(2, 1, 3, 1), nullptr);
  EXPECT_EQ(ChooseUpsampler(1, 2, 1, 3), nullptr);
}

TEST(Upsampler, DoubleHorizontalTriangle) {
  std::vector<uint8_t> in = kStep, out(16, 99);
  SampleRow current[1] = {in.data()}, output[1] = {out.data()};
  DecoderState dec{};
  UpsampleDoubleH(dec, 0, 8, 1, 16, 1, nullptr, current, nullptr, output);
  EXPECT_EQ(
      out, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 64, 191, 255, 255, 255, 255, 255, 255, 255}));
}

TEST(Upsampler, DoubleBothWaysTriangle) {
  std::vector<uint8_t> nearRow = kStep, zeros(8, 0), edge(8, 0);
  std::vector<uint8_t> top(16, 99), bottom(16, 99);
  SampleRow above[1] = {zeros.data()}, current[1] = {nearRow.data()}, below[1] = {nearRow.data()};
  SampleRow output[2] = {top.data(), bottom.data()};
  DecoderState dec{};
  UpsampleDoubleHV(dec, 0, 8, 1, 16, 2, above, current, below, output);
  // Far row of zeros above; the row itself below (an image edge).
  EXPECT_EQ(
      top, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 48, 143, 191, 191, 191, 191, 191, 191, 191}));
  EXPECT_EQ(bottom, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 64, 191, 255, 255, 255, 255, 255,
                                          255, 255}));
}

TEST(Upsampler, DoubleBothWaysUsesNeighbourRowsWithinTheSlice) {
  // v = 2 rows: output row 1 mixes row 0 with row 1, row 2 row 1 with row 0.
  std::vector<uint8_t> r0(8, 100), r1(8, 20), up(8, 0), down(8, 0);
  std::vector<std::vector<uint8_t>> out(4, std::vector<uint8_t>(16, 0));
  SampleRow above[2] = {up.data(), up.data()}, current[2] = {r0.data(), r1.data()};
  SampleRow below[2] = {down.data(), down.data()};
  SampleRow output[4] = {out[0].data(), out[1].data(), out[2].data(), out[3].data()};
  DecoderState dec{};
  UpsampleDoubleHV(dec, 0, 8, 2, 16, 4, above, current, below, output);
  EXPECT_EQ(out[0][5], (4 * (3 * 100 + 0) + 8) >> 4);
  EXPECT_EQ(out[1][5], (4 * (3 * 100 + 20) + 8) >> 4);
  EXPECT_EQ(out[2][5], (4 * (3 * 20 + 100) + 8) >> 4);
  EXPECT_EQ(out[3][5], (4 * (3 * 20 + 0) + 8) >> 4);
}

TEST(Upsampler, ReplicateRepeatsSamplesAndRows) {
  ComponentInfo chroma{};
  chroma.hSampFactor = 1;
  chroma.vSampFactor = 1;
  DecoderState dec{};
  dec.maxHSampFactor = 4;
  dec.maxVSampFactor = 2;
  dec.scanComponents[1] = &chroma;
  std::vector<uint8_t> in = {1, 2, 3, 4, 5, 6, 7, 8};
  std::vector<uint8_t> o0(32, 0), o1(32, 0);
  SampleRow current[1] = {in.data()}, output[2] = {o0.data(), o1.data()};
  UpsampleReplicate(dec, 1, 8, 1, 32, 2, nullptr, current, nullptr, output);
  for (int x = 0; x < 32; ++x) EXPECT_EQ(o0[x], in[x / 4]) << x;
  EXPECT_EQ(o0, o1);
}

TEST(Upsampler, UniformSliceStaysUniform) {
  std::vector<uint8_t> in(16, 77);
  std::vector<std::vector<uint8_t>> out(4, std::vector<uint8_t>(64, 0));
  SampleRow rows[2] = {in.data(), in.data()};
  SampleRow output[4] = {out[0].data(), out[1].data(), out[2].data(), out[3].data()};
  ComponentInfo comp{};
  comp.hSampFactor = 1;
  comp.vSampFactor = 1;
  DecoderState dec{};
  dec.maxHSampFactor = 2;
  dec.maxVSampFactor = 2;
  dec.scanComponents[0] = &comp;
  for (UpsampleFn fn : {UpsampleCopy, UpsampleDoubleH, UpsampleDoubleHV, UpsampleReplicate}) {
    for (auto& row : out) std::fill(row.begin(), row.end(), 0);
    int outRows = fn == UpsampleDoubleH || fn == UpsampleCopy ? 1 : 2;
    fn(dec, 0, 16, 1, 32, outRows, rows, rows, rows, output);
    int width = fn == UpsampleCopy ? 16 : 32;
    for (int r = 0; r < outRows; ++r) {
      for (int x = 0; x < width; ++x) ASSERT_EQ(out[r][x], 77) << r << "," << x;
    }
  }
}

// The colour tables and conversion, on a record with its range limit.
class ColourDeconversion : public ::testing::Test {
 protected:
  void SetUp() override {
    dec.methods = &methods;
    dec.jpegColourSpace = kColourYcc;
    dec.outputColourSpace = kColourRgb;
    dec.numComponents = 3;
    for (int i = 0; i < 256; ++i) limit[256 + i] = static_cast<uint8_t>(i);
    std::memset(limit + 512, 255, 256);
    dec.rangeLimit = limit + 256;
  }
  void TearDown() override {
    for (int32_t* table : dec.pool.heapTables) free(table);
  }
  std::vector<uint8_t> Convert(uint8_t y, uint8_t cb, uint8_t cr) {
    uint8_t ys[1] = {y}, cbs[1] = {cb}, crs[1] = {cr}, out[3] = {};
    SampleRow yr[1] = {ys}, cbr[1] = {cbs}, crr[1] = {crs}, outr[1] = {out};
    SampleArray input[3] = {yr, cbr, crr};
    methods.convertColour(dec, 0, 1, input, outr);
    return {out[0], out[1], out[2]};
  }
  DecoderState dec{};
  DecoderMethods methods{};
  uint8_t limit[768] = {};
};

TEST_F(ColourDeconversion, YccTriples) {
  ASSERT_EQ(SelectColourDeconverter(dec), 0);
  EXPECT_EQ(dec.outputComponents, 3);
  EXPECT_EQ(Convert(100, 128, 128), (std::vector<uint8_t>{101, 99, 101}));
  EXPECT_EQ(Convert(100, 127, 127), (std::vector<uint8_t>{99, 101, 99}));
  EXPECT_EQ(Convert(0, 0, 0), (std::vector<uint8_t>{0, 135, 0}));
  EXPECT_EQ(Convert(255, 255, 255), (std::vector<uint8_t>{255, 120, 255}));
  EXPECT_EQ(Convert(128, 0, 255), (std::vector<uint8_t>{255, 81, 0}));
}

TEST_F(ColourDeconversion, TableRangesStayInsideTheLimitTable) {
  ASSERT_EQ(BuildYccTables(dec), 0);
  EXPECT_EQ(dec.crToR()[0], -179);
  EXPECT_EQ(dec.crToR()[255], 179);
  EXPECT_EQ(dec.cbToB()[0], -226);
  EXPECT_EQ(dec.cbToB()[255], 226);
  for (int cb = 0; cb < 256; ++cb) {
    for (int cr = 0; cr < 256; cr += 15) {
      int g = (dec.cbToG()[cb] + dec.crToG()[cr]) >> 16;
      EXPECT_GE(g, -135);
      EXPECT_LE(g, 135);
    }
  }
  const int32_t* first = dec.crToR();
  ASSERT_EQ(BuildYccTables(dec), 0);
  EXPECT_EQ(dec.crToR(), first);  // built once
}

TEST_F(ColourDeconversion, GreyAndPassThroughAndRefusals) {
  dec.jpegColourSpace = kColourGrey;
  dec.outputColourSpace = kColourGrey;
  dec.numComponents = 1;
  EXPECT_EQ(SelectColourDeconverter(dec), 0);
  EXPECT_EQ(methods.convertColour, ConvertGrey);
  EXPECT_EQ(dec.outputComponents, 1);

  dec.jpegColourSpace = kColourRgb;
  dec.outputColourSpace = kColourRgb;
  dec.numComponents = 3;
  EXPECT_EQ(SelectColourDeconverter(dec), 0);
  EXPECT_EQ(methods.convertColour, ConvertPassThrough);
  EXPECT_EQ(Convert(10, 20, 30), (std::vector<uint8_t>{10, 20, 30}));

  struct Case {
    int32_t space, components, output, expected;
  } cases[] = {{kColourOtherThree, 3, kColourRgb, 7}, {kColourFour, 4, kColourRgb, 7},
               {kColourUnknown, 2, kColourRgb, 2},    {kColourYcc, 4, kColourRgb, 2},
               {kColourGrey, 3, kColourGrey, 2},      {6, 3, kColourRgb, 2},
               {kColourYcc, 3, kColourGrey, 0},       {kColourFour, 4, kColourGrey, 7}};
  for (const Case& c : cases) {
    dec.jpegColourSpace = c.space;
    dec.numComponents = static_cast<int16_t>(c.components);
    dec.outputColourSpace = c.output;
    EXPECT_EQ(SelectColourDeconverter(dec), c.expected) << c.space << " " << c.components;
  }
}

// PrepareDecompress on a record as the header reader leaves it.
class DecompressSetup : public ::testing::Test {
 protected:
  DecompressSetup() : stream({}) {}
  void SetUp() override {
    DecoderState& d = stream.dec();
    SetDecompressDefaults(d);
    d.dataPrecision = 8;
    d.imageWidth = 17;
    d.imageHeight = 9;
    d.numComponents = 3;
    d.jpegColourSpace = kColourYcc;
    static QuantTable quant{};
    d.quantTables[0] = d.quantTables[1] = &quant;
    for (int i = 0; i < 3; ++i) {
      comps[i] = ComponentInfo{};
      comps[i].componentId = static_cast<int16_t>(i + 1);
      comps[i].componentIndex = static_cast<int16_t>(i);
      comps[i].hSampFactor = comps[i].vSampFactor = i == 0 ? 2 : 1;
      comps[i].quantTableNo = i == 0 ? 0 : 1;
      d.scanComponents[i] = &comps[i];
    }
    d.components = comps;
    d.scanComponentCount = 3;
  }
  DecoderState& dec() { return stream.dec(); }
  StreamHandle stream;
  ComponentInfo comps[3];
};

TEST_F(DecompressSetup, GeometryOfAnOddWidth) {
  ASSERT_EQ(PrepareDecompress(dec()), 0);
  EXPECT_EQ(dec().maxHSampFactor, 2);
  EXPECT_EQ(comps[0].trueWidth, 17);
  EXPECT_EQ(comps[1].trueWidth, 9);
  EXPECT_EQ(comps[1].trueHeight, 5);
  EXPECT_EQ(dec().outputComponents, 3);
  dec().imageWidth = 1;
  ASSERT_EQ(PrepareDecompress(dec()), 0);
  EXPECT_EQ(comps[0].trueWidth, 1);
  EXPECT_EQ(comps[1].trueWidth, 1);
}

TEST_F(DecompressSetup, RefusalsInTheirOrder) {
  // Each case breaks one more thing than the next; the first fault decides.
  dec().dataPrecision = 12;
  dec().imageWidth = 0;
  comps[1].hSampFactor = 5;
  dec().arithCode = 1;
  EXPECT_EQ(PrepareDecompress(dec()), 7) << "precision";
  dec().dataPrecision = 8;
  EXPECT_EQ(PrepareDecompress(dec()), 7) << "width";
  dec().imageWidth = 17;
  EXPECT_EQ(PrepareDecompress(dec()), 7) << "factor 5";
  comps[1].hSampFactor = 0;
  EXPECT_EQ(PrepareDecompress(dec()), 7) << "factor 0";
  comps[1].hSampFactor = 1;
  EXPECT_EQ(PrepareDecompress(dec()), 4) << "arithmetic";
  comps[0].hSampFactor = 3;  // 3 and 1 and 2... 2 does not divide 3
  comps[1].vSampFactor = 2;
  comps[2].vSampFactor = 2;
  comps[0].vSampFactor = 3;
  EXPECT_EQ(PrepareDecompress(dec()), 7) << "factors that do not divide";
  comps[0].hSampFactor = comps[0].vSampFactor = 2;
  comps[1].vSampFactor = comps[2].vSampFactor = 1;
  comps[2].quantTableNo = 2;  // never defined
  EXPECT_EQ(PrepareDecompress(dec()), 7) << "undefined quantization table";
  comps[2].quantTableNo = 4;
  EXPECT_EQ(PrepareDecompress(dec()), 7) << "quantization table above 3";
  comps[2].quantTableNo = 1;
  EXPECT_EQ(PrepareDecompress(dec()), 4);
  dec().arithCode = 0;
  dec().jpegColourSpace = kColourOtherThree;
  dec().scanComponentCount = 1;
  EXPECT_EQ(PrepareDecompress(dec()), 7) << "colour space 4";
  dec().jpegColourSpace = kColourUnknown;
  EXPECT_EQ(PrepareDecompress(dec()), 2) << "unknown colour space";
  dec().jpegColourSpace = kColourYcc;
  ASSERT_EQ(PrepareDecompress(dec()), 0) << "first scan lacks components";
  EXPECT_EQ(dec().methods->controller, ControllerKind::kWholeImage);
  dec().scanComponentCount = 3;
  EXPECT_EQ(PrepareDecompress(dec()), 0);
  EXPECT_EQ(dec().methods->controller, ControllerKind::kLine);
}

// Only the first scan's quantization tables must exist at open; a later
// scan's may be defined between the scans.
TEST_F(DecompressSetup, QuantTablesOfLaterScansMayComeLater) {
  comps[2].quantTableNo = 2;  // not defined yet
  dec().scanComponentCount = 2;
  EXPECT_EQ(PrepareDecompress(dec()), 0);
  dec().scanComponentCount = 3;
  EXPECT_EQ(PrepareDecompress(dec()), 7);
  comps[2].quantTableNo = 4;
  dec().scanComponentCount = 2;
  EXPECT_EQ(PrepareDecompress(dec()), 7) << "a table number above 3 is refused at once";
}

TEST_F(DecompressSetup, StartStepRefusesTooManyBlocksThenMissingTables) {
  // 4x2, 2x1, 1x1: 8 + 2 + 1 = 11 blocks in an MCU.
  comps[0].hSampFactor = 4;
  comps[0].vSampFactor = 2;
  comps[1].hSampFactor = 2;
  ASSERT_EQ(PrepareDecompress(dec()), 0);
  EXPECT_EQ(DecompressControl(stream.handle(), dec(), 0), 2);
  // 2x2, 1x1, 1x1: 6 blocks pass, then the missing Huffman tables give 2.
  comps[0].hSampFactor = 2;
  comps[1].hSampFactor = 1;
  ASSERT_EQ(PrepareDecompress(dec()), 0);
  EXPECT_EQ(DecompressControl(stream.handle(), dec(), 0), 2);
  EXPECT_EQ(dec().blocksInMcu, 6);
  EXPECT_EQ(dec().mcusPerRow, 2);
  EXPECT_EQ(comps[0].paddedWidth, 32);
  EXPECT_EQ(comps[1].paddedWidth, 16);
}

// Level shift and clamping of reconstructed samples, also for values that
// only corrupt coefficients produce, beyond the range-limit table.
TEST(McuRowReconstruction, SamplesAreShiftedAndClamped) {
  StreamHandle stream({});
  DecoderState& dec = stream.dec();
  uint8_t limit[768] = {};
  for (int i = 0; i < 256; ++i) limit[256 + i] = static_cast<uint8_t>(i);
  std::memset(limit + 512, 255, 256);
  dec.rangeLimit = limit + 256;
  ComponentInfo comp{};
  comp.paddedWidth = 32;
  comp.mcuHeight = 1;
  dec.scanComponentCount = 1;
  dec.scanComponents[0] = &comp;
  CoefBlock blocks[4] = {};
  const int16_t dc[4] = {0, 100, 4000, -4000};  // 128, 141, beyond 383, below -384
  for (int b = 0; b < 4; ++b) blocks[b][0] = dc[b];
  BlockRow blockRows[1] = {blocks};
  BlockArray coefRows[1] = {blockRows};
  std::vector<std::vector<uint8_t>> samples(10, std::vector<uint8_t>(32, 7));
  SampleRow rows[10];
  for (int i = 0; i < 10; ++i) rows[i] = samples[i].data();
  SampleArray sampleRows[1] = {rows};
  ReconstructMcuRow(stream.handle(), dec, coefRows, sampleRows, 2);
  const uint8_t expected[4] = {128, 141, 255, 0};
  for (int r = 0; r < 10; ++r) {
    for (int x = 0; x < 32; ++x) {
      EXPECT_EQ(samples[r][x], r >= 2 ? expected[x / 8] : 7) << r << "," << x;
    }
  }
}

TEST(DecompressControl, DoesNothingWithoutAController) {
  StreamHandle stream({});
  for (int32_t mode = 0; mode <= 4; ++mode) {
    EXPECT_EQ(DecompressControl(stream.handle(), stream.dec(), mode), 0);
  }
  DecompressControl(stream.handle(), stream.dec(), 3);  // a second release is safe
}

}  // namespace
