// The inverse DCT: exact values for simple blocks, and agreement with the
// real-valued transform of T.81 A.3.3 on arbitrary blocks.
#include "transform/idct.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "transform/idct_reduced.h"

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

namespace {

// The reduced transforms as the plain matrix product they stand for:
// basis[x][u] = cos((2x + 1) u pi / 2n) in 13-bit fixed point, 1 / sqrt(2)
// for u = 0, rows then columns in 64 bits, descaled by 2 x 13 + 2 bits.
int64_t BasisValue(int n, int x, int u) {
  if (u == 0) return 5793;
  return static_cast<int64_t>(std::lround(8192.0 * std::cos((2 * x + 1) * u * M_PI / (2 * n))));
}

void ReferenceReduced(const int16_t* block, int w, int h, uint8_t* out) {
  int64_t rows[8][8];
  for (int v = 0; v < h; ++v) {
    for (int x = 0; x < w; ++x) {
      rows[v][x] = 0;
      for (int u = 0; u < w; ++u) rows[v][x] += block[8 * v + u] * BasisValue(w, x, u);
    }
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int64_t sum = 0;
      for (int v = 0; v < h; ++v) sum += rows[v][x] * BasisValue(h, y, v);
      int64_t value = ((sum + (int64_t{1} << 27)) >> 28) + 128;
      out[8 * y + x] = static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
    }
  }
}

}  // namespace

// Every width x height the scaled decoder uses (the square 8 and 1 have
// their own formulas) against the matrix product, on random and extreme
// blocks.
TEST(ReducedInverseDct, SeparableTransformsEqualTheMatrixProduct) {
  std::mt19937 rng(41);
  const int sizes[] = {1, 2, 4, 8};
  for (int trial = 0; trial < 400; ++trial) {
    int16_t block[64];
    for (int k = 0; k < 64; ++k) {
      int limit = trial % 4 == 0 ? 32767 : (k == 0 ? 2047 : 300);
      block[k] = static_cast<int16_t>(static_cast<int>(rng() % (2 * limit + 1)) - limit);
      if (trial % 3 == 1 && rng() % 2 == 0) block[k] = 0;
    }
    // A lone DC term inside the window, terms outside it.
    if (trial % 5 == 2) {
      for (int v = 0; v < 4; ++v) {
        for (int u = 0; u < 4; ++u) block[8 * v + u] = 0;
      }
      block[0] = static_cast<int16_t>(trial * 7 - 1400);
    }
    // Terms in the first row only: the column pass of one term.
    if (trial % 7 == 3) {
      for (int k = 8; k < 64; ++k) block[k] = 0;
    }
    for (int w : sizes) {
      for (int h : sizes) {
        if (w == h && (w == 8 || w == 1)) continue;
        uint8_t got[64] = {}, want[64] = {};
        iffjpeg::SampleRow rows[8];
        for (int y = 0; y < 8; ++y) rows[y] = got + 8 * y;
        iffjpeg::ReducedInverseDctToSamples(block, w, h, rows, 0);
        ReferenceReduced(block, w, h, want);
        ASSERT_EQ(0, std::memcmp(got, want, sizeof got)) << w << "x" << h << " trial " << trial;
      }
    }
  }
}
