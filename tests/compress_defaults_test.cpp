// Defaults, quality scaling and the built-in Annex K tables.
#include "encoder/compress_defaults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "driver/stages.h"
#include "support/encoder_harness.h"

namespace {

using namespace iffjpeg;
using iffjpeg_test::EncoderHarness;

int MaxValue(const QuantTable& t) { return *std::max_element(t.quantval, t.quantval + 64); }

TEST(CompressDefaults, FillsTheDocumentedRecord) {
  EncoderHarness h;
  EncoderState& enc = h.enc();
  ASSERT_EQ(SetCompressDefaults(enc, 75, 0), 0);
  EXPECT_EQ(enc.dataPrecision, 8);
  EXPECT_EQ(enc.writeJfif, 1);
  EXPECT_EQ(enc.densityUnit, 0);
  EXPECT_EQ(enc.xDensity, 1);
  EXPECT_EQ(enc.yDensity, 1);
  EXPECT_EQ(enc.jpegColourSpace, kColourYcc);
  EXPECT_EQ(enc.numComponents, 3);
  EXPECT_EQ(enc.arithCode, 0);
  EXPECT_EQ(enc.interleave, 1);
  EXPECT_EQ(enc.restartInterval, 0);
  EXPECT_EQ(enc.restartRows, 0);
  const int16_t expected[3][7] = {
      {1, 0, 2, 2, 0, 0, 0}, {2, 1, 1, 1, 1, 1, 1}, {3, 2, 1, 1, 1, 1, 1}};
  for (int i = 0; i < 3; ++i) {
    const ComponentInfo& c = enc.components[i];
    const int16_t got[7] = {c.componentId,  c.componentIndex, c.hSampFactor, c.vSampFactor,
                            c.quantTableNo, c.dcTableNo,      c.acTableNo};
    for (int k = 0; k < 7; ++k) EXPECT_EQ(got[k], expected[i][k]) << "component " << i;
  }
  for (int slot : {2, 3}) {
    EXPECT_EQ(enc.quantTables[slot], nullptr);
    EXPECT_EQ(enc.dcHuffTables[slot], nullptr);
    EXPECT_EQ(enc.acHuffTables[slot], nullptr);
  }
  ASSERT_NE(enc.dcHuffTables[1], nullptr);
  EXPECT_EQ(enc.dcHuffTables[0]->written, 0);
  EXPECT_EQ(enc.acHuffTables[1]->bits[16], 0x77);
}

TEST(CompressDefaults, QualityCheckValues) {
  EncoderHarness h;
  EncoderState& enc = h.enc();
  ASSERT_EQ(SetCompressDefaults(enc, 75, 0), 0);
  const uint16_t lum75[8] = {8, 6, 6, 7, 6, 5, 8, 7};
  const uint16_t chr75[8] = {9, 9, 9, 12, 11, 12, 24, 13};
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(enc.quantTables[0]->quantval[k], lum75[k]);
    EXPECT_EQ(enc.quantTables[1]->quantval[k], chr75[k]);
  }
  ASSERT_EQ(SetQuality(enc, 50, 0), 0);
  for (int k = 0; k < 64; ++k) {
    EXPECT_EQ(enc.quantTables[0]->quantval[k], kLuminanceQuantTable[k]);
    EXPECT_EQ(enc.quantTables[1]->quantval[k], kChrominanceQuantTable[k]);
  }
  // 0, negative and 65535 read as a signed 16-bit value all mean quality 1.
  for (int32_t q : {1, 0, -5, int32_t{static_cast<int16_t>(65535)}}) {
    ASSERT_EQ(SetQuality(enc, q, 0), 0);
    EXPECT_EQ(QualityScale(q), 5000);
    EXPECT_EQ(enc.quantTables[0]->quantval[0], 800) << q;
  }
  for (int32_t q : {100, 101, 1000}) {
    ASSERT_EQ(SetQuality(enc, q, 0), 0);
    EXPECT_EQ(MaxValue(*enc.quantTables[0]), 1) << q;
    EXPECT_EQ(MaxValue(*enc.quantTables[1]), 1) << q;
    EXPECT_EQ(*std::min_element(enc.quantTables[0]->quantval, enc.quantTables[0]->quantval + 64),
              1);
  }
  EXPECT_EQ(QualityScale(49), 102);
  ASSERT_EQ(SetQuality(enc, 23, 0), 0);
  EXPECT_EQ(QualityScale(23), 217);
  EXPECT_EQ(MaxValue(*enc.quantTables[0]), 263);
  EXPECT_EQ(MaxValue(*enc.quantTables[1]), 215);
  ASSERT_EQ(SetQuality(enc, 24, 0), 0);
  EXPECT_EQ(QualityScale(24), 208);
  EXPECT_EQ(MaxValue(*enc.quantTables[0]), 252);
  EXPECT_EQ(MaxValue(*enc.quantTables[1]), 206);
  // Force-baseline caps every value at 255.
  ASSERT_EQ(SetQuality(enc, 1, 1), 0);
  EXPECT_EQ(MaxValue(*enc.quantTables[0]), 255);
  EXPECT_EQ(MaxValue(*enc.quantTables[1]), 255);
}

