// The fast spans of the 2:1 upsamplers against the scalar filters: random
// and extreme rows at every width up to a few vector lengths, through the
// public upsamplers with the fast kernels forced off and on.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "decoder/upsample.h"
#include "platform/cpu_features.h"

namespace iffjpeg_test {
namespace {

using iffjpeg::SampleRow;

class ScalarGuard {
 public:
  explicit ScalarGuard(bool scalar) { iffjpeg::testing::ForceScalarKernels(scalar); }
  ~ScalarGuard() { iffjpeg::testing::ForceScalarKernels(false); }
};

// Rows of one kind: random, only 0 and 255, all 255, or a ramp.
std::vector<uint8_t> Row(std::mt19937& rng, int width, int kind) {
  std::vector<uint8_t> row(static_cast<size_t>(width));
  for (int x = 0; x < width; ++x) {
    switch (kind) {
      case 0:
        row[x] = static_cast<uint8_t>(rng());
        break;
      case 1:
        row[x] = (rng() & 1) ? 255 : 0;
        break;
      case 2:
        row[x] = 255;
        break;
      default:
        row[x] = static_cast<uint8_t>(x * 37);
        break;
    }
  }
  return row;
}

// Runs an upsampler over a slice of `rows` input rows, with the slices above
// and below, with the scalar kernels and with the selected ones.
void CompareUpsampler(iffjpeg::UpsampleFn upsample, int rows, int outRowsPerRow) {
  std::mt19937 rng(31);
  iffjpeg::DecoderState dec{};
  for (int width = 1; width <= 70; ++width) {
    for (int kind = 0; kind < 4; ++kind) {
      std::vector<std::vector<uint8_t>> in;
      for (int r = 0; r < 3 * rows; ++r) in.push_back(Row(rng, width, (kind + r) % 4));
      std::vector<SampleRow> ptrs;
      for (auto& r : in) ptrs.push_back(r.data());
      int outRows = rows * outRowsPerRow;
      // A guard byte after each output row catches a store past 2 x width.
      std::vector<std::vector<uint8_t>> outA(outRows, std::vector<uint8_t>(2 * width + 16, 0xA5));
      std::vector<std::vector<uint8_t>> outB = outA;
      std::vector<SampleRow> pa, pb;
      for (auto& r : outA) pa.push_back(r.data());
      for (auto& r : outB) pb.push_back(r.data());
      {
        ScalarGuard guard(true);
        upsample(dec, 0, width, rows, 2 * width, outRows, ptrs.data(), ptrs.data() + rows,
                 ptrs.data() + 2 * rows, pa.data());
      }
      upsample(dec, 0, width, rows, 2 * width, outRows, ptrs.data(), ptrs.data() + rows,
               ptrs.data() + 2 * rows, pb.data());
      ASSERT_EQ(outA, outB) << "width " << width << " kind " << kind;
    }
  }
}

TEST(UpsampleSimd, DoubleHMatchesScalar) { CompareUpsampler(iffjpeg::UpsampleDoubleH, 4, 1); }

TEST(UpsampleSimd, DoubleHVMatchesScalar) { CompareUpsampler(iffjpeg::UpsampleDoubleHV, 3, 2); }

// The filters themselves, on a case small enough to work by hand.
TEST(UpsampleSimd, TriangleFilterValues) {
  iffjpeg::DecoderState dec{};
  uint8_t near[3] = {0, 100, 255}, far[3] = {255, 0, 0};
  SampleRow above = far, current = near, below = far;
  uint8_t o0[6], o1[6];
  SampleRow out[2] = {o0, o1};
  iffjpeg::UpsampleDoubleHV(dec, 0, 3, 1, 6, 2, &above, &current, &below, out);
  // Column sums 3 near + far: 255, 300, 765.
  const uint8_t expected[6] = {64, 67, 72, 104, 162, 191};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(o0[i], expected[i]) << i;
  SampleRow row = near;
  uint8_t h[6];
  SampleRow hout = h;
  iffjpeg::UpsampleDoubleH(dec, 0, 3, 1, 6, 1, nullptr, &row, nullptr, &hout);
  const uint8_t expectedH[6] = {0, 25, 75, 139, 216, 255};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(h[i], expectedH[i]) << i;
}

}  // namespace
}  // namespace iffjpeg_test
