// Every fast kernel against its scalar twin: random and extreme inputs for
// each kernel, then whole files in every layout decoded and encoded with the
// fast paths forced off and on. Output must be identical to the bit.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "platform/kernels.h"
#include "support/decode_helpers.h"
#include "support/encoder_harness.h"
#include "support/images.h"
#include "support/jpeg_builder.h"
#include "support/memory_file.h"

namespace iffjpeg_test {
namespace {

using iffjpeg::Kernels;

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
  CompareIdct(iffjpeg::SelectedKernels().inverseDctToSamples);
}

#if defined(IFFJPEG_HAVE_SSE2)
TEST(SimdEquality, InverseDctSse2MatchesScalar) { CompareIdct(iffjpeg::InverseDctToSamplesSse2); }
#endif

TEST(SimdEquality, ScalarKernelsAreForcedAndRestored) {
  {
    ScalarGuard guard(true);
    EXPECT_EQ(&iffjpeg::SelectedKernels(), &iffjpeg::ScalarKernels());
  }
#if defined(IFFJPEG_HAVE_SSE2)
  EXPECT_NE(iffjpeg::SelectedKernels().inverseDctToSamples,
            iffjpeg::ScalarKernels().inverseDctToSamples);
#endif
}

// ---- Whole files ----------------------------------------------------------

DecodeResult DecodeBoth(const std::vector<uint8_t>& jpeg, DecodeResult* scalar) {
  {
    ScalarGuard guard(true);
    *scalar = DecodeWithLibrary(jpeg);
  }
  return DecodeWithLibrary(jpeg);
}

void ExpectSameDecode(const std::vector<uint8_t>& jpeg, const char* what) {
  DecodeResult scalar;
  DecodeResult fast = DecodeBoth(jpeg, &scalar);
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
      for (auto [w, h] :
           {std::pair{1, 1}, std::pair{17, 9}, std::pair{61, 35}, std::pair{130, 67}}) {
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

std::vector<uint8_t> EncodeWith(bool scalar, const Image& img, int quality) {
  ScalarGuard guard(scalar);
  MemoryFile file;
  EncodeOptions options;
  options.quality = quality;
  EXPECT_EQ(0, EncodeImage(img, file, options));
  return file.data;
}

TEST(SimdEquality, EncodesIdentically) {
  for (int channels : {1, 3}) {
    for (int quality : {1, 50, 75, 100}) {
      for (auto [w, h] : {std::pair{1, 1}, std::pair{19, 13}, std::pair{97, 41}}) {
        Image img = MakeTestImage(w, h, channels, static_cast<uint32_t>(quality + w));
        EXPECT_EQ(EncodeWith(true, img, quality), EncodeWith(false, img, quality))
            << channels << " channels q" << quality << " " << w << "x" << h;
      }
    }
  }
}

}  // namespace
}  // namespace iffjpeg_test
