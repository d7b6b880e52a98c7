#include "support/decode_helpers.h"

#include "iffjpeg.h"
#include "support/memory_file.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#endif
#include "stb_image_write.h"
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace iffjpeg_test {

DecodeResult DecodeWithLibrary(const std::vector<uint8_t>& jpeg, int32_t modeFlags) {
  DecodeResult result;
  MemoryFile file(jpeg);
  IFFImageInfo info{};
  int32_t h = IFFOpen(file.source(), IFF_MODE_READ | IFF_MODE_CALLBACKS | modeFlags, &info);
  result.openResult = h;
  if (h <= 0) return result;
  result.width = info.width;
  result.height = info.height;
  result.planes = info.planes;
  result.image.width = info.width;
  result.image.height = info.height;
  result.image.channels = info.planes;
  result.image.pixels.assign(static_cast<std::size_t>(info.width) * info.height * info.planes, 0);
  for (int32_t y = 0; y < info.height; ++y) {
    result.lineCodes.push_back(IFFGetLine(h, 1, result.image.row(y)));
  }
  result.closeResult = IFFClose(h);
  return result;
}

namespace {
void AppendBytes(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  auto* bytes = static_cast<uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
}
}  // namespace

std::vector<uint8_t> StbEncode(const Image& image, int quality) {
  std::vector<uint8_t> out;
  stbi_write_jpg_to_func(AppendBytes, &out, image.width, image.height, image.channels,
                         image.pixels.data(), quality);
  return out;
}

}  // namespace iffjpeg_test
