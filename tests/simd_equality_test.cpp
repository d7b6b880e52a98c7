// Every fast kernel against its scalar twin: random and extreme inputs for
// each kernel, then whole files in every layout decoded and encoded with the
// fast paths forced off and on. Output must be identical to the bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "decoder/colour_deconvert.h"
#include "decoder/decoder_kernels.h"
#include "decoder/dequantize.h"
#include "encoder/encoder_kernels.h"
#include "encoder/mcu_assembly.h"
#include "platform/cpu_features.h"
#include "platform/platform.h"
#include "support/decode_helpers.h"
#include "support/encoder_harness.h"
#include "support/images.h"
#include "support/jpeg_builder.h"
#include "support/memory_file.h"
#include "support/progressive_cases.h"
#include "transform/transform_kernels.h"

namespace iffjpeg_test {
namespace {

// Restores the fast kernels whatever a test does.
class ScalarGuard {
 public:
  explicit ScalarGuard(bool scalar) { iffjpeg::testing::ForceScalarKernels(scalar); }
  ~ScalarGuard() { iffjpeg::testing::ForceScalarKernels(false); }
};

// Random coefficient blocks of several kinds: sparse like real data, dense
// small, dense full-range, and the extremes of the 16-bit range.
std::vector<std::vector<int16_t>> CoefficientBlocks(int count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::vector<int16_t>> blocks;
  for (int n = 0; n < count; ++n) {
    std::vector<int16_t> b(64, 0);
    int kind = n % 6;
    for (int i = 0; i < 64; ++i) {
      switch (kind) {
        case 0:  // sparse, mostly low frequencies
          if (i < 10 || rng() % 8 == 0)
            b[i] = static_cast<int16_t>(static_cast<int>(rng() % 401) - 200);
          break;
        case 1:  // dense, small
          b[i] = static_cast<int16_t>(static_cast<int>(rng() % 129) - 64);
          break;
        case 2:  // full 16-bit range (corrupt data reaches it)
          b[i] = static_cast<int16_t>(rng() & 0xFFFF);
          break;
        case 3:  // only extremes and zero
          b[i] = std::array<int16_t, 3>{-32768, 32767, 0}[rng() % 3];
          break;
        case 4:  // DC only, anywhere in range
          if (i == 0) b[i] = static_cast<int16_t>(rng() & 0xFFFF);
          break;
        default:  // valid dequantized range of 8-bit data
          b[i] = static_cast<int16_t>(static_cast<int>(rng() % 4096) - 2048);
          break;
      }
    }
    blocks.push_back(std::move(b));
  }
  // All of one value, for each extreme.
  for (int16_t v : {int16_t{-32768}, int16_t{32767}, int16_t{-1}, int16_t{1024}}) {
    blocks.emplace_back(64, v);
  }
  return blocks;
}

void CompareIdct(iffjpeg::InverseDctToSamplesFn fast) {
  for (const auto& block : CoefficientBlocks(6000, 1234)) {
    uint8_t a[8][16] = {}, b[8][16] = {};
    iffjpeg::SampleRow rowsA[8], rowsB[8];
    for (int k = 0; k < 8; ++k) {
      rowsA[k] = a[k];
      rowsB[k] = b[k];
    }
    iffjpeg::InverseDctToSamplesScalar(block.data(), rowsA, 4);
    fast(block.data(), rowsB, 4);
    ASSERT_EQ(0, std::memcmp(a, b, sizeof a))
        << "first coefficients " << block[0] << " " << block[1] << " " << block[8];
  }
}

TEST(SimdEquality, InverseDctSelectedMatchesScalar) {
  CompareIdct(iffjpeg::SelectedTransformKernels().inverseDctToSamples);
}

#if defined(IFFJPEG_HAVE_SSE2)
TEST(SimdEquality, InverseDctSse2MatchesScalar) { CompareIdct(iffjpeg::InverseDctToSamplesSse2); }
#endif

#if defined(IFFJPEG_HAVE_AVX2)
// Two blocks at once: each half of the output must be its block's scalar
// samples (the blocks are paired in every combination of kinds).
void CompareIdctPair(iffjpeg::InverseDctPairToSamplesFn pair,
                     const std::vector<std::vector<int16_t>>& blocks) {
  for (size_t n = 0; n + 1 < blocks.size(); ++n) {
    const auto& a = blocks[n];
    const auto& b = blocks[(n * 7 + 3) % blocks.size()];
    uint8_t expected[8][24] = {}, actual[8][24] = {};
    iffjpeg::SampleRow rowsE[8], rowsA[8];
    for (int k = 0; k < 8; ++k) {
      rowsE[k] = expected[k];
      rowsA[k] = actual[k];
    }
    iffjpeg::InverseDctToSamplesScalar(a.data(), rowsE, 4);
    iffjpeg::InverseDctToSamplesScalar(b.data(), rowsE, 12);
    pair(a.data(), b.data(), rowsA, 4);
    ASSERT_EQ(0, std::memcmp(expected, actual, sizeof expected)) << "pair " << n;
  }
}

TEST(SimdEquality, InverseDctPairAvx2MatchesScalar) {
  if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2";
  CompareIdctPair(iffjpeg::InverseDctPairToSamplesAvx2, CoefficientBlocks(3000, 4321));
}

// The reduced pair kernel on the same kinds of blocks cut down to their
// top-left 4 x 4 coefficients (extremes included).
TEST(SimdEquality, InverseDctPairLowAvx2MatchesScalar) {
  if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2";
  auto blocks = CoefficientBlocks(3000, 5678);
  for (auto& b : blocks) {
    for (int i = 0; i < 64; ++i) {
      if (i % 8 >= 4 || i / 8 >= 4) b[i] = 0;
    }
    ASSERT_NE(iffjpeg::ClassifyBlock(b.data()), iffjpeg::BlockExtent::kFull);
  }
  CompareIdctPair(iffjpeg::InverseDctPairLowToSamplesAvx2, blocks);
}

// Scaled decoding's 4 x 4 transform in doubles, on every kind of block
// (only the top-left 4 x 4 terms are read).
#if defined(IFFJPEG_HAVE_AVX512)
// Four blocks at once, consecutive in memory: each quarter of the output
// must be its block's scalar samples.
void CompareIdctQuad(iffjpeg::InverseDctQuadToSamplesFn quad,
                     const std::vector<std::vector<int16_t>>& blocks) {
  for (size_t n = 0; n + 3 < blocks.size(); ++n) {
    alignas(16) int16_t four[4][64];
    for (size_t j = 0; j < 4; ++j) {
      std::memcpy(four[j], blocks[(n * (2 * j + 1) + 5 * j) % blocks.size()].data(), 128);
    }
    uint8_t expected[8][40] = {}, actual[8][40] = {};
    iffjpeg::SampleRow rowsE[8], rowsA[8];
    for (int k = 0; k < 8; ++k) {
      rowsE[k] = expected[k];
      rowsA[k] = actual[k];
    }
    for (int j = 0; j < 4; ++j) iffjpeg::InverseDctToSamplesScalar(four[j], rowsE, 4 + 8 * j);
    quad(four[0], rowsA, 4);
    ASSERT_EQ(0, std::memcmp(expected, actual, sizeof expected)) << "quad " << n;
  }
}

TEST(SimdEquality, InverseDctQuadAvx512MatchesScalar) {
  // The kernels run wherever the instructions do, chosen or not.
  if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512bw")) {
    GTEST_SKIP() << "no AVX-512";
  }
  CompareIdctQuad(iffjpeg::InverseDctQuadToSamplesAvx512, CoefficientBlocks(3000, 2468));
  auto low = CoefficientBlocks(3000, 1357);
  for (auto& b : low) {
    for (int i = 0; i < 64; ++i) {
      if (i % 8 >= 4 || i / 8 >= 4) b[i] = 0;
    }
  }
  CompareIdctQuad(iffjpeg::InverseDctQuadLowToSamplesAvx512, low);
}
#endif

TEST(SimdEquality, ReducedFourAvx2MatchesScalar) {
  if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2";
  for (const auto& block : CoefficientBlocks(6000, 2468)) {
    uint8_t a[4][12] = {}, b[4][12] = {};
    iffjpeg::SampleRow rowsA[4] = {a[0], a[1], a[2], a[3]};
    iffjpeg::SampleRow rowsB[4] = {b[0], b[1], b[2], b[3]};
    iffjpeg::ReducedFourToSamplesScalar(block.data(), rowsA, 5);
    iffjpeg::ReducedFourToSamplesAvx2(block.data(), rowsB, 5);
    ASSERT_EQ(0, std::memcmp(a, b, sizeof a))
        << "first coefficients " << block[0] << " " << block[1] << " " << block[8];
  }
}
#endif

// The row form of the 2 x 2 transform against the per-block transform, on
// rows of 1 to 37 blocks of every kind: the same samples, nothing written
// past the row's, and with clearing only the four terms it read zeroed.
TEST(SimdEquality, ReducedTwoRowMatchesTheBlockTransform) {
  const auto stored = CoefficientBlocks(600, 1597);
  for (int count = 1; count <= 37; ++count) {
    std::vector<iffjpeg::CoefBlock> row(static_cast<std::size_t>(count));
    for (int b = 0; b < count; ++b) {
      std::memcpy(row[b], stored[(count * 31 + b) % stored.size()].data(), sizeof row[b]);
    }
    std::vector<uint8_t> expected(2 * 80, 0x5A), actual(2 * 80, 0x5A);
    iffjpeg::SampleRow rowsE[2] = {expected.data(), expected.data() + 80};
    iffjpeg::SampleRow rowsA[2] = {actual.data(), actual.data() + 80};
    for (int b = 0; b < count; ++b) {
      iffjpeg::ReducedInverseDctToSamples(row[b], 2, rowsE, 2 * b);
    }
    std::vector<iffjpeg::CoefBlock> cleared(row.size());
    std::memcpy(cleared.data(), row.data(), row.size() * sizeof(iffjpeg::CoefBlock));
    iffjpeg::ReducedTwoRowToSamples(cleared.data(), count, rowsA, true);
    ASSERT_EQ(expected, actual) << count << " blocks";
    for (int b = 0; b < count; ++b) {
      for (int k = 0; k < 64; ++k) {
        const bool read = k == 0 || k == 1 || k == 8 || k == 9;
        ASSERT_EQ(cleared[b][k], read ? 0 : row[b][k]) << count << " " << b << " " << k;
      }
    }
  }
}

#if defined(IFFJPEG_HAVE_SSE2)
// The half-size fold in each direction and both, on every kind of block
// (the extremes saturate).
TEST(SimdEquality, HalfSizeFoldSse2MatchesScalar) {
  for (const auto& block : CoefficientBlocks(6000, 97531)) {
    for (auto [across, down] : {std::pair{true, true}, {true, false}, {false, true}}) {
      std::vector<int16_t> a = block, b = block;
      iffjpeg::FoldForHalfSizeScalar(a.data(), across, down);
      iffjpeg::FoldForHalfSizeSse2(b.data(), across, down);
      ASSERT_EQ(a, b) << "across " << across << " down " << down << ", first coefficients "
                      << block[0] << " " << block[1] << " " << block[8];
    }
  }
}
#endif

// Blocks are told apart by where their nonzero coefficients lie, and a
// DC-only block's fill equals the full transform for every DC value.
TEST(SimdEquality, BlockExtentsAndDcFill) {
  using iffjpeg::BlockExtent;
  for (int i = 0; i < 64; ++i) {
    std::vector<int16_t> b(64, 0);
    b[0] = 5;
    b[i] = -1;
    BlockExtent expected = i == 0                   ? BlockExtent::kDcOnly
                           : i % 8 < 4 && i / 8 < 4 ? BlockExtent::kLowFour
                                                    : BlockExtent::kFull;
    EXPECT_EQ(iffjpeg::ClassifyBlock(b.data()), expected) << "coefficient " << i;
  }
  std::vector<int16_t> block(64, 0);
  for (int dc = -32768; dc <= 32767; ++dc) {
    block[0] = static_cast<int16_t>(dc);
    uint8_t expected[8][16] = {}, actual[8][16] = {};
    iffjpeg::SampleRow rowsE[8], rowsA[8];
    for (int k = 0; k < 8; ++k) {
      rowsE[k] = expected[k];
      rowsA[k] = actual[k];
    }
    iffjpeg::InverseDctToSamplesScalar(block.data(), rowsE, 3);
    iffjpeg::DcOnlyToSamples(block[0], rowsA, 3);
    ASSERT_EQ(0, std::memcmp(expected, actual, sizeof expected)) << "dc " << dc;
  }
}

TEST(SimdEquality, ScalarKernelsAreForcedAndRestored) {
  {
    ScalarGuard guard(true);
    EXPECT_EQ(&iffjpeg::SelectedTransformKernels(), &iffjpeg::kScalarTransformKernels);
    EXPECT_EQ(&iffjpeg::SelectedDecoderKernels(), &iffjpeg::kScalarDecoderKernels);
    EXPECT_EQ(&iffjpeg::SelectedEncoderKernels(), &iffjpeg::kScalarEncoderKernels);
  }
#if defined(IFFJPEG_HAVE_SSE2)
  EXPECT_NE(iffjpeg::SelectedTransformKernels().inverseDctToSamples,
            iffjpeg::kScalarTransformKernels.inverseDctToSamples);
#endif
}

// ---- Whole files ----------------------------------------------------------

DecodeResult DecodeBoth(const std::vector<uint8_t>& jpeg, DecodeResult* scalar,
                        int32_t modeFlags = 0) {
  {
    ScalarGuard guard(true);
    *scalar = DecodeWithLibrary(jpeg, modeFlags);
  }
  return DecodeWithLibrary(jpeg, modeFlags);
}

void ExpectSameDecode(const std::vector<uint8_t>& jpeg, const char* what, int32_t modeFlags = 0) {
  DecodeResult scalar;
  DecodeResult fast = DecodeBoth(jpeg, &scalar, modeFlags);
  ASSERT_GT(scalar.openResult, 0) << what;
  EXPECT_EQ(scalar.lineCodes, fast.lineCodes) << what;
  EXPECT_EQ(scalar.image.pixels, fast.image.pixels) << what;
}

TEST(SimdEquality, DecodesEveryLayoutIdentically) {
  struct Layout {
    const char* name;
    int channels;
    JpegBuildOptions options;
  };
  std::vector<Layout> layouts = {
      {"grey 1x1", 1, GreyOptions()},
      {"grey 2x2 (single-component scan)", 1, GreyOptions(2, 2)},
      {"4:2:0", 3, ColourOptions(2, 2)},
      {"4:2:2", 3, ColourOptions(2, 1)},
      {"4:4:4", 3, ColourOptions(1, 1)},
      {"4:4:0 (1x2)", 3, ColourOptions(1, 2)},
      {"4:1:1 (4x1)", 3, ColourOptions(4, 1)},
      {"3x1 chroma 3x1 (copy)", 3, ColourOptions(3, 1, 3, 1)},
      {"2x2 chroma 2x1", 3, ColourOptions(2, 2, 2, 1)},
  };
  for (int quality : {30, 75, 100}) {
    for (auto& layout : layouts) {
      layout.options.quality = quality;
      // The tall one takes many bands through both sample-row lists.
      for (auto [w, h] : {std::pair{1, 1}, std::pair{17, 9}, std::pair{61, 35}, std::pair{130, 67},
                          std::pair{23, 261}}) {
        Image img = MakeTestImage(w, h, layout.channels, static_cast<uint32_t>(w * 31 + h));
        std::vector<uint8_t> jpeg = BuildJpeg(img, layout.options);
        std::string what = std::string(layout.name) + " q" + std::to_string(quality) + " " +
                           std::to_string(w) + "x" + std::to_string(h);
        ExpectSameDecode(jpeg, what.c_str());
      }
    }
  }
}

TEST(SimdEquality, DecodesRestartsTruncationAndIndependentFilesIdentically) {
  Image colour = MakeTestImage(83, 47, 3, 7);
  JpegBuildOptions restarts = ColourOptions(2, 2);
  restarts.restartInterval = 3;
  ExpectSameDecode(BuildJpeg(colour, restarts), "restart interval 3");
  std::vector<uint8_t> cut = BuildJpeg(colour, ColourOptions(2, 2));
  cut.resize(cut.size() * 2 / 3);
  ExpectSameDecode(cut, "truncated");
  for (int quality : {50, 90, 95}) {
    ExpectSameDecode(StbEncode(colour, quality), "independent encoder");
    ExpectSameDecode(StbEncode(MakeTestImage(83, 47, 1, 9), quality), "independent grey");
  }
}

// Progressive refinement scans walk the coefficients through the
// processor's bit instructions where it has them: every script, with
// restarts, cut short and with flipped bytes, gives the portable path's
// lines and codes.
TEST(SimdEquality, DecodesProgressiveScriptsIdentically) {
  for (const ProgressiveLayout& layout : {ProgressiveLayouts()[0], ProgressiveLayouts()[4]}) {
    Image image = MakeTestImage(77, 53, layout.channels, 12);
    int components = static_cast<int>(layout.options.components.size());
    for (const ProgressiveScript& script : ProgressiveScripts(components)) {
      for (int quality : {50, 100}) {
        JpegBuildOptions options = WithScript(layout.options, script);
        options.quality = quality;
        std::vector<uint8_t> jpeg = BuildJpeg(image, options);
        std::string what = std::string(layout.name) + " " + script.name;
        ExpectSameDecode(jpeg, what.c_str(), IFF_MODE_EXTENDED);
        std::vector<uint8_t> cut(jpeg.begin(),
                                 jpeg.begin() + static_cast<long>(jpeg.size() * 3 / 4));
        ExpectSameDecode(cut, (what + " cut").c_str(), IFF_MODE_EXTENDED);
        std::mt19937 rng(static_cast<uint32_t>(jpeg.size()));
        for (int k = 0; k < 8; ++k) {
          std::vector<uint8_t> damaged = jpeg;
          std::size_t at = jpeg.size() / 3 + rng() % (jpeg.size() / 2);
          damaged[at] = static_cast<uint8_t>(damaged[at] ^ (1u << (rng() % 8)));
          ExpectSameDecode(damaged, (what + " damaged").c_str(), IFF_MODE_EXTENDED);
        }
      }
    }
  }
}

std::vector<uint8_t> EncodeWith(bool scalar, const Image& img, int quality, int32_t option) {
  ScalarGuard guard(scalar);
  MemoryFile file;
  EncodeOptions options;
  options.quality = quality;
  if (option != 0) options.controls = {{option, 1}};
  EXPECT_EQ(0, EncodeImage(img, file, options));
  return file.data;
}

// Sequential, optimized and progressive files (whose AC scans take their
// masks from the row kernels, over rows wider than one stretch of them).
TEST(SimdEquality, EncodesIdentically) {
  for (int32_t option : {0, IFF_CTL_OPTIMIZE, IFF_CTL_PROGRESSIVE}) {
    for (int channels : {1, 3}) {
      for (int quality : {1, 50, 75, 100}) {
        for (auto [w, h] :
             {std::pair{1, 1}, std::pair{19, 13}, std::pair{97, 41}, std::pair{601, 9}}) {
          Image img = MakeTestImage(w, h, channels, static_cast<uint32_t>(quality + w));
          EXPECT_EQ(EncodeWith(true, img, quality, option), EncodeWith(false, img, quality, option))
              << "option " << option << ", " << channels << " channels q" << quality << " " << w
              << "x" << h;
        }
      }
    }
  }
}

#if defined(IFFJPEG_HAVE_AVX2)
// Stored blocks of every kind (their extremes wrap in the 16-bit products)
// with random steps up to 65535, rows of 1 to 50 blocks: every position
// equals the sparse loop's, written into cleared blocks, and nothing past
// the row is touched.
void CompareDequantize(iffjpeg::DequantizeRowFn kernel) {
  std::mt19937 rng(8642);
  const auto stored = CoefficientBlocks(3000, 97);
  for (int round = 0; round < 60; ++round) {
    uint16_t quant[64];
    for (uint16_t& q : quant) q = static_cast<uint16_t>(round % 3 == 0 ? rng() : 1 + rng() % 255);
    const int blocks = 1 + round % 50;
    std::vector<iffjpeg::CoefBlock> in(static_cast<std::size_t>(blocks));
    for (int b = 0; b < blocks; ++b) {
      std::memcpy(in[b], stored[(round * 53 + b) % stored.size()].data(), sizeof in[b]);
    }
    std::vector<iffjpeg::CoefBlock> expected(static_cast<std::size_t>(blocks) + 1);
    std::vector<iffjpeg::CoefBlock> actual(static_cast<std::size_t>(blocks) + 1);
    std::memset(expected.data(), 0, expected.size() * sizeof(iffjpeg::CoefBlock));
    std::memset(actual.data(), 0x5A, actual.size() * sizeof(iffjpeg::CoefBlock));
    std::memset(expected[blocks], 0x5A, sizeof expected[blocks]);
    iffjpeg::DequantizeNonZero(in.data(), expected.data(), blocks, quant);
    kernel(in.data(), actual.data(), blocks, quant);
    ASSERT_EQ(0, std::memcmp(expected.data(), actual.data(), actual.size() * sizeof actual[0]))
        << "round " << round;
  }
}

TEST(SimdEquality, DequantizeRowKernelsMatchScalar) {
  if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2";
  CompareDequantize(iffjpeg::DequantizeRowAvx2);
#if defined(IFFJPEG_HAVE_AVX512)
  if (!iffjpeg::platform::ProcessorHasAvx512OnYmm()) GTEST_SKIP() << "no AVX-512 VL";
  CompareDequantize(iffjpeg::DequantizeRowAvx512);
#endif
}
#endif

}  // namespace
}  // namespace iffjpeg_test

