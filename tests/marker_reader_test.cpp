// The marker reader: what it accepts, what it refuses with which code, the
// fields it fills and the colour-space classification.
#include "format/marker_reader.h"

#include <gtest/gtest.h>

#include <vector>

#include "driver/stages.h"
#include "support/decoder_fixture.h"
#include "support/jpeg_builder.h"

namespace {

using namespace iffjpeg;
using namespace iffjpeg_test;
using Bytes = std::vector<uint8_t>;

struct FrameComponent {
  int id, factors, table;
};

Bytes Sof(std::vector<FrameComponent> comps, int precision = 8, int height = 8, int width = 8) {
  Bytes p = {static_cast<uint8_t>(precision), static_cast<uint8_t>(height >> 8),
             static_cast<uint8_t>(height),    static_cast<uint8_t>(width >> 8),
             static_cast<uint8_t>(width),     static_cast<uint8_t>(comps.size())};
  for (const FrameComponent& c : comps) {
    p.insert(p.end(), {static_cast<uint8_t>(c.id), static_cast<uint8_t>(c.factors),
                       static_cast<uint8_t>(c.table)});
  }
  return p;
}

Bytes Sos(std::vector<std::pair<int, int>> comps) {
  Bytes p = {static_cast<uint8_t>(comps.size())};
  for (auto [id, tables] : comps)
    p.insert(p.end(), {static_cast<uint8_t>(id), static_cast<uint8_t>(tables)});
  p.insert(p.end(), {0, 63, 0});
  return p;
}

Bytes Dqt(int pqTq) {
  Bytes p = {static_cast<uint8_t>(pqTq)};
  for (int k = 0; k < 64; ++k) {
    if (pqTq >> 4) p.push_back(static_cast<uint8_t>(k));  // high byte
    p.push_back(static_cast<uint8_t>(k + 1));
  }
  return p;
}

// A DHT table with one code of length 1 (symbol 0).
Bytes DhtTable(int tcTh, std::vector<int> counts = {1}, int symbols = -1) {
  Bytes p = {static_cast<uint8_t>(tcTh)};
  int total = 0;
  for (int l = 0; l < 16; ++l) {
    int n = l < static_cast<int>(counts.size()) ? counts[l] : 0;
    p.push_back(static_cast<uint8_t>(n));
    total += n;
  }
  if (symbols < 0) symbols = total;
  for (int i = 0; i < symbols; ++i) p.push_back(0);
  return p;
}

Bytes Jfif(int major, int unit = 0, int x = 1, int y = 1) {
  return {'J',
          'F',
          'I',
          'F',
          0,
          static_cast<uint8_t>(major),
          2,
          static_cast<uint8_t>(unit),
          static_cast<uint8_t>(x >> 8),
          static_cast<uint8_t>(x),
          static_cast<uint8_t>(y >> 8),
          static_cast<uint8_t>(y),
          0,
          0};
}

// A stream as a sequence of segments after SOI.
class Stream {
 public:
  Stream() : bytes_{0xFF, 0xD8} {}
  Stream& Seg(int marker, const Bytes& payload) {
    AppendSegment(bytes_, marker, payload);
    return *this;
  }
  Stream& Raw(const Bytes& raw) {
    bytes_.insert(bytes_.end(), raw.begin(), raw.end());
    return *this;
  }
  // Tables, a grey frame and its scan.
  Stream& GreyFrameAndScan() {
    Seg(0xDB, Dqt(0)).Seg(0xC4, DhtTable(0x00)).Seg(0xC4, DhtTable(0x10));
    return Seg(0xC0, Sof({{1, 0x11, 0}})).Seg(0xDA, Sos({{1, 0x00}}));
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// Runs both header stages; the first non-zero result, or 0.
int32_t ReadHeader(StreamHandle& s) {
  SetDecompressDefaults(s.dec());
  int32_t rc = ReadFileHeader(s.handle().stream, s.dec());
  if (rc == 0) rc = ReadToFirstScan(s.handle().stream, s.dec());
  return rc;
}

int32_t ReadHeader(const Bytes& bytes) {
  StreamHandle s(bytes);
  return ReadHeader(s);
}

TEST(MarkerReader, StartOfImageMustComeFirst) {
  EXPECT_EQ(ReadHeader({}), 7);
  EXPECT_EQ(ReadHeader({0xFF, 0xFF, 0xD8}), 7);
  EXPECT_EQ(ReadHeader({0x00, 0xFF, 0xD8}), 7);
  Bytes good = Stream().GreyFrameAndScan().bytes();
  EXPECT_EQ(ReadHeader(good), 0);
}

TEST(MarkerReader, FrameTypes) {
  auto withFrame = [](int marker) {
    return Stream()
        .Seg(0xDB, Dqt(0))
        .Seg(marker, Sof({{1, 0x11, 0}}))
        .Seg(0xDA, Sos({{1, 0}}))
        .bytes();
  };
  EXPECT_EQ(ReadHeader(withFrame(0xC0)), 0);
  EXPECT_EQ(ReadHeader(withFrame(0xC1)), 0);
  for (int refused : {0xC2, 0xC3, 0xC5, 0xC6, 0xC7, 0xC8, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF}) {
    EXPECT_EQ(ReadHeader(withFrame(refused)), 7) << std::hex << refused;
  }
  StreamHandle s(withFrame(0xC9));
  EXPECT_EQ(ReadHeader(s), 0);
  EXPECT_EQ(s.dec().arithCode, 1);
}

TEST(MarkerReader, MisplacedMarkers) {
  // EOI or SOS before the frame, SOI or a second frame where a scan is due,
  // and a frame header that EOI follows without any scan.
  EXPECT_EQ(ReadHeader(Stream().Raw({0xFF, 0xD9}).bytes()), 7);
  EXPECT_EQ(ReadHeader(Stream().Seg(0xDA, Sos({{1, 0}})).bytes()), 7);
  Stream frame;
  frame.Seg(0xDB, Dqt(0)).Seg(0xC0, Sof({{1, 0x11, 0}}));
  EXPECT_EQ(ReadHeader(Stream(frame).Raw({0xFF, 0xD8}).bytes()), 7);
  EXPECT_EQ(ReadHeader(Stream(frame).Seg(0xC1, Sof({{1, 0x11, 0}})).bytes()), 7);
  EXPECT_EQ(ReadHeader(Stream(frame).Raw({0xFF, 0xD9}).bytes()), 7);
  EXPECT_EQ(ReadHeader(frame.bytes()), 7);  // the data just ends
}

TEST(MarkerReader, SegmentsThatAreSkipped) {
  Stream s;
  s.Seg(0xE1, {'E', 'x', 'i', 'f', 0, 0, 0xFF, 0xD9})  // APP1, even with a marker inside
      .Seg(0xE0, {'J', 'F', 'X', 'X', 0, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9})  // APP0, not JFIF
      .Seg(0xE0, {'J', 'F', 'I', 'F', 0, 7})                             // too short to be read
      .Seg(0xFE, {'h', 'i'})
      .Seg(0xEF, {})
      .Raw({0xFF, 0x01, 0xFF, 0xD3, 0x12, 0x34, 0xFF, 0x00})  // TEM, RST3, junk, stuffing
      .GreyFrameAndScan();
  StreamHandle h(s.bytes());
  ASSERT_EQ(ReadHeader(h), 0);
  EXPECT_EQ(h.dec().densityUnit, 0);
  EXPECT_EQ(h.dec().xDensity, 1);
  EXPECT_EQ(h.dec().yDensity, 1);
}

TEST(MarkerReader, FillBytesBeforeMarkers) {
  Stream s;
  s.Raw({0xFF, 0xFF, 0xFF}).Seg(0xDB, Dqt(0)).Raw({0xFF, 0xFF}).GreyFrameAndScan();
  EXPECT_EQ(ReadHeader(s.bytes()), 0);
}

TEST(MarkerReader, JfifSegment) {
  StreamHandle h1(Stream().Seg(0xE0, Jfif(1, 2, 72, 72)).GreyFrameAndScan().bytes());
  ASSERT_EQ(ReadHeader(h1), 0);
  EXPECT_EQ(h1.dec().densityUnit, 2);
  EXPECT_EQ(h1.dec().xDensity, 72);
  EXPECT_EQ(h1.dec().yDensity, 72);
  EXPECT_EQ(ReadHeader(Stream().Seg(0xE0, Jfif(2)).GreyFrameAndScan().bytes()), 7);
  EXPECT_EQ(ReadHeader(Stream().Seg(0xE0, Jfif(0)).GreyFrameAndScan().bytes()), 7);
  // A thumbnail after the 14 bytes is passed over.
  Bytes withThumbnail = Jfif(1, 1, 300, 600);
  withThumbnail[12] = 1;
  withThumbnail[13] = 1;
  withThumbnail.insert(withThumbnail.end(), {0xFF, 0xD9, 0xFF});
  StreamHandle h2(Stream().Seg(0xE0, withThumbnail).GreyFrameAndScan().bytes());
  ASSERT_EQ(ReadHeader(h2), 0);
  EXPECT_EQ(h2.dec().xDensity, 300);
  EXPECT_EQ(h2.dec().yDensity, 600);
}

TEST(MarkerReader, ColourSpaceClassification) {
  auto classify = [](std::vector<FrameComponent> comps, bool jfif) {
    Stream s;
    if (jfif) s.Seg(0xE0, Jfif(1));
    s.Seg(0xDB, Dqt(0)).Seg(0xC0, Sof(comps));
    StreamHandle h(s.bytes());
    SetDecompressDefaults(h.dec());
    EXPECT_EQ(ReadFileHeader(h.handle().stream, h.dec()), 0);
    return h.dec().jpegColourSpace;
  };
  EXPECT_EQ(classify({{1, 0x11, 0}}, false), kColourGrey);
  EXPECT_EQ(classify({{1, 0x11, 0}}, true), kColourGrey);
  EXPECT_EQ(classify({{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}}, false), kColourYcc);
  EXPECT_EQ(classify({{1, 0x11, 0}, {4, 0x11, 0}, {5, 0x11, 0}}, false), kColourOtherThree);
  EXPECT_EQ(classify({{1, 0x11, 0}, {4, 0x11, 0}, {5, 0x11, 0}}, true), kColourYcc);
  EXPECT_EQ(classify({{'R', 0x11, 0}, {'G', 0x11, 0}, {'B', 0x11, 0}}, false), kColourYcc);
  EXPECT_EQ(classify({{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}, {4, 0x11, 0}}, false), kColourFour);
  EXPECT_EQ(classify({{1, 0x11, 0}, {2, 0x11, 0}}, false), kColourUnknown);
}

TEST(MarkerReader, QuantizationTables) {
  Stream s;
  s.Seg(0xDB, Dqt(0x10)).Seg(0xDB, Dqt(0x03)).GreyFrameAndScan();
  StreamHandle h(s.bytes());
  ASSERT_EQ(ReadHeader(h), 0);
  ASSERT_NE(h.dec().quantTables[0], nullptr);
  // The grey frame's own DQT (table 0, 8-bit) came last and overwrote it.
  EXPECT_EQ(h.dec().quantTables[0]->quantval[5], 6);
  EXPECT_EQ(h.dec().quantTables[3]->quantval[63], 64);
  Stream sixteen;
  sixteen.Seg(0xC4, DhtTable(0x00)).Seg(0xC4, DhtTable(0x10)).Seg(0xDB, Dqt(0x11));
  sixteen.Seg(0xC0, Sof({{1, 0x11, 1}})).Seg(0xDA, Sos({{1, 0}}));
  StreamHandle h16(sixteen.bytes());
  ASSERT_EQ(ReadHeader(h16), 0);
  EXPECT_EQ(h16.dec().quantTables[1]->quantval[5], 0x0506);
  EXPECT_EQ(h16.dec().quantTables[1]->quantval[63], 0x3F40);
  // Two tables in one segment, one of each precision.
  Bytes both = Dqt(0x02);
  Bytes wide = Dqt(0x13);
  both.insert(both.end(), wide.begin(), wide.end());
  StreamHandle h2(Stream().Seg(0xDB, both).GreyFrameAndScan().bytes());
  ASSERT_EQ(ReadHeader(h2), 0);
  EXPECT_EQ(h2.dec().quantTables[2]->quantval[1], 2);
  EXPECT_EQ(h2.dec().quantTables[3]->quantval[1], 0x0102);
  EXPECT_EQ(ReadHeader(Stream().Seg(0xDB, Dqt(0x04)).GreyFrameAndScan().bytes()), 7);
}

TEST(MarkerReader, HuffmanTables) {
  // Two tables in one segment define both slots.
  Bytes two = DhtTable(0x01, {0, 2});
  Bytes ac = DhtTable(0x13, {1, 1});
  two.insert(two.end(), ac.begin(), ac.end());
  StreamHandle h(Stream().Seg(0xC4, two).GreyFrameAndScan().bytes());
  ASSERT_EQ(ReadHeader(h), 0);
  ASSERT_NE(h.dec().dcHuffTables[1], nullptr);
  ASSERT_NE(h.dec().acHuffTables[3], nullptr);
  EXPECT_EQ(h.dec().dcHuffTables[1]->bits[2], 2);
  EXPECT_EQ(h.dec().acHuffTables[3]->bits[1], 1);
  EXPECT_EQ(h.dec().acHuffTables[3]->bits[0], 0);

  auto code = [](const Bytes& table) {
    return ReadHeader(Stream().Seg(0xC4, table).GreyFrameAndScan().bytes());
  };
  EXPECT_EQ(code(DhtTable(0x04)), 7);
  EXPECT_EQ(code(DhtTable(0x20)), 7);
  EXPECT_EQ(code(DhtTable(0x13)), 0);
  EXPECT_EQ(code(DhtTable(0x00, {0, 0, 0, 0, 0, 0, 0, 0, 255, 2})), 7);    // 257 symbols
  EXPECT_EQ(code(DhtTable(0x00, {0, 0, 0, 0, 0, 0, 0, 0, 0, 10}, 4)), 7);  // past the segment
  EXPECT_EQ(code(DhtTable(0x00, {3})), 7);                                 // three 1-bit codes
  EXPECT_EQ(code(DhtTable(0x10, {1, 2, 2})), 7);  // 0, 10, 11, then 3-bit codes overflow
  EXPECT_EQ(code(DhtTable(0x10, {2})), 0);        // 0 and 1 fill the space exactly
}

TEST(MarkerReader, ArithmeticConditioningAndRestartInterval) {
  auto code = [](const Stream& prefix) {
    return ReadHeader(Stream(prefix).GreyFrameAndScan().bytes());
  };
  EXPECT_EQ(code(Stream().Seg(0xCC, {0x00, 0x10, 0x1F, 0x05})), 0);
  EXPECT_EQ(code(Stream().Seg(0xCC, {0x20, 0x00})), 7);
  EXPECT_EQ(code(Stream().Seg(0xCC, {0x03, 0x21})), 0);        // L 1, U 2
  EXPECT_EQ(code(Stream().Seg(0xCC, {0x03, 0x12})), 7);        // L 2 above U 1
  EXPECT_EQ(code(Stream().Seg(0xDD, {0x00, 0x10, 0x00})), 7);  // length 5
  StreamHandle h(Stream().Seg(0xDD, {0xFF, 0xFE}).GreyFrameAndScan().bytes());
  ASSERT_EQ(ReadHeader(h), 0);
  EXPECT_EQ(h.dec().restartInterval, 0xFFFE);
}

TEST(MarkerReader, ScanHeader) {
  Stream frame;
  frame.Seg(0xDB, Dqt(0)).Seg(0xC4, DhtTable(0x00)).Seg(0xC4, DhtTable(0x11));
  frame.Seg(0xC0, Sof({{1, 0x22, 0}, {2, 0x11, 0}, {3, 0x11, 0}}));
  auto code = [&](const Bytes& sos) { return ReadHeader(Stream(frame).Seg(0xDA, sos).bytes()); };
  StreamHandle h(Stream(frame).Seg(0xDA, Sos({{3, 0x01}, {1, 0x10}, {2, 0x23}})).bytes());
  ASSERT_EQ(ReadHeader(h), 0);
  EXPECT_EQ(h.dec().scanComponentCount, 3);
  EXPECT_EQ(h.dec().scanComponents[0]->componentIndex, 2);
  EXPECT_EQ(h.dec().scanComponents[1]->dcTableNo, 1);
  EXPECT_EQ(h.dec().scanComponents[2]->acTableNo, 3);
  EXPECT_EQ(code(Sos({{4, 0x00}})), 7);                               // no such component
  EXPECT_EQ(code(Sos({{1, 0x00}, {1, 0x00}})), 7);                    // selected twice
  EXPECT_EQ(code(Sos({{1, 0x40}})), 7);                               // DC table 4
  EXPECT_EQ(code(Sos({{1, 0x04}})), 7);                               // AC table 4
  EXPECT_EQ(code(Bytes{0}), 7);                                       // no component
  EXPECT_EQ(code(Sos({{1, 0}, {2, 0}, {3, 0}, {1, 0}, {2, 0}})), 7);  // five
  Bytes longer = Sos({{1, 0}});
  longer.push_back(0);
  EXPECT_EQ(code(longer), 7);  // length not 2 x Ns + 6
}

TEST(MarkerReader, BuilderFilesWithEveryHeaderOption) {
  JpegBuildOptions options = ColourOptions(2, 2);
  options.tablesInOneSegment = true;
  options.fillBytes = true;
  options.sixteenBitQuant = true;
  options.frameMarker = 0xC1;
  options.restartInterval = 3;
  options.densityUnit = 1;
  options.xDensity = 300;
  options.yDensity = 150;
  options.jfifMinor = 2;
  options.extraSegments = {{0xFF, 0xFE, 0x00, 0x04, 'h', 'i'}, {0xFF, 0xE2, 0x00, 0x02}};
  Image image = MakeTestImage(20, 20, 3, 3);
  Bytes jpeg = BuildJpeg(image, options);
  StreamHandle h(jpeg);
  ASSERT_EQ(ReadHeader(h), 0);
  EXPECT_EQ(h.dec().restartInterval, 3);
  EXPECT_EQ(h.dec().densityUnit, 1);
  EXPECT_EQ(h.dec().xDensity, 300);
  EXPECT_EQ(h.dec().yDensity, 150);
  EXPECT_EQ(h.dec().jpegColourSpace, kColourYcc);
  EXPECT_EQ(h.dec().scanComponentCount, 3);
  EXPECT_NE(h.dec().acHuffTables[1], nullptr);
}

}  // namespace
