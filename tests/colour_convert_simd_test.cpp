// The RGB-to-YCbCr row kernel against the table loop: every one of the
// 2^24 colours, then every tail length, with the fast kernels forced off
// and on.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "encoder/colour_convert.h"
#include "platform/cpu_features.h"
#include "support/encoder_harness.h"

namespace iffjpeg_test {
namespace {

using iffjpeg::SampleArray;
using iffjpeg::SampleRow;

class ScalarGuard {
 public:
  explicit ScalarGuard(bool scalar) { iffjpeg::testing::ForceScalarKernels(scalar); }
  ~ScalarGuard() { iffjpeg::testing::ForceScalarKernels(false); }
};

// Converts one RGB line of `width` pixels, with the scalar path or not.
class LineConverter {
 public:
  explicit LineConverter(int32_t width) : width_(width) {
    EXPECT_TRUE(iffjpeg::BuildRgbYccTable(h_.enc()));
    h_.enc().imageWidth = width;
    for (auto& p : planes_) p.assign(static_cast<size_t>(width) + 8, 0xEE);
  }
  std::vector<uint8_t> Convert(std::vector<uint8_t>& rgb, bool scalar) {
    ScalarGuard guard(scalar);
    h_.handle().currentLine = rgb.data();
    SampleRow rows[3] = {planes_[0].data(), planes_[1].data(), planes_[2].data()};
    SampleArray view[3] = {&rows[0], &rows[1], &rows[2]};
    iffjpeg::ConvertRgbToYcc(h_.handle(), h_.enc(), 0, view);
    std::vector<uint8_t> out;
    for (auto& p : planes_) out.insert(out.end(), p.begin(), p.end());
    return out;
  }

 private:
  EncoderHarness h_;
  int32_t width_;
  std::vector<uint8_t> planes_[3];
};

TEST(ColourConvertSimd, EveryColourMatchesTheTable) {
  constexpr int32_t kWidth = 4096;
  LineConverter converter(kWidth);
  std::vector<uint8_t> rgb(3 * kWidth);
  for (int line = 0; line < 4096; ++line) {
    for (int i = 0; i < kWidth; ++i) {
      rgb[3 * i] = static_cast<uint8_t>(line >> 4);
      rgb[3 * i + 1] = static_cast<uint8_t>(((line & 15) << 4) | (i >> 8));
      rgb[3 * i + 2] = static_cast<uint8_t>(i);
    }
    ASSERT_EQ(converter.Convert(rgb, true), converter.Convert(rgb, false)) << "line " << line;
  }
}

TEST(ColourConvertSimd, EveryTailLength) {
  for (int32_t width = 1; width <= 41; ++width) {
    LineConverter converter(width);
    std::vector<uint8_t> rgb(3 * static_cast<size_t>(width));
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 97 + width);
    ASSERT_EQ(converter.Convert(rgb, true), converter.Convert(rgb, false)) << "width " << width;
  }
}

}  // namespace
}  // namespace iffjpeg_test
