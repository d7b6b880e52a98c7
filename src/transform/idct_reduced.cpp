#include "transform/idct_reduced.h"

#include <cstring>
#include <type_traits>

#include "transform/dct_constants.h"
#include "transform/idct.h"
#include "transform/transform_kernels.h"

namespace iffjpeg {
namespace {

// The n-point transforms below compute out[x] = sum over u of in[u] x
// basis[x][u], with basis[x][u] = cos((2x + 1) u pi / 2n) in 13-bit fixed
// point and 1 / sqrt(2) for u = 0 (the 8-point transform's normalization).
// They are that matrix product exactly: integer sums in 64 bits, only
// grouped by the basis's symmetry, basis[n - 1 - x][u] = (-1)^u basis[x][u],
// and for n = 8 by its even terms being the 4-point basis.
constexpr int kFractionBits = 13;
// Two passes of 13 fraction bits each, and the 1/4 of the 2-D transform.
constexpr int kDescaleBits = 2 * kFractionBits + 2;

// cos(k pi / 16) in 13-bit fixed point, k = 0..31, from the values of the
// first quadrant by symmetry.
constexpr int32_t CosSixteenth(int32_t k) {
  constexpr int32_t kQuadrant[9] = {8192, 8035, 7568, 6811, 5793, 4551, 3135, 1598, 0};
  k %= 32;
  if (k > 16) k = 32 - k;
  return k <= 8 ? kQuadrant[k] : -kQuadrant[16 - k];
}

constexpr int64_t kHalfRoot2 = 5793;  // 1 / sqrt(2)
constexpr int64_t kCos1 = 7568;       // cos(pi / 8)
constexpr int64_t kCos3 = 3135;       // cos(3 pi / 8)

inline uint8_t ClampSample(int64_t value) {
  int64_t shifted = value + 128;
  return static_cast<uint8_t>(shifted < 0 ? 0 : shifted > 255 ? 255 : shifted);
}

// in[k * stride], k < N, to out[0..N), in T's arithmetic (whose range the
// caller makes sure of).
template <int N, typename T>
void Transform(const T* in, int32_t stride, T* out) {
  constexpr T kR = static_cast<T>(kHalfRoot2), kC1 = static_cast<T>(kCos1),
              kC3 = static_cast<T>(kCos3);
  if constexpr (N == 1) {
    out[0] = in[0] * kR;
  } else if constexpr (N == 2) {
    T even = in[0] * kR, odd = in[stride] * kR;
    out[0] = even + odd;
    out[1] = even - odd;
  } else if constexpr (N == 4) {
    T e0 = (in[0] + in[2 * stride]) * kR;
    T e1 = (in[0] - in[2 * stride]) * kR;
    T o0 = in[stride] * kC1 + in[3 * stride] * kC3;
    T o1 = in[stride] * kC3 - in[3 * stride] * kC1;
    out[0] = e0 + o0;
    out[1] = e1 + o1;
    out[2] = e1 - o1;
    out[3] = e0 - o0;
  } else {
    static_assert(N == 8);
    T even[4];
    Transform<4>(in, 2 * stride, even);
    for (int32_t x = 0; x < 4; ++x) {
      T odd = 0;
      for (int32_t k = 0; k < 4; ++k) {
        odd += in[(2 * k + 1) * stride] * CosSixteenth((2 * x + 1) * (2 * k + 1));
      }
      out[x] = even[x] + odd;
      out[7 - x] = even[x] - odd;
    }
  }
}

// The top-left W coefficients of row v of a block, non-zero when any is.
template <int W>
inline uint64_t RowBits(const int16_t* block, int32_t v) {
  uint64_t bits = 0;
  if constexpr (W == 8) {
    uint64_t high = 0;
    std::memcpy(&bits, block + 8 * v, 8);
    std::memcpy(&high, block + 8 * v + 4, 8);
    bits |= high;
  } else {
    std::memcpy(&bits, block + 8 * v, sizeof(int16_t) * W);
  }
  return bits;
}

// W x H samples from the top-left W x H coefficients: rows, then columns.
// The row pass of up to four terms stays within 32 bits (|in| <= 2^15,
// each output at most 2^15 x (2 x 5793 + 7568 + 3135) < 2^30); the column
// pass needs 64.
// The 2 x 2 transform: every term of both 2-point passes is multiplied by
// 1 / sqrt(2), so each sample is a signed sum of the four terms times its
// square: the very integers the two passes give.
inline void TwoByTwo(const int16_t* block, SampleRow const* rows, int32_t column) {
  constexpr int64_t kSquare = kHalfRoot2 * kHalfRoot2;
  constexpr int64_t kHalf = int64_t{1} << (kDescaleBits - 1);
  const int64_t a = block[0], b = block[1], c = block[8], d = block[9];
  rows[0][column] = ClampSample(((a + b + c + d) * kSquare + kHalf) >> kDescaleBits);
  rows[0][column + 1] = ClampSample(((a - b + c - d) * kSquare + kHalf) >> kDescaleBits);
  rows[1][column] = ClampSample(((a + b - c - d) * kSquare + kHalf) >> kDescaleBits);
  rows[1][column + 1] = ClampSample(((a - b - c + d) * kSquare + kHalf) >> kDescaleBits);
}

template <int W, int H>
void Reduced(const int16_t* block, SampleRow const* rows, int32_t column) {
  if constexpr (W == 2 && H == 2) {
    TwoByTwo(block, rows, column);
    return;
  }
  using RowValue = std::conditional_t<(W <= 4), int32_t, int64_t>;
  // Which rows hold a term, and whether the DC term is the only one.
  uint32_t rowsUsed = 0;
  for (int32_t v = 0; v < H; ++v) rowsUsed |= (RowBits<W>(block, v) != 0 ? 1u : 0u) << v;
  bool acInRowZero = false;
  for (int32_t u = 1; u < W; ++u) acInRowZero = acInRowZero || block[u] != 0;
  if (rowsUsed <= 1 && !acInRowZero) {
    // Both passes of a lone DC term multiply it by 1 / sqrt(2): every
    // sample is the same sum.
    int64_t dc = int64_t{block[0]} * kHalfRoot2 * kHalfRoot2;
    uint8_t value = ClampSample((dc + (int64_t{1} << (kDescaleBits - 1))) >> kDescaleBits);
    for (int32_t y = 0; y < H; ++y) {
      for (int32_t x = 0; x < W; ++x) rows[y][column + x] = value;
    }
    return;
  }
  RowValue in[W];
  int64_t rowPass[H][W];  // [v][x]
  for (int32_t v = 0; v < H; ++v) {
    if ((rowsUsed >> v & 1) == 0) {
      for (int64_t& value : rowPass[v]) value = 0;
      continue;
    }
    for (int32_t u = 0; u < W; ++u) in[u] = block[8 * v + u];
    RowValue pass[W];
    Transform<W>(in, 1, pass);
    for (int32_t x = 0; x < W; ++x) rowPass[v][x] = pass[x];
  }
  if (rowsUsed == 1) {
    // Only row 0: each column's transform is its one term times 1 / sqrt(2)
    // in every row.
    for (int32_t x = 0; x < W; ++x) {
      uint8_t value = ClampSample(
          (rowPass[0][x] * kHalfRoot2 + (int64_t{1} << (kDescaleBits - 1))) >> kDescaleBits);
      for (int32_t y = 0; y < H; ++y) rows[y][column + x] = value;
    }
    return;
  }
  int64_t out[H];
  for (int32_t x = 0; x < W; ++x) {
    Transform<H>(&rowPass[0][x], W, out);
    for (int32_t y = 0; y < H; ++y) {
      rows[y][column + x] =
          ClampSample((out[y] + (int64_t{1} << (kDescaleBits - 1))) >> kDescaleBits);
    }
  }
}

using ReducedFn = ReducedTransform;

// Size 8: the full transform through the kernels the unscaled decoder
// uses, the same samples as InverseDctToSamplesScalar.
void FullEight(const int16_t* block, SampleRow const* rows, int32_t column) {
  if (ClassifyBlock(block) == BlockExtent::kDcOnly) return DcOnlyToSamples(block[0], rows, column);
  SelectedTransformKernels().inverseDctToSamples(block, rows, column);
}

void DcOne(const int16_t* block, SampleRow const* rows, int32_t column) {
  rows[0][column] = ReducedDcSample(block[0]);
}

template <int W>
constexpr ReducedFn Pick(int32_t height) {
  switch (height) {
    case 1:
      return Reduced<W, 1>;
    case 2:
      return Reduced<W, 2>;
    case 4:
      return Reduced<W, 4>;
    default:
      return Reduced<W, 8>;
  }
}

ReducedFn Pick(int32_t width, int32_t height) {
  switch (width) {
    case 1:
      return Pick<1>(height);
    case 2:
      return Pick<2>(height);
    case 4:
      return Pick<4>(height);
    default:
      return Pick<8>(height);
  }
}

}  // namespace

void ReducedTwoRowToSamples(CoefBlock* blocks, int32_t count, SampleRow const* rows, bool clear) {
  for (int32_t b = 0; b < count; ++b) {
    int16_t* block = blocks[b];
    TwoByTwo(block, rows, 2 * b);
    if (clear) {
      std::memset(block, 0, 2 * sizeof(int16_t));
      std::memset(block + 8, 0, 2 * sizeof(int16_t));
    }
  }
}

void ReducedFourToSamplesScalar(const int16_t* block, SampleRow const* rows, int32_t column) {
  Reduced<4, 4>(block, rows, column);
}

ReducedTransform SelectReducedTransform(int32_t width, int32_t height) {
  if (width != height) return Pick(width, height);
  switch (width) {
    case 1:
      return DcOne;
    case 2:
      return Reduced<2, 2>;
    case 4:
      return SelectedTransformKernels().reducedFourToSamples;
    default:
      return FullEight;
  }
}

void ReducedInverseDctToSamples(const int16_t* block, int32_t width, int32_t height,
                                SampleRow const* rows, int32_t column) {
  SelectReducedTransform(width, height)(block, rows, column);
}

void ReducedInverseDctToSamples(const int16_t* block, int32_t size, SampleRow const* rows,
                                int32_t column) {
  SelectReducedTransform(size, size)(block, rows, column);
}

namespace {

inline int16_t Fold(int32_t low, int32_t high, int32_t u) {
  int32_t v = (kFoldKeep[u] * low - kFoldAlias[u] * high + (1 << (kFoldBits - 1))) >> kFoldBits;
  return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}

}  // namespace

void FoldForHalfSizeScalar(int16_t* block, bool across, bool down) {
  if (down) {
    for (int32_t u = 1; u < 4; ++u) {
      for (int32_t c = 0; c < 8; ++c)
        block[8 * u + c] = Fold(block[8 * u + c], block[8 * (8 - u) + c], u);
    }
  }
  if (across) {
    const int32_t rows = down ? 4 : 8;
    for (int32_t r = 0; r < rows; ++r) {
      for (int32_t u = 1; u < 4; ++u)
        block[8 * r + u] = Fold(block[8 * r + u], block[8 * r + 8 - u], u);
    }
  }
}

}  // namespace iffjpeg
