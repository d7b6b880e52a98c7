// Files from an independent encoder (stb_image_write, which codes every
// image, grey ones too, as three components), read through the public entry
// points and compared with an independent decoder (stb_image).
#include <gtest/gtest.h>

#include "support/decode_helpers.h"
#include "support/images.h"

namespace {

using namespace iffjpeg_test;

TEST(DecoderForeignFiles, MatchIndependentDecoder) {
  struct Case {
    int width, height, channels, quality;
  } cases[] = {{64, 48, 3, 75}, {17, 9, 3, 80}, {100, 50, 3, 95}, {1, 1, 3, 75},
               {33, 70, 1, 75}, {1, 1, 1, 90},  {250, 3, 3, 60}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.width << "x" << c.height << "x" << c.channels << " q" << c.quality);
    Image source = MakeTestImage(c.width, c.height, c.channels, 7);
    std::vector<uint8_t> jpeg = StbEncode(source, c.quality);
    Image reference;
    ASSERT_TRUE(StbDecode(jpeg, &reference));
    DecodeResult got = DecodeWithLibrary(jpeg);
    ASSERT_GT(got.openResult, 0);
    EXPECT_EQ(got.width, c.width);
    EXPECT_EQ(got.height, c.height);
    EXPECT_EQ(got.planes, 3);  // this encoder always writes three components
    for (int32_t code : got.lineCodes) EXPECT_EQ(code, 0);
    EXPECT_EQ(got.closeResult, 0);
    double psnr = Psnr(got.image, reference);
    EXPECT_GT(psnr, 40.0);
    RecordProperty("psnr", std::to_string(psnr));
    printf("  %dx%dx%d q%d: PSNR vs stb_image %.2f dB, vs source %.2f dB\n", c.width, c.height,
           c.channels, c.quality, psnr, c.channels == 3 ? Psnr(got.image, source) : 0.0);
  }
}

}  // namespace
