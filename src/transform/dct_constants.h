// The fixed-point constants both integer DCTs are built on (idct.cpp and
// fdct.cpp, after Loeffler, Ligtenberg and Moschytz): each the real factor
// x 2^13, rounded, and the scaling of the two passes. transform_lanes.h
// pairs the same values for pmaddwd and checks them against these.
#pragma once

#include <cstdint>

namespace iffjpeg::dct {

inline constexpr int kConstBits = 13;  // fraction bits of the constants
inline constexpr int kPass1Bits = 2;   // extra fraction bits kept between the passes

inline constexpr int32_t kFix0_298631336 = 2446;
inline constexpr int32_t kFix0_390180644 = 3196;
inline constexpr int32_t kFix0_541196100 = 4433;
inline constexpr int32_t kFix0_765366865 = 6270;
inline constexpr int32_t kFix0_899976223 = 7373;
inline constexpr int32_t kFix1_175875602 = 9633;
inline constexpr int32_t kFix1_501321110 = 12299;
inline constexpr int32_t kFix1_847759065 = 15137;
inline constexpr int32_t kFix1_961570560 = 16069;
inline constexpr int32_t kFix2_053119869 = 16819;
inline constexpr int32_t kFix2_562915447 = 20995;
inline constexpr int32_t kFix3_072711026 = 25172;

// The odd half of the 8-point transform, the same rotations in both
// directions: a, b, c, d are s4..s7 of the forward transform (the
// differences d3 - d4, d2 - d5, d1 - d6, d0 - d7) or in[7], in[5], in[3],
// in[1] of the inverse, and come back as the four products the outputs take
// (forward: frequencies 7, 5, 3, 1; inverse: added to and taken from the
// even part). T is the width the caller's sums need.
template <class T>
constexpr void RotateOddPart(T& a, T& b, T& c, T& d) {
  T z1 = a + d;
  T z2 = b + c;
  T z3 = a + c;
  T z4 = b + d;
  T z5 = (z3 + z4) * kFix1_175875602;
  a *= kFix0_298631336;
  b *= kFix2_053119869;
  c *= kFix3_072711026;
  d *= kFix1_501321110;
  z1 *= -kFix0_899976223;
  z2 *= -kFix2_562915447;
  z3 *= -kFix1_961570560;
  z4 *= -kFix0_390180644;
  z3 += z5;
  z4 += z5;
  // Summed left to right, as the forward transform's 32-bit sums have
  // always been formed (the inverse's are 64 bits wide: any order is exact).
  a = a + z1 + z3;
  b = b + z2 + z4;
  c = c + z2 + z3;
  d = d + z1 + z4;
}

}  // namespace iffjpeg::dct