namespace iffjpeg_test {
namespace {

// Sample blocks: random, flat, extremes, and the alternating patterns that
// drive the transform's sums furthest.
std::vector<std::vector<uint8_t>> SampleBlocks(int count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::vector<uint8_t>> blocks;
  for (int n = 0; n < count; ++n) {
    std::vector<uint8_t> b(64);
    int kind = n % 5;
    for (int i = 0; i < 64; ++i) {
      int x = i % 8, y = i / 8;
      switch (kind) {
        case 0:
          b[i] = static_cast<uint8_t>(rng());
          break;
        case 1:  // 0 or 255 only
          b[i] = (rng() & 1) ? 255 : 0;
          break;
        case 2:  // checkerboards and stripes of the extremes
          b[i] = static_cast<uint8_t>((((x ^ (n / 5)) + (y & (n / 7))) & 1) ? 255 : 0);
          break;
        case 3:  // smooth
          b[i] = static_cast<uint8_t>(
              std::clamp(static_cast<int>(rng() % 40) + 8 * x + 4 * y, 0, 255));
          break;
        default:  // flat
          b[i] = static_cast<uint8_t>(n);
          break;
      }
    }
    blocks.push_back(std::move(b));
  }
  return blocks;
}

std::vector<std::array<uint16_t, 64>> QuantTables() {
  std::vector<std::array<uint16_t, 64>> tables;
  std::mt19937 rng(77);
  for (uint16_t flat : {1, 2, 3, 7, 16, 255, 256, 1000, 32767}) {
    std::array<uint16_t, 64> t;
    t.fill(flat);
    tables.push_back(t);
  }
  for (int n = 0; n < 6; ++n) {
    std::array<uint16_t, 64> t;
    for (auto& q : t) q = static_cast<uint16_t>(1 + rng() % (n < 3 ? 255 : 32767));
    tables.push_back(t);
  }
  return tables;
}

// A natural-order table as the kernels take it.
iffjpeg::QuantDivisors Divisors(const std::array<uint16_t, 64>& natural) {
  iffjpeg::QuantDivisors d;
  for (int i = 0; i < 64; ++i) {
    d.natural[i] = natural[i];
    d.reciprocal[i] = iffjpeg::TruncatingReciprocal(natural[i]);
  }
  return d;
}

void CompareFdct(iffjpeg::ForwardDctQuantizeFn fast) {
  auto tables = QuantTables();
  for (const auto& block : SampleBlocks(3000, 99)) {
    uint8_t pixels[8][24];
    iffjpeg::SampleRow rows[8];
    for (int k = 0; k < 8; ++k) {
      rows[k] = pixels[k];
      std::memset(pixels[k], 0x5A, sizeof pixels[k]);
      std::memcpy(pixels[k] + 8, &block[8 * k], 8);
    }
    for (const auto& table : tables) {
      iffjpeg::QuantDivisors divisors = Divisors(table);
      int16_t a[64], b[64];
      iffjpeg::ForwardDctQuantizeScalar(rows, 8, divisors, a);
      fast(rows, 8, divisors, b);
      ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << "quantizer " << table[0];
    }
  }
}

TEST(SimdEquality, ForwardDctQuantizeSelectedMatchesScalar) {
  CompareFdct(iffjpeg::SelectedTransformKernels().forwardDctQuantize);
}

#if defined(IFFJPEG_HAVE_SSE2)
TEST(SimdEquality, ForwardDctQuantizeSse2MatchesScalar) {
  CompareFdct(iffjpeg::ForwardDctQuantizeSse2);
}
#endif

#if defined(IFFJPEG_HAVE_AVX2)
// Two blocks at once, every pairing of the sample kinds, every table for
// the first block with another for the second, and the blocks in rows of
// their own (as Cb and Cr are): each block's coefficients (in zigzag order)
// are its scalar ones.
TEST(SimdEquality, ForwardDctQuantizePairAvx2MatchesScalar) {
  if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2";
  auto tables = QuantTables();
  auto blocks = SampleBlocks(1500, 17);
  for (size_t n = 0; n < blocks.size(); ++n) {
    const auto& left = blocks[n];
    const auto& right = blocks[(n * 7 + 3) % blocks.size()];
    uint8_t pixels[8][32], other[8][16];
    iffjpeg::SampleRow rows[8], otherRows[8];
    for (int k = 0; k < 8; ++k) {
      rows[k] = pixels[k];
      otherRows[k] = other[k];
      std::memset(pixels[k], 0xA5, sizeof pixels[k]);
      std::memcpy(pixels[k] + 4, &left[8 * k], 8);
      std::memcpy(pixels[k] + 12, &right[8 * k], 8);
      std::memcpy(other[k] + 3, &right[8 * k], 8);
    }
    for (size_t t = 0; t < tables.size(); ++t) {
      iffjpeg::QuantDivisors first = Divisors(tables[t]);
      iffjpeg::QuantDivisors second = Divisors(tables[(t + n) % tables.size()]);
      int16_t a[64], b[64], pairA[64], pairB[64];
      iffjpeg::ForwardDctQuantizeScalar(rows, 4, first, a);
      iffjpeg::ForwardDctQuantizeScalar(rows, 12, second, b);
      iffjpeg::ForwardDctQuantizePairAvx2({rows, 4, &first, pairA}, {rows, 12, &second, pairB});
      ASSERT_EQ(0, std::memcmp(a, pairA, sizeof a)) << "block " << n << " table " << t;
      ASSERT_EQ(0, std::memcmp(b, pairB, sizeof b)) << "block " << n << " table " << t;
      iffjpeg::ForwardDctQuantizePairAvx2({rows, 12, &second, pairA},
                                          {otherRows, 3, &first, pairB});
      iffjpeg::ForwardDctQuantizeScalar(otherRows, 3, first, a);
      ASSERT_EQ(0, std::memcmp(b, pairA, sizeof b)) << "block " << n << " table " << t;
      ASSERT_EQ(0, std::memcmp(a, pairB, sizeof a)) << "block " << n << " table " << t;
    }
  }
}
#endif

// The scalar twin is the library's documented path: shift, forwardDct, then
// each coefficient quantized into its zigzag place.
TEST(SimdEquality, ForwardDctQuantizeScalarIsTransformThenQuantize) {
  for (const auto& block : SampleBlocks(200, 5)) {
    uint8_t pixels[8][8];
    iffjpeg::SampleRow rows[8];
    for (int k = 0; k < 8; ++k) {
      rows[k] = pixels[k];
      std::memcpy(pixels[k], &block[8 * k], 8);
    }
    iffjpeg::QuantTable zigzag{};
    for (int k = 0; k < 64; ++k) zigzag.quantval[k] = static_cast<uint16_t>(1 + (k * 37) % 120);
    iffjpeg::QuantDivisors divisors;
    iffjpeg::PrepareQuantDivisors(zigzag.quantval, divisors);
    int16_t work[64], expected[64], actual[64];
    for (int k = 0; k < 64; ++k) work[k] = static_cast<int16_t>(block[k] - 128);
    iffjpeg::forwardDct(work);
    for (int k = 0; k < 64; ++k) {
      expected[k] =
          iffjpeg::QuantizeCoefficient(work[iffjpeg::zigzagToNatural[k]], zigzag.quantval[k]);
    }
    iffjpeg::ForwardDctQuantizeScalar(rows, 0, divisors, actual);
    ASSERT_EQ(0, std::memcmp(expected, actual, sizeof expected));
  }
}

// The single-precision product with the reciprocal the fast quantizers use
// truncates exactly as the division does: every 16-bit sum over every
// baseline quantizer and their negatives (a 16-bit table's quantizer above
// 32767 is negative as a 16-bit value), and a spread of larger ones.
TEST(SimdEquality, ReciprocalProductTruncatesExactly) {
  auto check = [](int q) {
    float r = iffjpeg::TruncatingReciprocal(static_cast<uint16_t>(q));
    for (int n = -32768; n <= 32767; ++n) {
      int expected = n / q;
      int actual = static_cast<int>(static_cast<float>(n) * r);
      if (expected != actual) return n;
    }
    return 0;
  };
  for (int q = 1; q <= 255; ++q) {
    ASSERT_EQ(0, check(q)) << "q " << q;
    ASSERT_EQ(0, check(-q)) << "q " << -q;
  }
  for (int q = 256; q <= 32767; q += 97) ASSERT_EQ(0, check(q)) << "q " << q;
  ASSERT_EQ(0, check(32767));
  ASSERT_EQ(0, check(-32768));
}

}  // namespace
}  // namespace iffjpeg_test

