// Whole files written through the entry points and decoded by stb_image.
#include <gtest/gtest.h>

#include "support/encoder_harness.h"
#include "support/images.h"
#include "support/memory_file.h"

namespace {

using namespace iffjpeg_test;

TEST(EncoderRoundTrip, Smoke) {
  for (int channels : {1, 3}) {
    Image img = MakeTestImage(100, 50, channels, 7);
    MemoryFile file;
    ASSERT_EQ(EncodeImage(img, file), 0);
    Image out;
    ASSERT_TRUE(StbDecode(file.data, &out));
    ASSERT_EQ(out.width, 100);
    ASSERT_EQ(out.channels, channels);
    printf("psnr %f size %zu\n", Psnr(img, out), file.data.size());
  }
}

}  // namespace
