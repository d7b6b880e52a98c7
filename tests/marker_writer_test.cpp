// The bytes of a written file up to the start of scan, segment by segment,
// and the file's overall structure.
#include <gtest/gtest.h>

#include <vector>

#include "driver/handle.h"
#include "driver/stages.h"
#include "encoder/compress_defaults.h"
#include "support/encoder_harness.h"
#include "support/memory_file.h"

namespace {

using namespace iffjpeg;
using namespace iffjpeg_test;
using Bytes = std::vector<uint8_t>;

void Append(Bytes& out, std::initializer_list<int> bytes) {
  for (int b : bytes) out.push_back(static_cast<uint8_t>(b));
}

Bytes Jfif(int unit, int x, int y) {
  Bytes b;
  Append(b, {0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01, unit, x >> 8,
             x & 0xFF, y >> 8, y & 0xFF, 0x00, 0x00});
  return b;
}

Bytes Dqt(int tableNo, const uint16_t* base, int quality) {
  int scale = QualityScale(quality);
  Bytes b;
  Append(b, {0xFF, 0xDB, 0x00, 0x43, tableNo});
  for (int k = 0; k < 64; ++k) b.push_back(static_cast<uint8_t>((base[k] * scale + 50) / 100));
  return b;
}

Bytes Dht(int classAndId, const uint8_t* bits, const uint8_t* values, int n) {
  Bytes b;
  Append(b, {0xFF, 0xC4, 0x00, 19 + n, classAndId});
  b.insert(b.end(), bits + 1, bits + 17);
  b.insert(b.end(), values, values + n);
  return b;
}

// Opens a write handle, lets the test adjust the encoder, writes the headers
// with a zero-line IFFPutLine and returns the bytes held up to there.
template <typename Adjust>
Bytes HeaderBytes(int width, int height, int planes, Adjust adjust) {
  MemoryFile file;
  IFFImageInfo info{};
  info.width = width;
  info.height = height;
  info.planes = planes;
  info.bitsPerSample = 8;
  int32_t h = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  EXPECT_GT(h, 0);
  IFFHandle* handle = HandleOf(h);
  adjust(handle->encoder);
  EXPECT_EQ(IFFPutLine(h, 0, nullptr), 0);
  Bytes bytes(handle->stream.bufferStart, handle->stream.cursor);
  EXPECT_EQ(IFFClose(h), 0);
  return bytes;
}

Bytes HeaderBytes(int width, int height, int planes) {
  return HeaderBytes(width, height, planes, [](EncoderState&) {});
}

TEST(MarkerWriter, RgbLayoutUpToStartOfScan) {
  Bytes expected;
  Append(expected, {0xFF, 0xD8});
  Bytes part = Jfif(0, 1, 1);
  expected.insert(expected.end(), part.begin(), part.end());
  for (const Bytes& seg : {Dqt(0, kLuminanceQuantTable, 75), Dqt(1, kChrominanceQuantTable, 75)})
    expected.insert(expected.end(), seg.begin(), seg.end());
  // 100 x 300: height 0x012C, width 0x0064.
  Append(expected, {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0x2C, 0x00, 0x64, 0x03, 0x01, 0x22, 0x00,
                    0x02, 0x11, 0x01, 0x03, 0x11, 0x01});
  for (const Bytes& seg : {Dht(0x00, kDcLuminanceBits, kDcLuminanceValues, 12),
                           Dht(0x10, kAcLuminanceBits, kAcLuminanceValues, 162),
                           Dht(0x01, kDcChrominanceBits, kDcChrominanceValues, 12),
                           Dht(0x11, kAcChrominanceBits, kAcChrominanceValues, 162)})
    expected.insert(expected.end(), seg.begin(), seg.end());
  Append(expected,
         {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00});
  EXPECT_EQ(HeaderBytes(100, 300, 3), expected);
  EXPECT_EQ(expected.size(), 2u + 18 + 2 * 69 + 19 + 2 * 33 + 2 * 183 + 14);
}

TEST(MarkerWriter, GreyLayoutUpToStartOfScan) {
  Bytes expected;
  Append(expected, {0xFF, 0xD8});
  Bytes part = Jfif(0, 1, 1);
  expected.insert(expected.end(), part.begin(), part.end());
  part = Dqt(0, kLuminanceQuantTable, 75);
  expected.insert(expected.end(), part.begin(), part.end());
  // 65535 x 7: the largest width the frame header holds.
  Append(expected, {0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x07, 0xFF, 0xFF, 0x01, 0x01, 0x11, 0x00});
  for (const Bytes& seg : {Dht(0x00, kDcLuminanceBits, kDcLuminanceValues, 12),
                           Dht(0x10, kAcLuminanceBits, kAcLuminanceValues, 162)})
    expected.insert(expected.end(), seg.begin(), seg.end());
  Append(expected, {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00});
  EXPECT_EQ(HeaderBytes(65535, 7, 1), expected);
}

TEST(MarkerWriter, JfifDensitiesAfterAResolutionIsSet) {
  Bytes bytes = HeaderBytes(8, 8, 1, [](EncoderState& enc) {
    enc.densityUnit = 1;
    enc.xDensity = 300;
    enc.yDensity = 150;
  });
  Bytes app0(bytes.begin() + 2, bytes.begin() + 20);
  EXPECT_EQ(app0, Jfif(1, 300, 150));
  EXPECT_EQ(Bytes(app0.begin() + 11, app0.begin() + 16), (Bytes{0x01, 0x01, 0x2C, 0x00, 0x96}));
}

TEST(MarkerWriter, SixteenBitTablesMakeTheFrameExtended) {
  // Quality 23: luminance values reach 263, so table 0 is written with
  // 16-bit values and the frame is SOF1; quality 24 stays baseline.
  Bytes q23 = HeaderBytes(16, 16, 3, [](EncoderState& enc) { SetQuality(enc, 23, 0); });
  ASSERT_GT(q23.size(), 200u);
  EXPECT_EQ(Bytes(q23.begin() + 20, q23.begin() + 25), (Bytes{0xFF, 0xDB, 0x00, 0x83, 0x10}));
  int scale = QualityScale(23);
  for (int k = 0; k < 64; ++k) {
    int v = (kLuminanceQuantTable[k] * scale + 50) / 100;
    ASSERT_EQ(q23[25 + 2 * k], v >> 8);
    ASSERT_EQ(q23[26 + 2 * k], v & 0xFF);
  }
  // Chrominance (at most 215) stays 8-bit.
  EXPECT_EQ(Bytes(q23.begin() + 153, q23.begin() + 158), (Bytes{0xFF, 0xDB, 0x00, 0x43, 0x01}));
  EXPECT_EQ(Bytes(q23.begin() + 222, q23.begin() + 224), (Bytes{0xFF, 0xC1}));

  Bytes q24 = HeaderBytes(16, 16, 3, [](EncoderState& enc) { SetQuality(enc, 24, 0); });
  EXPECT_EQ(Bytes(q24.begin() + 20, q24.begin() + 25), (Bytes{0xFF, 0xDB, 0x00, 0x43, 0x00}));
  EXPECT_EQ(Bytes(q24.begin() + 158, q24.begin() + 160), (Bytes{0xFF, 0xC0}));

  // The boundary itself: 255 is 8-bit, 256 is not.
  for (int top : {255, 256}) {
    Bytes b = HeaderBytes(8, 8, 1, [top](EncoderState& enc) {
      enc.quantTables[0]->quantval[63] = static_cast<uint16_t>(top);
    });
    EXPECT_EQ(b[23], top == 255 ? 0x43 : 0x83) << top;
    std::size_t sof = top == 255 ? 20 + 69 : 20 + 133;
    EXPECT_EQ(b[sof + 1], top == 255 ? 0xC0 : 0xC1) << top;
  }
}

TEST(MarkerWriter, TablesAboveOneMakeTheFrameExtended) {
  Bytes b = HeaderBytes(8, 8, 1, [](EncoderState& enc) {
    enc.dcHuffTables[2] = enc.dcHuffTables[0];
    enc.components[0].dcTableNo = 2;
  });
  EXPECT_EQ(b[20 + 69 + 1], 0xC1);
  // DHT for DC table 2 carries class/id byte 0x02; the SOS names it.
  EXPECT_EQ(b[20 + 69 + 13 + 4], 0x02);
  EXPECT_EQ(Bytes(b.end() - 6, b.end()), (Bytes{0x01, 0x01, 0x20, 0x00, 0x3F, 0x00}));
}

TEST(MarkerWriter, RestartIntervalSegment) {
  Bytes b = HeaderBytes(40, 40, 1, [](EncoderState& enc) { enc.restartRows = 2; });
  // 5 MCUs per row x 2 rows.
  Bytes dri = {0xFF, 0xDD, 0x00, 0x04, 0x00, 0x0A};
  EXPECT_EQ(Bytes(b.end() - 16, b.end() - 10), dri);
}

// Counts marker codes outside the entropy-coded data; in the data every
// 0xFF must be followed by 0x00 (stuffing), so no marker can hide there.
std::vector<int> Markers(const Bytes& file, std::size_t* scanEnd) {
  std::vector<int> markers;
  std::size_t i = 0;
  while (i + 1 < file.size()) {
    EXPECT_EQ(file[i], 0xFF) << "at " << i;
    int code = file[i + 1];
    markers.push_back(code);
    i += 2;
    if (code == 0xD8 || code == 0xD9) continue;
    std::size_t length = (file[i] << 8) | file[i + 1];
    i += length;
    if (code == 0xDA) {
      while (i + 1 < file.size() && !(file[i] == 0xFF && file[i + 1] != 0x00)) {
        i += file[i] == 0xFF ? 2 : 1;
      }
      *scanEnd = i;
    }
  }
  return markers;
}

TEST(MarkerWriter, WholeFileStructure) {
  for (int planes : {1, 3}) {
    Image img = MakeTestImage(37, 29, planes, 3);
    MemoryFile file;
    ASSERT_EQ(EncodeImage(img, file), 0);
    std::size_t scanEnd = 0;
    std::vector<int> markers = Markers(file.data, &scanEnd);
    std::vector<int> expected =
        planes == 3
            ? std::vector<int>{0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA, 0xD9}
            : std::vector<int>{0xD8, 0xE0, 0xDB, 0xC0, 0xC4, 0xC4, 0xDA, 0xD9};
    EXPECT_EQ(markers, expected);
    EXPECT_EQ(scanEnd + 2, file.data.size()) << "EOI follows the data directly";
  }
}

}  // namespace
