// The compression set-up and the per-line controller: geometry, which line
// emits which MCU row, edge padding, and the set-up checks.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "driver/handle.h"
#include "driver/stages.h"
#include "support/encoder_harness.h"
#include "support/memory_file.h"

namespace {

using namespace iffjpeg;
using namespace iffjpeg_test;

// Records, for every MCU handed to the Huffman encoder, the line being put
// at the time (lineCounter is the number of the line in progress), then
// passes it on.
struct McuLog {
  std::vector<int32_t> lineOfMcu;
  std::vector<std::vector<int16_t>> blocks;  // first MCUs only
};
McuLog* gLog = nullptr;
const IFFHandle* gHandle = nullptr;
void (*gRealEncodeMcu)(ByteStream&, BitWriter&, EncoderState&, int16_t*) = nullptr;

void RecordingEncodeMcu(ByteStream& stream, BitWriter& bits, EncoderState& enc, int16_t* mcu) {
  gLog->lineOfMcu.push_back(gHandle->lineCounter);
  if (gLog->blocks.size() < 64) gLog->blocks.emplace_back(mcu, mcu + 64 * enc.blocksInMcu);
  gRealEncodeMcu(stream, bits, enc, mcu);
}

class CompressController : public ::testing::Test {
 protected:
  // Opens a write handle and writes the headers (a zero-line put), then
  // wraps encodeMcu.
  IFFHandle* Open(int width, int height, int planes) {
    IFFImageInfo info{};
    info.width = width;
    info.height = height;
    info.planes = planes;
    info.bitsPerSample = 8;
    value_ = IFFOpen(file_.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
    EXPECT_GT(value_, 0);
    EXPECT_EQ(IFFPutLine(value_, 0, nullptr), 0);
    IFFHandle* handle = HandleOf(value_);
    gLog = &log_;
    gHandle = handle;
    gRealEncodeMcu = handle->encoderMethods.encodeMcu;
    handle->encoderMethods.encodeMcu = RecordingEncodeMcu;
    return handle;
  }
  void PutLines(const Image& img, int first, int count) {
    for (int y = first; y < first + count; ++y) ASSERT_EQ(IFFPutLine(value_, 1, img.row(y)), 0);
  }
  // The line that emitted each MCU row.
  std::vector<int32_t> LinePerMcuRow(int mcusPerRow) {
    std::vector<int32_t> rows;
    for (std::size_t i = 0; i < log_.lineOfMcu.size(); i += mcusPerRow) {
      for (int j = 1; j < mcusPerRow; ++j) EXPECT_EQ(log_.lineOfMcu[i + j], log_.lineOfMcu[i]);
      rows.push_back(log_.lineOfMcu[i]);
    }
    EXPECT_EQ(log_.lineOfMcu.size() % mcusPerRow, 0u);
    return rows;
  }
  void TearDown() override {
    if (value_ > 0) {
      EXPECT_EQ(IFFClose(value_), closeResult_);
    }
    gLog = nullptr;
  }
  MemoryFile file_;
  McuLog log_;
  int32_t value_ = 0;
  int32_t closeResult_ = 0;
};

TEST_F(CompressController, RgbGeometryAndChunks) {
  IFFHandle* handle = Open(100, 50, 3);
  const EncoderState& enc = handle->encoder;
  const CompressFields& f = handle->comp;
  EXPECT_EQ(enc.maxHSampFactor, 2);
  EXPECT_EQ(enc.maxVSampFactor, 2);
  EXPECT_EQ(f.fullSizeWidth, 112);
  EXPECT_EQ(f.rowsPerChunk, 16);
  EXPECT_EQ(f.mcuRowsPerChunk, 1);
  EXPECT_EQ(enc.mcusPerRow, 7);
  EXPECT_EQ(enc.mcuRows, 4);
  EXPECT_EQ(enc.blocksInMcu, 6);
  const int16_t membership[6] = {0, 0, 0, 0, 1, 2};
  for (int b = 0; b < 6; ++b) EXPECT_EQ(enc.mcuMembership[b], membership[b]);
  const int32_t sizes[3][4] = {{100, 50, 112, 64}, {50, 25, 56, 32}, {50, 25, 56, 32}};
  for (int c = 0; c < 3; ++c) {
    const ComponentInfo& comp = enc.components[c];
    EXPECT_EQ(comp.trueWidth, sizes[c][0]);
    EXPECT_EQ(comp.trueHeight, sizes[c][1]);
    EXPECT_EQ(comp.paddedWidth, sizes[c][2]);
    EXPECT_EQ(comp.paddedHeight, sizes[c][3]);
  }

  Image img = MakeTestImage(100, 50, 3, 11);
  PutLines(img, 0, 50);
  EXPECT_EQ(LinePerMcuRow(7), (std::vector<int32_t>{31, 47, 49, 49}));
  // Extra lines are ignored: nothing more is encoded.
  PutLines(img, 0, 3);
  EXPECT_EQ(log_.lineOfMcu.size(), 28u);
}

TEST_F(CompressController, GreyGeometryAndChunks) {
  IFFHandle* handle = Open(20, 10, 1);
  EXPECT_EQ(handle->comp.fullSizeWidth, 24);
  EXPECT_EQ(handle->comp.rowsPerChunk, 8);
  EXPECT_EQ(handle->encoder.mcusPerRow, 3);
  EXPECT_EQ(handle->encoder.mcuRows, 2);
  EXPECT_EQ(handle->encoder.blocksInMcu, 1);
  Image img = MakeTestImage(20, 10, 1, 12);
  PutLines(img, 0, 8);
  EXPECT_TRUE(log_.lineOfMcu.empty()) << "chunk 0 waits for the next chunk";
  PutLines(img, 8, 2);
  EXPECT_EQ(LinePerMcuRow(3), (std::vector<int32_t>{9, 9}));

  // The last chunk's two lines are extended: columns 20..23 repeat column
  // 19, rows 2..7 repeat row 1 (line 9).
  SampleArray rows = handle->comp.fullSizeViews[handle->comp.currentView][0];
  for (int r = 0; r < 8; ++r) {
    const uint8_t* src = img.row(r < 2 ? 8 + r : 9);
    ASSERT_EQ(std::memcmp(rows[r], src, 20), 0) << r;
    for (int c = 20; c < 24; ++c) ASSERT_EQ(rows[r][c], src[19]) << r << "," << c;
  }
}

TEST_F(CompressController, HeightAMultipleOfTheChunk) {
  Open(16, 48, 3);
  Image img = MakeTestImage(16, 48, 3, 13);
  PutLines(img, 0, 48);
  EXPECT_EQ(LinePerMcuRow(1), (std::vector<int32_t>{31, 47, 47}));
}

TEST_F(CompressController, SingleChunkImage) {
  Open(33, 5, 3);
  Image img = MakeTestImage(33, 5, 3, 14);
  PutLines(img, 0, 4);
  EXPECT_TRUE(log_.lineOfMcu.empty());
  PutLines(img, 4, 1);
  EXPECT_EQ(LinePerMcuRow(3), (std::vector<int32_t>{4}));
}

TEST_F(CompressController, FlatImageGivesFlatBlocks) {
  // A uniform image whose width and height need padding: every block of
  // every MCU holds only its DC term, so padding repeats real samples.
  Open(21, 19, 3);
  Image img;
  img.width = 21;
  img.height = 19;
  img.channels = 3;
  img.pixels.assign(21 * 19 * 3, 0);
  for (std::size_t i = 0; i < img.pixels.size(); i += 3) {
    img.pixels[i] = 200;
    img.pixels[i + 1] = 40;
    img.pixels[i + 2] = 90;
  }
  PutLines(img, 0, 19);
  ASSERT_EQ(log_.blocks.size(), 4u);  // 2 x 2 MCUs
  for (const auto& mcu : log_.blocks) {
    for (int b = 0; b < 6; ++b)
      for (int k = 1; k < 64; ++k) ASSERT_EQ(mcu[64 * b + k], 0) << "block " << b << " k " << k;
  }
}

TEST_F(CompressController, CloseBeforeAllLines) {
  Open(100, 50, 3);
  Image img = MakeTestImage(100, 50, 3, 15);
  PutLines(img, 0, 40);
  EXPECT_EQ(LinePerMcuRow(7), (std::vector<int32_t>{31}));
  ASSERT_EQ(IFFClose(value_), 0);
  value_ = 0;
  ASSERT_GE(file_.data.size(), 2u);
  EXPECT_EQ(file_.data[file_.data.size() - 2], 0xFF);
  EXPECT_EQ(file_.data.back(), 0xD9);
}

// ------------------------------------------------------- set-up checks

// Opens for writing, lets the test change the encoder, and returns what the
// first line gives; then closes (nothing may leak).
template <typename Adjust>
int32_t FirstLineResult(int planes, Adjust adjust, std::size_t* heldBytes = nullptr) {
  MemoryFile file;
  IFFImageInfo info{};
  info.width = 40;
  info.height = 40;
  info.planes = planes;
  info.bitsPerSample = 8;
  int32_t h = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  EXPECT_GT(h, 0);
  IFFHandle* handle = HandleOf(h);
  adjust(handle->encoder);
  std::vector<uint8_t> line(120, 100);
  int32_t rc = IFFPutLine(h, 1, line.data());
  if (heldBytes)
    *heldBytes = static_cast<std::size_t>(handle->stream.cursor - handle->stream.bufferStart);
  EXPECT_EQ(IFFPutLine(h, 1, line.data()), rc) << "the failure repeats";
  IFFClose(h);
  return rc;
}

void Factors(EncoderState& enc, std::initializer_list<std::pair<int, int>> factors) {
  int i = 0;
  for (auto [h, v] : factors) {
    enc.components[i].hSampFactor = static_cast<int16_t>(h);
    enc.components[i].vSampFactor = static_cast<int16_t>(v);
    ++i;
  }
}

TEST(CompressSetUp, ConfigurationsTheDriverNeverProduces) {
  EXPECT_EQ(FirstLineResult(3, [](EncoderState&) {}), 0);
  EXPECT_EQ(FirstLineResult(3, [](EncoderState& e) { Factors(e, {{5, 1}}); }), 7);
  EXPECT_EQ(FirstLineResult(3, [](EncoderState& e) { Factors(e, {{2, 0}}); }), 7);
  // 8 + 1 + 2 blocks: more than 10 in one MCU.
  EXPECT_EQ(FirstLineResult(3, [](EncoderState& e) { Factors(e, {{4, 2}, {1, 1}, {2, 1}}); }), 2);
  // Exactly 10 blocks is fine.
  EXPECT_EQ(FirstLineResult(3, [](EncoderState& e) { Factors(e, {{4, 2}, {1, 1}, {1, 1}}); }), 0);
  // 3 / 2 is not an integral ratio.
  EXPECT_EQ(FirstLineResult(3, [](EncoderState& e) { Factors(e, {{3, 1}, {2, 1}, {1, 1}}); }), 2);
  // Several components need the interleave flag; one component does not.
  EXPECT_EQ(FirstLineResult(3, [](EncoderState& e) { e.interleave = 0; }), 2);
  EXPECT_EQ(FirstLineResult(1, [](EncoderState& e) { e.interleave = 0; }), 0);
  // A component count outside 1..4, or an empty quantization slot.
  EXPECT_EQ(FirstLineResult(3, [](EncoderState& e) { e.numComponents = 0; }), 2);
  EXPECT_EQ(FirstLineResult(3, [](EncoderState& e) { e.components[2].quantTableNo = 3; }), 2);
  // RGB coded as greyscale is not a supported combination.
  EXPECT_EQ(FirstLineResult(3, [](EncoderState& e) { e.jpegColourSpace = 1; }), 2);
}

TEST(CompressSetUp, MissingHuffmanTableStopsBeforeTheScanHeader) {
  std::size_t good = 0, missing = 0;
  EXPECT_EQ(FirstLineResult(
                3, [](EncoderState&) {}, &good),
            0);
  EXPECT_EQ(FirstLineResult(
                3, [](EncoderState& e) { e.components[2].acTableNo = 2; }, &missing),
            2);
  EXPECT_EQ(missing, 2u + 18 + 2 * 69 + 19) << "file header only, no DHT or SOS";
  EXPECT_GT(good, missing);
}

TEST(CompressSetUp, EveryAllocationFailureAtTheFirstLineGivesFive) {
  Image img = MakeTestImage(40, 40, 3, 5);
  for (long n = 1;; ++n) {
    MemoryFile file;
    IFFImageInfo info{};
    info.width = 40;
    info.height = 40;
    info.planes = 3;
    info.bitsPerSample = 8;
    int32_t h = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
    ASSERT_GT(h, 0);
    iffjpeg::testing::FailAllocationNumber(n);
    int32_t rc = IFFPutLine(h, 1, img.row(0));
    long counted = iffjpeg::testing::AllocationsCounted();
    iffjpeg::testing::FailAllocationNumber(0);
    IFFClose(h);
    if (counted < n) {
      EXPECT_EQ(rc, 0);
      EXPECT_GT(n, 5);
      break;
    }
    EXPECT_EQ(rc, 5) << "allocation " << n;
  }
}

// Once the file header is out, a failed scan start cannot be retried: a
// second attempt would write the headers twice. The handle stays failed.
TEST(CompressSetUp, FailedScanStartIsNotRetried) {
  Image img = MakeTestImage(40, 40, 3, 5);
  MemoryFile file;
  IFFImageInfo info{};
  info.width = 40;
  info.height = 40;
  info.planes = 3;
  info.bitsPerSample = 8;
  int32_t h = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  ASSERT_GT(h, 0);
  IFFHandle* handle = HandleOf(h);
  handle->encoder.components[1].acTableNo = 3;  // no table: the scan start fails
  EXPECT_EQ(IFFPutLine(h, 1, img.row(0)), 2);
  handle->encoder.components[1].acTableNo = 1;
  EXPECT_EQ(IFFPutLine(h, 1, img.row(0)), 2);
  EXPECT_EQ(IFFClose(h), 2);
  int soi = 0;
  for (std::size_t i = 0; i + 1 < file.data.size(); ++i) {
    if (file.data[i] == 0xFF && file.data[i + 1] == 0xD8) ++soi;
  }
  EXPECT_EQ(soi, 1);
}

TEST(CompressSetUp, LinesPerCallDoNotChangeTheFile) {
  Image img = MakeTestImage(50, 70, 3, 22);
  MemoryFile one, many, extra;
  ASSERT_EQ(EncodeImage(img, one), 0);
  EncodeOptions options;
  options.linesPerCall = 13;
  ASSERT_EQ(EncodeImage(img, many, options), 0);
  options.linesPerCall = 70;
  options.extraLines = 9;
  ASSERT_EQ(EncodeImage(img, extra, options), 0);
  EXPECT_EQ(one.data, many.data);
  EXPECT_EQ(one.data, extra.data);
}

}  // namespace
