#include "transform/idct_reduced.h"

#include "transform/dct_constants.h"
#include "transform/idct.h"

namespace iffjpeg {
namespace {

// cos((2x + 1) u pi / 2n) in 13-bit fixed point, u = 0 taking 1 / sqrt(2);
// [x][u] for n = 4 and n = 2.
constexpr int32_t kHalfRoot2 = 5793;  // 0.70710678
constexpr int32_t kCos1 = 7568;       // cos(pi / 8)
constexpr int32_t kCos3 = 3135;       // cos(3 pi / 8)
constexpr int32_t kBasis4[4][4] = {{kHalfRoot2, kCos1, kHalfRoot2, kCos3},
                                   {kHalfRoot2, kCos3, -kHalfRoot2, -kCos1},
                                   {kHalfRoot2, -kCos3, -kHalfRoot2, kCos1},
                                   {kHalfRoot2, -kCos1, kHalfRoot2, -kCos3}};
constexpr int32_t kBasis2[2][2] = {{kHalfRoot2, kHalfRoot2}, {kHalfRoot2, -kHalfRoot2}};
constexpr int kFractionBits = 13;
// Two passes of 13 fraction bits each, and the 1/4 of the 2-D transform.
constexpr int kDescaleBits = 2 * kFractionBits + 2;

inline uint8_t ClampSample(int64_t value) {
  int64_t shifted = value + 128;
  return static_cast<uint8_t>(shifted < 0 ? 0 : shifted > 255 ? 255 : shifted);
}

template <int N>
void Reduced(const int16_t* block, const int32_t (&basis)[N][N], SampleRow const* rows,
             int32_t column) {
  int64_t rowPass[N][N];  // [v][x]
  for (int v = 0; v < N; ++v) {
    for (int x = 0; x < N; ++x) {
      int64_t sum = 0;
      for (int u = 0; u < N; ++u) sum += int64_t{block[8 * v + u]} * basis[x][u];
      rowPass[v][x] = sum;
    }
  }
  for (int y = 0; y < N; ++y) {
    uint8_t* out = rows[y] + column;
    for (int x = 0; x < N; ++x) {
      int64_t sum = 0;
      for (int v = 0; v < N; ++v) sum += rowPass[v][x] * basis[y][v];
      out[x] = ClampSample((sum + (int64_t{1} << (kDescaleBits - 1))) >> kDescaleBits);
    }
  }
}

// cos(k pi / 16) in 13-bit fixed point, k = 0..31, from the seven values of
// the first quadrant by symmetry.
constexpr int32_t CosSixteenth(int32_t k) {
  constexpr int32_t kQuadrant[9] = {8192, 8035, 7568, 6811, 5793, 4551, 3135, 1598, 0};
  k %= 32;
  if (k > 16) k = 32 - k;
  return k <= 8 ? kQuadrant[k] : -kQuadrant[16 - k];
}

// basis[x][u] of the n-point transform (n = 1, 2, 4, 8) with the 8-point
// normalization: cos((2x + 1) u pi / 2n), 1 / sqrt(2) for u = 0.
struct Basis {
  int32_t t[8][8];
};
constexpr Basis MakeBasis(int32_t n) {
  Basis b{};
  for (int32_t x = 0; x < n; ++x) {
    for (int32_t u = 0; u < n; ++u) {
      b.t[x][u] = u == 0 ? kHalfRoot2 : CosSixteenth((2 * x + 1) * u * (8 / n));
    }
  }
  return b;
}
constexpr Basis kBases[4] = {MakeBasis(1), MakeBasis(2), MakeBasis(4), MakeBasis(8)};

const Basis& BasisOf(int32_t n) { return kBases[n == 1 ? 0 : n == 2 ? 1 : n == 4 ? 2 : 3]; }

}  // namespace

void ReducedInverseDctToSamples(const int16_t* block, int32_t width, int32_t height,
                                SampleRow const* rows, int32_t column) {
  if (width == height) return ReducedInverseDctToSamples(block, width, rows, column);
  const Basis& across = BasisOf(width);
  const Basis& down = BasisOf(height);
  int64_t rowPass[8][8];  // [v][x]
  for (int32_t v = 0; v < height; ++v) {
    for (int32_t x = 0; x < width; ++x) {
      int64_t sum = 0;
      for (int32_t u = 0; u < width; ++u) sum += int64_t{block[8 * v + u]} * across.t[x][u];
      rowPass[v][x] = sum;
    }
  }
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* out = rows[y] + column;
    for (int32_t x = 0; x < width; ++x) {
      int64_t sum = 0;
      for (int32_t v = 0; v < height; ++v) sum += rowPass[v][x] * down.t[y][v];
      out[x] = ClampSample((sum + (int64_t{1} << (kDescaleBits - 1))) >> kDescaleBits);
    }
  }
}

void ReducedInverseDctToSamples(const int16_t* block, int32_t size, SampleRow const* rows,
                                int32_t column) {
  if (size == 8) return InverseDctToSamplesScalar(block, rows, column);
  if (size == 4) return Reduced<4>(block, kBasis4, rows, column);
  if (size == 2) return Reduced<2>(block, kBasis2, rows, column);
  // As DcOnlyToSamples: pass 1 keeps dc x 4 in 16 bits, pass 2 descales it.
  using dct::kPass1Bits;
  auto scaled = static_cast<int16_t>(static_cast<int32_t>(block[0]) * (1 << kPass1Bits));
  int32_t value = (scaled + (1 << (kPass1Bits + 2))) >> (kPass1Bits + 3);
  rows[0][column] = ClampSample(value);
}

}  // namespace iffjpeg
