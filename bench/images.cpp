// Test images: photographs from disk (decoded by the peer), cut and tiled to
// the sizes measured, and their JPEG forms written by the peer.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench.h"

extern "C" {
#include "stb_image.h"
#include "stb_image_write.h"
}

namespace iffjpeg_bench {
namespace {

// Index into 0..size-1, mirroring at both ends (so tiles meet seamlessly).
int32_t Mirror(int32_t i, int32_t size) {
  if (size == 1) return 0;
  int32_t period = 2 * size - 2;
  i %= period;
  if (i < 0) i += period;
  return i < size ? i : period - i;
}

void CopyCell(const Image& photo, Image& out, int32_t x0, int32_t y0, int32_t w, int32_t h) {
  // Centre the cell on the photograph; mirror where it reaches past it.
  int32_t ox = (photo.width - w) / 2;
  int32_t oy = (photo.height - h) / 2;
  for (int32_t y = 0; y < h; ++y) {
    int32_t sy = Mirror(oy + y, photo.height);
    for (int32_t x = 0; x < w; ++x) {
      int32_t sx = Mirror(ox + x, photo.width);
      const uint8_t* s = &photo.pixels[(static_cast<size_t>(sy) * photo.width + sx) * 3];
      uint8_t* d = &out.pixels[(static_cast<size_t>(y0 + y) * out.width + x0 + x) * 3];
      std::memcpy(d, s, 3);
    }
  }
}

Image Synthetic(int32_t width, int32_t height) {
  Image img{width, height, 3, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3), {}};
  uint32_t seed = 12345;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      int noise = static_cast<int>((seed >> 24) & 15) - 8;
      uint8_t* p = &img.pixels[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>(std::clamp((x * 255) / std::max(1, width - 1) + noise, 0, 255));
      p[1] = static_cast<uint8_t>(std::clamp((y * 255) / std::max(1, height - 1) + noise, 0, 255));
      p[2] = static_cast<uint8_t>(std::clamp(((x ^ y) & 255) / 2 + 64 + noise, 0, 255));
    }
  }
  return img;
}

void AppendBytes(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  auto* bytes = static_cast<uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
}

// The frame header of a JPEG file: the offset of its SOFn marker, found by
// walking the marker segments from SOI (T.81 B.1.1), or 0.
size_t FrameHeader(const std::vector<uint8_t>& b) {
  if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8) return 0;
  size_t i = 2;
  while (i + 4 <= b.size()) {
    if (b[i] != 0xFF) return 0;
    int code = b[i + 1];
    if (code == 0xFF) {
      ++i;  // fill byte
      continue;
    }
    if (code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC) {
      return i;
    }
    if (code == 0xD9 || code == 0xDA) return 0;
    i += 2 + ((static_cast<size_t>(b[i + 2]) << 8) | b[i + 3]);
  }
  return 0;
}

// The frame type: the SOFn marker code of the first frame header, or 0.
int FrameMarker(const std::vector<uint8_t>& b) {
  size_t at = FrameHeader(b);
  return at == 0 ? 0 : b[at + 1];
}

// The sampling of the frame (T.81 B.2.2): the usual names for one
// component and for three whose second and third are 1x1, else the
// factors.
std::string FrameSampling(const std::vector<uint8_t>& b) {
  size_t at = FrameHeader(b);
  if (at == 0 || at + 10 > b.size()) return "?";
  int components = b[at + 9];
  if (at + 10 + 3 * static_cast<size_t>(components) > b.size()) return "?";
  if (components == 1) return "grey";
  std::string factors;
  bool chromaFull = true;
  for (int c = 0; c < components; ++c) {
    int hv = b[at + 10 + 3 * c + 1];
    if (c > 0 && hv != 0x11) chromaFull = false;
    if (c > 0) factors += ",";
    factors += std::to_string(hv >> 4) + "x" + std::to_string(hv & 15);
  }
  if (components == 3 && chromaFull) {
    int hv = b[at + 11];
    if (hv == 0x11) return "4:4:4";
    if (hv == 0x21) return "4:2:2";
    if (hv == 0x22) return "4:2:0";
  }
  return factors;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
      bytes.insert(bytes.end(), buffer, buffer + n);
    }
    std::fclose(f);
  }
  return bytes;
}

}  // namespace

