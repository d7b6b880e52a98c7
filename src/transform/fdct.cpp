// Separable forward DCT after Loeffler, Ligtenberg and Moschytz ("Practical
// fast 1-D DCT algorithms with 11 multiplications", 1989): rows first, then
// columns, with 13-bit fixed-point constants. The row pass keeps two extra
// fraction bits; the column pass removes them together with the factor 1/8
// of the 8x8 transform (T.81 A.3.3), so the quantizer divides by the plain
// table value.
#include "transform/fdct.h"

#include <cmath>

#include "transform/dct_constants.h"

namespace iffjpeg {
namespace {

using namespace dct;

// Rounding right shift (halves upward).
constexpr int32_t Descale(int32_t value, int shift) {
  return (value + (int32_t{1} << (shift - 1))) >> shift;
}

// One 8-point transform of the values at p[0], p[stride], ..., p[7 stride].
// Frequencies 0 and 4 need no multiplication: they are scaled by
// evenScaleUp and descaled by evenShift; the others carry the 13-bit
// constants and are descaled by oddShift.
inline void Transform1D(int16_t* p, int stride, int evenScaleUp, int evenShift, int oddShift) {
  int32_t d0 = p[0], d1 = p[stride], d2 = p[2 * stride], d3 = p[3 * stride];
  int32_t d4 = p[4 * stride], d5 = p[5 * stride], d6 = p[6 * stride], d7 = p[7 * stride];

  int32_t s0 = d0 + d7, s7 = d0 - d7;
  int32_t s1 = d1 + d6, s6 = d1 - d6;
  int32_t s2 = d2 + d5, s5 = d2 - d5;
  int32_t s3 = d3 + d4, s4 = d3 - d4;

  // Even part.
  int32_t e10 = s0 + s3, e13 = s0 - s3;
  int32_t e11 = s1 + s2, e12 = s1 - s2;
  int32_t dc = (e10 + e11) * evenScaleUp;
  int32_t f4 = (e10 - e11) * evenScaleUp;
  p[0] = static_cast<int16_t>(evenShift ? Descale(dc, evenShift) : dc);
  p[4 * stride] = static_cast<int16_t>(evenShift ? Descale(f4, evenShift) : f4);
  int32_t z1 = (e12 + e13) * kFix0_541196100;
  p[2 * stride] = static_cast<int16_t>(Descale(z1 + e13 * kFix0_765366865, oddShift));
  p[6 * stride] = static_cast<int16_t>(Descale(z1 - e12 * kFix1_847759065, oddShift));

  // Odd part.
  z1 = s4 + s7;
  int32_t z2 = s5 + s6;
  int32_t z3 = s4 + s6;
  int32_t z4 = s5 + s7;
  int32_t z5 = (z3 + z4) * kFix1_175875602;
  s4 *= kFix0_298631336;
  s5 *= kFix2_053119869;
  s6 *= kFix3_072711026;
  s7 *= kFix1_501321110;
  z1 *= -kFix0_899976223;
  z2 *= -kFix2_562915447;
  z3 *= -kFix1_961570560;
  z4 *= -kFix0_390180644;
  z3 += z5;
  z4 += z5;
  p[7 * stride] = static_cast<int16_t>(Descale(s4 + z1 + z3, oddShift));
  p[5 * stride] = static_cast<int16_t>(Descale(s5 + z2 + z4, oddShift));
  p[3 * stride] = static_cast<int16_t>(Descale(s6 + z2 + z3, oddShift));
  p[1 * stride] = static_cast<int16_t>(Descale(s7 + z1 + z4, oddShift));
}

}  // namespace

void forwardDct(int16_t* block) {
  // Pass 1: rows, keeping kPass1Bits extra fraction bits.
  for (int row = 0; row < 8; ++row) {
    Transform1D(block + 8 * row, 1, 1 << kPass1Bits, 0, kConstBits - kPass1Bits);
  }
  // Pass 2: columns, removing the extra bits and the factor 8.
  for (int col = 0; col < 8; ++col) {
    Transform1D(block + col, 8, 1, kPass1Bits + 3, kConstBits + kPass1Bits + 3);
  }
}

}  // namespace iffjpeg

namespace iffjpeg {

void PrepareQuantDivisors(const uint16_t* quantval, QuantDivisors& divisors) {
  for (int k = 0; k < 64; ++k) {
    int n = zigzagToNatural[k];
    divisors.natural[n] = quantval[k];
    divisors.reciprocal[n] = TruncatingReciprocal(quantval[k]);
  }
}

float TruncatingReciprocal(uint16_t quantizer) {
  auto q = static_cast<int16_t>(quantizer);
  float r = 1.0f / static_cast<float>(q);  // a zero quantizer gives infinity
  // The product of a float and a 16-bit integer is exact in double.
  if (q != 0 && std::fabs(static_cast<double>(r) * q) < 1.0) {
    r = std::nextafter(r, r > 0 ? HUGE_VALF : -HUGE_VALF);
  }
  return r;
}

void ForwardDctQuantizeScalar(SampleRow const* rows, int32_t column, const QuantDivisors& divisors,
                              int16_t* destination) {
  int16_t work[64];
  for (int y = 0; y < 8; ++y) {
    const uint8_t* in = rows[y] + column;
    for (int x = 0; x < 8; ++x) work[8 * y + x] = static_cast<int16_t>(in[x] - 128);
  }
  forwardDct(work);
  for (int k = 0; k < 64; ++k) {
    int n = zigzagToNatural[k];
    destination[k] = QuantizeCoefficient(work[n], divisors.natural[n]);
  }
}

}  // namespace iffjpeg
