// Test images, comparisons, and the independent cross-check decoder.
#pragma once

#include <cstdint>
#include <vector>

namespace iffjpeg_test {

// Interleaved 8-bit pixels, channels 1 (grey) or 3 (RGB).
struct Image {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<uint8_t> pixels;

  uint8_t* row(int y) { return pixels.data() + static_cast<std::size_t>(y) * width * channels; }
  const uint8_t* row(int y) const {
    return pixels.data() + static_cast<std::size_t>(y) * width * channels;
  }
};

// A photograph-like test image: smooth gradients, a few hard edges, fine
// texture and mild noise, reproducible from the seed.
Image MakeTestImage(int width, int height, int channels, uint32_t seed);

// Peak signal-to-noise ratio in dB over all samples (99 when identical).
double Psnr(const Image& a, const Image& b);

// The largest absolute difference between two images of the same shape.
int MaxAbsDiff(const Image& a, const Image& b);

// Decodes a JPEG held in memory with stb_image, keeping the file's channel
// count (1 or 3). False when stb_image refuses the data.
bool StbDecode(const std::vector<uint8_t>& jpeg, Image* out);

// Reads a whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const char* path);

}  // namespace iffjpeg_test