std::vector<JpegFile> LoadProgressiveFiles(const std::vector<std::string>& directories) {
  std::vector<JpegFile> files;
  for (const std::string& dir : directories) {
    std::error_code ec;
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
      std::string ext = entry.path().extension().string();
      if (ext == ".jpg" || ext == ".jpeg") paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
      JpegFile file;
      file.name = path.filename().string();
      file.bytes = ReadWholeFile(path.string());
      if (FrameMarker(file.bytes) != 0xC2) continue;
      int w = 0, h = 0, c = 0;
      if (!stbi_info_from_memory(file.bytes.data(), static_cast<int>(file.bytes.size()), &w, &h,
                                 &c)) {
        continue;
      }
      file.pixels = int64_t{w} * h;
      files.push_back(std::move(file));
    }
  }
  std::stable_sort(files.begin(), files.end(),
                   [](const JpegFile& a, const JpegFile& b) { return a.pixels > b.pixels; });
  return files;
}

std::vector<ShippedFile> LoadShippedFiles(const std::vector<std::string>& paths) {
  std::vector<ShippedFile> files;
  for (const std::string& path : paths) {
    ShippedFile shipped;
    shipped.file.name = std::filesystem::path(path).filename().string();
    shipped.file.bytes = ReadWholeFile(path);
    int w = 0, h = 0, c = 0;
    if (shipped.file.bytes.empty() ||
        !stbi_info_from_memory(shipped.file.bytes.data(),
                               static_cast<int>(shipped.file.bytes.size()), &w, &h, &c)) {
      continue;
    }
    shipped.file.pixels = int64_t{w} * h;
    shipped.layout = FrameSampling(shipped.file.bytes);
    files.push_back(std::move(shipped));
  }
  return files;
}

std::vector<Image> LoadPhotographs(const std::vector<std::string>& directories) {
  std::vector<Image> photos;
  for (const std::string& dir : directories) {
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
      std::string ext = entry.path().extension().string();
      if (ext == ".jpg" || ext == ".jpeg") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      int w = 0, h = 0, c = 0;
      uint8_t* data = stbi_load(file.string().c_str(), &w, &h, &c, 3);
      if (data == nullptr) continue;
      Image img{w, h, 3, std::vector<uint8_t>(data, data + static_cast<size_t>(w) * h * 3),
                file.stem().string()};
      stbi_image_free(data);
      photos.push_back(std::move(img));
    }
  }
  std::stable_sort(photos.begin(), photos.end(), [](const Image& a, const Image& b) {
    return static_cast<int64_t>(a.width) * a.height > static_cast<int64_t>(b.width) * b.height;
  });
  return photos;
}

Image ComposeImage(const std::vector<Image>& photos, int32_t width, int32_t height) {
  if (photos.empty()) return Synthetic(width, height);
  Image out{width, height, 3, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3), {}};
  const Image& largest = photos.front();
  if (largest.width >= width && largest.height >= height) {
    CopyCell(largest, out, 0, 0, width, height);
    return out;
  }
  // A grid of cells no larger than a typical photograph here.
  int32_t cols = (width + 1919) / 1920;
  int32_t rows = (height + 1199) / 1200;
  size_t next = 0;
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < cols; ++c) {
      int32_t x0 = c * width / cols, x1 = (c + 1) * width / cols;
      int32_t y0 = r * height / rows, y1 = (r + 1) * height / rows;
      CopyCell(photos[next++ % photos.size()], out, x0, y0, x1 - x0, y1 - y0);
    }
  }
  return out;
}

Image ToGrey(const Image& rgb) {
  Image grey{rgb.width, rgb.height, 1, std::vector<uint8_t>(rgb.pixels.size() / 3), {}};
  for (size_t i = 0; i < grey.pixels.size(); ++i) {
    const uint8_t* p = &rgb.pixels[3 * i];
    grey.pixels[i] = static_cast<uint8_t>((299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000);
  }
  return grey;
}

std::vector<uint8_t> StbEncode(const Image& image, int quality) {
  std::vector<uint8_t> out;
  out.reserve(image.pixels.size() / 2 + 4096);
  stbi_write_jpg_to_func(AppendBytes, &out, image.width, image.height, image.planes,
                         image.pixels.data(), quality);
  return out;
}

bool StbDecode(const std::vector<uint8_t>& jpeg, int planes, std::vector<uint8_t>& out) {
  int w = 0, h = 0, c = 0;
  uint8_t* data =
      stbi_load_from_memory(jpeg.data(), static_cast<int>(jpeg.size()), &w, &h, &c, planes);
  if (data == nullptr) return false;
  // Keep the result observable without a copy that would dominate small files.
  out[0] = data[0];
  stbi_image_free(data);
  return true;
}

}  // namespace iffjpeg_bench
