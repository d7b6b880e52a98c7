// The inverse DCT: exact values for simple blocks, and agreement with the
// real-valued transform of T.81 A.3.3 on arbitrary blocks.
#include "transform/idct.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace {

using iffjpeg::CoefBlock;
using iffjpeg::inverseDct;

CoefBlock& Zeroed(CoefBlock& block) {
  std::memset(block, 0, sizeof block);
  return block;
}

TEST(InverseDct, SingleCoefficientBlocks) {
  CoefBlock block;
  inverseDct(Zeroed(block));
  for (int16_t v : block) EXPECT_EQ(v, 0);

  Zeroed(block)[0] = 100;
  inverseDct(block);
  for (int16_t v : block) EXPECT_EQ(v, 13);

  const int16_t ramp[8] = {17, 15, 10, 3, -3, -10, -15, -17};
  Zeroed(block)[1] = 100;  // u = 1, v = 0: varies along each row
  inverseDct(block);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) EXPECT_EQ(block[8 * y + x], ramp[x]) << y << "," << x;
  }
  Zeroed(block)[8] = 100;  // u = 0, v = 1: varies down each column
  inverseDct(block);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) EXPECT_EQ(block[8 * y + x], ramp[y]) << y << "," << x;
  }
}

TEST(InverseDct, CloseToRealTransformOnRandomBlocks) {
  std::mt19937 rng(12345);
  // Sparse blocks: many rows hold only their DC term and take the shortcut.
  std::uniform_int_distribution<int> dc(-1024, 1016), ac(-200, 200), sparse(0, 3);
  double worst = 0;
  for (int trial = 0; trial < 500; ++trial) {
    CoefBlock block;
    double coef[64];
    for (int i = 0; i < 64; ++i) {
      int value = i == 0 ? dc(rng) : (sparse(rng) == 0 ? ac(rng) : 0);
      block[i] = static_cast<int16_t>(value);
      coef[i] = value;
    }
    inverseDct(block);
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) {
        double sum = 0;
        for (int v = 0; v < 8; ++v) {
          for (int u = 0; u < 8; ++u) {
            double cu = u == 0 ? std::sqrt(0.5) : 1.0, cv = v == 0 ? std::sqrt(0.5) : 1.0;
            sum += cu * cv * coef[8 * v + u] * std::cos((2 * x + 1) * u * M_PI / 16) *
                   std::cos((2 * y + 1) * v * M_PI / 16);
          }
        }
        worst = std::max(worst, std::fabs(sum / 4 - block[8 * y + x]));
      }
    }
  }
  EXPECT_LE(worst, 1.5);
}

// Coefficients at the limits of 16 bits (only corrupt data gives them) must
// transform without overflow faults; the sanitizers would report any.
TEST(InverseDct, ExtremeCoefficientsAreSafe) {
  CoefBlock block;
  for (int16_t fill : {int16_t{32767}, int16_t{-32768}}) {
    for (int16_t& v : block) v = fill;
    inverseDct(block);
    for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(i % 2 ? 32767 : -32768);
    inverseDct(block);
  }
  SUCCEED();
}

}  // namespace
