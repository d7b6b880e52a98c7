#include "transform/idct.h"

#include <cstdint>
#include <cstring>

#include "transform/dct_constants.h"

namespace iffjpeg {
namespace {

using namespace dct;  // the constants are int32_t: every product below is formed in 64 bits

// The sums are those of 32-bit signed arithmetic: they are formed wider and
// brought back modulo 2^32 before the descaling shift, so that corrupt
// coefficients wrap exactly as they would in 32 bits, without overflow.
inline int32_t Wrap32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

// One 8-point transform of in[0], in[stride], ..., in[7 x stride], the full
// formulas throughout; out[0..7] receive the unscaled results.
inline void Transform8(const int16_t* in, int stride, int64_t out[8]) {
  int64_t i0 = in[0], i1 = in[stride], i2 = in[2 * stride], i3 = in[3 * stride];
  int64_t i4 = in[4 * stride], i5 = in[5 * stride], i6 = in[6 * stride], i7 = in[7 * stride];

  // Even part.
  int64_t z1 = (i2 + i6) * kFix0_541196100;
  int64_t t2 = z1 - i6 * kFix1_847759065;
  int64_t t3 = z1 + i2 * kFix0_765366865;
  int64_t t0 = (i0 + i4) << kConstBits;
  int64_t t1 = (i0 - i4) << kConstBits;
  int64_t e10 = t0 + t3, e13 = t0 - t3, e11 = t1 + t2, e12 = t1 - t2;

  // Odd part.
  int64_t o0 = i7, o1 = i5, o2 = i3, o3 = i1;
  RotateOddPart(o0, o1, o2, o3);

  out[0] = e10 + o3;
  out[7] = e10 - o3;
  out[1] = e11 + o2;
  out[6] = e11 - o2;
  out[2] = e12 + o1;
  out[5] = e12 - o1;
  out[3] = e13 + o0;
  out[4] = e13 - o0;
}

inline int16_t Descale(int64_t value, int shift) {
  int32_t wrapped = Wrap32(value + (int64_t{1} << (shift - 1)));
  return static_cast<int16_t>(wrapped >> shift);
}

}  // namespace

void inverseDct(CoefBlock& block) {
  int64_t out[8];
  // Pass 1: rows, keeping kPass1Bits extra fractional bits.
  for (int row = 0; row < 8; ++row) {
    int16_t* r = block + 8 * row;
    if ((r[1] | r[2] | r[3] | r[4] | r[5] | r[6] | r[7]) == 0) {
      // Only the DC term: every output is i0 x 4, as the full formula gives.
      auto dc = static_cast<int16_t>(static_cast<int32_t>(r[0]) * (1 << kPass1Bits));
      for (int x = 0; x < 8; ++x) r[x] = dc;
      continue;
    }
    Transform8(r, 1, out);
    for (int x = 0; x < 8; ++x) r[x] = Descale(out[x], kConstBits - kPass1Bits);
  }
  // Pass 2: columns; removes the pass-1 bits and the 1/8 of the 2-D transform.
  for (int col = 0; col < 8; ++col) {
    int16_t* c = block + col;
    Transform8(c, 8, out);
    for (int y = 0; y < 8; ++y) c[8 * y] = Descale(out[y], kConstBits + kPass1Bits + 3);
  }
}

}  // namespace iffjpeg

namespace iffjpeg {

namespace {

// Level shift and clamp (T.81 A.3.1), for any 16-bit transform output.
inline uint8_t ClampSample(int32_t value) {
  int32_t shifted = value + 128;
  return static_cast<uint8_t>(shifted < 0 ? 0 : shifted > 255 ? 255 : shifted);
}

}  // namespace

void DcOnlyToSamples(int16_t dc, SampleRow const* rows, int32_t column) {
  // Pass 1 gives row 0 the value dc x 4 (kept in 16 bits) and zeros below;
  // pass 2 turns each column into (dc x 4) << 13, descaled by 18 bits.
  auto scaled = static_cast<int16_t>(static_cast<int32_t>(dc) * (1 << kPass1Bits));
  int32_t value = (scaled + (1 << (kPass1Bits + 2))) >> (kPass1Bits + 3);
  uint8_t sample = ClampSample(value);
  // Eight stores of eight bytes, written out: as a loop the compiler keeps
  // its counter and branch for every row.
  const uint64_t fill = sample * uint64_t{0x0101010101010101};
  auto store = [&](int k) { std::memcpy(rows[k] + column, &fill, sizeof fill); };
  store(0);
  store(1);
  store(2);
  store(3);
  store(4);
  store(5);
  store(6);
  store(7);
}

void InverseDctToSamplesScalar(const int16_t* block, SampleRow const* rows, int32_t column) {
  CoefBlock work;
  for (int i = 0; i < 64; ++i) work[i] = block[i];
  inverseDct(work);
  for (int k = 0; k < 8; ++k) {
    uint8_t* out = rows[k] + column;
    for (int x = 0; x < 8; ++x) out[x] = ClampSample(work[8 * k + x]);
  }
}

}  // namespace iffjpeg
