#include "support/images.h"

#include <cmath>
#include <cstdio>

// The one translation unit that compiles stb_image, JPEG decoding included:
// it is the independent decoder the tests compare against.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wtype-limits"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#endif
#include "stb_image.h"
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace iffjpeg_test {

Image MakeTestImage(int width, int height, int channels, uint32_t seed) {
  Image img;
  img.width = width;
  img.height = height;
  img.channels = channels;
  img.pixels.resize(static_cast<std::size_t>(width) * height * channels);
  uint32_t state = seed * 2654435761u + 12345u;
  auto noise = [&state]() {
    state = state * 1664525u + 1013904223u;
    return static_cast<int>((state >> 24) % 9) - 4;
  };
  double fx = 0.7 + (seed % 7) * 0.1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double u = width > 1 ? static_cast<double>(x) / (width - 1) : 0.5;
      double v = height > 1 ? static_cast<double>(y) / (height - 1) : 0.5;
      double base[3] = {
          120 + 90 * std::sin(3.1 * u * fx + 1.3 * v),
          110 + 80 * std::cos(2.3 * v * fx - 0.7 * u),
          100 + 70 * std::sin(4.0 * (u + v) + seed),
      };
      // A disc and a bar with hard edges, and a fine checker texture.
      double dx = u - 0.6, dy = v - 0.4;
      bool disc = dx * dx + dy * dy < 0.05;
      bool bar = u > 0.15 && u < 0.25;
      int texture = ((x / 2 + y / 2) % 2) ? 6 : -6;
      for (int c = 0; c < channels; ++c) {
        double value = base[c];
        if (disc) value = 230 - 60 * c;
        if (bar) value = 25 + 20 * c;
        value += texture + noise();
        int s = static_cast<int>(std::lround(value));
        img.pixels[(static_cast<std::size_t>(y) * width + x) * channels + c] =
            static_cast<uint8_t>(s < 0 ? 0 : s > 255 ? 255 : s);
      }
    }
  }
  return img;
}

double Psnr(const Image& a, const Image& b) {
  if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 0.0;
  double sum = 0;
  for (std::size_t i = 0; i < a.pixels.size(); ++i) {
    double d = static_cast<double>(a.pixels[i]) - b.pixels[i];
    sum += d * d;
  }
  if (sum == 0) return 99.0;
  double mse = sum / static_cast<double>(a.pixels.size());
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

int MaxAbsDiff(const Image& a, const Image& b) {
  int worst = 0;
  for (std::size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i) {
    int d = std::abs(static_cast<int>(a.pixels[i]) - b.pixels[i]);
    if (d > worst) worst = d;
  }
  return worst;
}

bool StbDecode(const std::vector<uint8_t>& jpeg, Image* out) {
  int w = 0, h = 0, n = 0;
  if (!stbi_info_from_memory(jpeg.data(), static_cast<int>(jpeg.size()), &w, &h, &n)) return false;
  int want = n == 1 ? 1 : 3;
  unsigned char* data =
      stbi_load_from_memory(jpeg.data(), static_cast<int>(jpeg.size()), &w, &h, &n, want);
  if (data == nullptr) return false;
  out->width = w;
  out->height = h;
  out->channels = want;
  out->pixels.assign(data, data + static_cast<std::size_t>(w) * h * want);
  stbi_image_free(data);
  return true;
}

std::vector<uint8_t> ReadFileBytes(const char* path) {
  std::vector<uint8_t> bytes;
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return bytes;
  unsigned char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(f);
  return bytes;
}

}  // namespace iffjpeg_test
