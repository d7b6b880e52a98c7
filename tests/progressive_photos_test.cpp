// The progressive photographs of the desktop backgrounds package, read in
// extended mode through the public entry points and compared with an
// independent decoder (stb_image). Skipped when the package is absent.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "iffjpeg.h"
#include "support/decode_helpers.h"
#include "support/images.h"

namespace {

using namespace iffjpeg_test;

constexpr const char* kBackgrounds = "/usr/share/backgrounds/mate/";

void ExpectMatchesIndependentDecoder(const std::string& name) {
  SCOPED_TRACE(name);
  std::vector<uint8_t> jpeg = ReadFileBytes((kBackgrounds + name).c_str());
  if (jpeg.empty()) GTEST_SKIP() << "mate-backgrounds is not installed";
  Image reference;
  ASSERT_TRUE(StbDecode(jpeg, &reference));
  EXPECT_LT(DecodeWithLibrary(jpeg).openResult, 0) << "the default mode refuses progressive files";
  DecodeResult got = DecodeWithLibrary(jpeg, IFF_MODE_EXTENDED);
  ASSERT_GT(got.openResult, 0);
  EXPECT_EQ(got.width, reference.width);
  EXPECT_EQ(got.height, reference.height);
  EXPECT_EQ(got.planes, 3);
  int bad = 0;
  for (int32_t code : got.lineCodes) bad += code != 0;
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(got.closeResult, 0);
  double psnr = Psnr(got.image, reference);
  EXPECT_GE(psnr, 45.0);
  testing::Test::RecordProperty("psnr", std::to_string(psnr));
  printf("  %s: PSNR vs stb_image %.2f dB\n", name.c_str(), psnr);
}

TEST(ProgressivePhotos, MatchIndependentDecoder) {
  for (const char* name : {"nature/FreshFlower.jpg", "nature/GreenMeadow.jpg",
                           "abstract/Elephants.jpg", "abstract/Elephants_3840x2160.jpg"}) {
    ExpectMatchesIndependentDecoder(name);
  }
}

// The largest of them (5640 x 3172, 4:2:2): its coefficients need more than
// the default 64 MiB, so part of them goes through the backing store.
TEST(ProgressivePhotosLarge, LargestMatchesIndependentDecoder) {
  ExpectMatchesIndependentDecoder("abstract/Elephants_5640x3172.jpg");
}

}  // namespace