TEST(CompressDefaults, LargestScaleClampsAt32767) {
  EncoderHarness h;
  EncoderState& enc = h.enc();
  const uint16_t base[64] = {65535, 0, 1};
  ASSERT_TRUE(ScaleQuantTable(enc, 2, base, 5000, 0));
  EXPECT_EQ(enc.quantTables[2]->quantval[0], 32767);
  EXPECT_EQ(enc.quantTables[2]->quantval[1], 1);  // 0 becomes 1
  EXPECT_EQ(enc.quantTables[2]->quantval[2], 50);
}

TEST(CompressDefaults, SetQualityRewritesInPlaceWithoutAllocating) {
  EncoderHarness h;
  EncoderState& enc = h.enc();
  ASSERT_EQ(SetCompressDefaults(enc, 75, 0), 0);
  QuantTable* t0 = enc.quantTables[0];
  QuantTable* t1 = enc.quantTables[1];
  iffjpeg::testing::FailAllocationsFrom(1);  // any allocation now fails
  EXPECT_EQ(SetQuality(enc, 90, 0), 0);
  iffjpeg::testing::FailAllocationsFrom(0);
  EXPECT_EQ(enc.quantTables[0], t0);
  EXPECT_EQ(enc.quantTables[1], t1);
  EXPECT_EQ(t0->quantval[0], 3);  // (16 x 20 + 50) / 100
}

TEST(CompressDefaults, EveryAllocationFailureGivesFive) {
  for (long n = 1;; ++n) {
    EncoderHarness h;
    iffjpeg::testing::FailAllocationNumber(n);
    int32_t rc = SetCompressDefaults(h.enc(), 75, 0);
    long counted = iffjpeg::testing::AllocationsCounted();
    iffjpeg::testing::FailAllocationNumber(0);
    if (counted < n) {
      EXPECT_EQ(rc, 0);
      EXPECT_GE(n, 6) << "components, 2 quantization and 4 Huffman tables";
      break;
    }
    EXPECT_EQ(rc, 5) << "allocation " << n;
  }
}

// The AC tables must code exactly the run/size pairs of 8-bit data (T.81
// F.1.2.2): sizes 1..10 for runs 0..15, plus EOB and ZRL; and each count list
// must describe a complete prefix code no longer than 16 bits.
TEST(CompressDefaults, HuffmanTablesAreCompleteAndCoverEverySymbol) {
  std::set<int> expectedAc = {0x00, 0xF0};
  for (int run = 0; run < 16; ++run)
    for (int size = 1; size <= 10; ++size) expectedAc.insert(run * 16 + size);
  for (const uint8_t* values : {kAcLuminanceValues, kAcChrominanceValues}) {
    std::set<int> got(values, values + 162);
    EXPECT_EQ(got, expectedAc);
  }
  for (const uint8_t* values : {kDcLuminanceValues, kDcChrominanceValues}) {
    std::set<int> got(values, values + 12);
    EXPECT_EQ(got.size(), 12u);
    EXPECT_EQ(*got.rbegin(), 11);
  }
  struct Counts {
    const uint8_t* bits;
    int total;
  } lists[] = {{kDcLuminanceBits, 12},
               {kDcChrominanceBits, 12},
               {kAcLuminanceBits, 162},
               {kAcChrominanceBits, 162}};
  for (const Counts& c : lists) {
    int n = 0;
    long kraft = 0;  // sum of 2^(16 - length); all-ones codes are reserved
    for (int l = 1; l <= 16; ++l) {
      n += c.bits[l];
      kraft += static_cast<long>(c.bits[l]) << (16 - l);
    }
    EXPECT_EQ(c.bits[0], 0);
    EXPECT_EQ(n, c.total);
    EXPECT_LT(kraft, 65536L);
  }
  // The luminance AC table's short codes, T.81 Table K.5.
  const uint8_t first[8] = {0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(kAcLuminanceValues[i], first[i]);
}

}  // namespace
