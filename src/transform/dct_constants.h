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

}  // namespace iffjpeg::dct