namespace iffjpeg_test {
namespace {

// Every (Cb, Cr) pair with several luma values, through the selected row
// kernel and through the tables, at widths that leave every tail length.
TEST(SimdEquality, YccToRgbMatchesTables) {
  iffjpeg::DecoderState dec{};
  ASSERT_EQ(0, iffjpeg::BuildYccTables(dec));
  uint8_t limitTable[768];
  for (int i = 0; i < 768; ++i) limitTable[i] = static_cast<uint8_t>(std::clamp(i - 256, 0, 255));
  dec.rangeLimit = limitTable + 256;
  iffjpeg::DecoderMethods methods{};
  dec.methods = &methods;
  constexpr int kWidth = 256 + 13;
  std::vector<uint8_t> y(kWidth), cb(kWidth), cr(kWidth);
  iffjpeg::SampleRow yr = y.data(), cbr = cb.data(), crr = cr.data();
  iffjpeg::SampleArray input[3] = {&yr, &cbr, &crr};
  for (int luma : {0, 1, 64, 128, 200, 254, 255}) {
    for (int c = 0; c < 256; ++c) {
      for (int i = 0; i < kWidth; ++i) {
        y[i] = static_cast<uint8_t>((luma + i * (luma & 7)) & 255);
        cb[i] = static_cast<uint8_t>(c);
        cr[i] = static_cast<uint8_t>(i);
      }
      for (int width : {kWidth, 16, 17, 31, 48, 63, 5}) {
        std::vector<uint8_t> a(3 * kWidth + 8, 0xEE), b(3 * kWidth + 8, 0xEE);
        iffjpeg::SampleRow outA = a.data(), outB = b.data();
        {
          ScalarGuard guard(true);
          iffjpeg::ConvertYccToRgb(dec, 0, width, input, &outA);
        }
        iffjpeg::ConvertYccToRgb(dec, 0, width, input, &outB);
        ASSERT_EQ(a, b) << "luma " << luma << " cb " << c << " width " << width;
      }
    }
  }
  for (int32_t*& table : dec.pool.heapTables) {
    iffjpeg::platform::SystemFree(table);
    table = nullptr;
  }
}

// The greyscale line through the selected row kernel and through memcpy,
// at every width up to a few groups, never writing past the line.
TEST(SimdEquality, GreyRowMatchesCopy) {
  iffjpeg::DecoderState dec{};
  constexpr int kWidth = 3 * 64 + 9;
  std::vector<uint8_t> in(kWidth);
  for (int i = 0; i < kWidth; ++i) in[i] = static_cast<uint8_t>(i * 37 + 11);
  iffjpeg::SampleRow row = in.data();
  iffjpeg::SampleArray input[1] = {&row};
  for (int width = 1; width <= kWidth; ++width) {
    std::vector<uint8_t> a(kWidth + 8, 0xEE), b(kWidth + 8, 0xEE);
    iffjpeg::SampleRow outA = a.data(), outB = b.data();
    {
      ScalarGuard guard(true);
      iffjpeg::ConvertGrey(dec, 0, width, input, &outA);
    }
    iffjpeg::ConvertGrey(dec, 0, width, input, &outB);
    ASSERT_EQ(a, b) << "width " << width;
    ASSERT_TRUE(std::equal(in.begin(), in.begin() + width, b.begin())) << "width " << width;
  }
}

}  // namespace
}  // namespace iffjpeg_test
