// iffjpeg driven as a host drives it: the five file callbacks supplied by
// the caller, over a block of memory (or a stdio file for the memory runs).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench.h"
#include "iffjpeg.h"
#include "memory_host.h"

namespace iffjpeg_bench {

bool IffDecode(const std::vector<uint8_t>& jpeg, std::vector<uint8_t>& out, int32_t mode) {
  HostFile host = MemoryHost();
  host.input = jpeg.data();
  host.inputSize = jpeg.size();
  IFFImageInfo info{};
  int32_t h = IFFOpen(&host, IFF_MODE_READ | IFF_MODE_CALLBACKS | mode, &info);
  if (h <= 0) return false;
  size_t bytes = static_cast<size_t>(info.width) * info.height * info.planes;
  if (out.size() < bytes) out.resize(bytes);
  int32_t rc = IFFGetLine(h, static_cast<uint32_t>(info.height), out.data());
  return IFFClose(h) == 0 && rc == 0;
}

bool IffDecodeFresh(const std::vector<uint8_t>& jpeg, int32_t mode) {
  HostFile host = MemoryHost();
  host.input = jpeg.data();
  host.inputSize = jpeg.size();
  IFFImageInfo info{};
  int32_t h = IFFOpen(&host, IFF_MODE_READ | IFF_MODE_CALLBACKS | mode, &info);
  if (h <= 0) return false;
  size_t bytes = static_cast<size_t>(info.width) * info.height * info.planes;
  auto* out = static_cast<uint8_t*>(std::malloc(bytes));
  int32_t rc = out != nullptr ? IFFGetLine(h, static_cast<uint32_t>(info.height), out) : -1;
  std::free(out);
  return IFFClose(h) == 0 && rc == 0;
}

bool IffDecodeScaled(const std::vector<uint8_t>& jpeg, int32_t scale) {
  HostFile host = MemoryHost();
  host.input = jpeg.data();
  host.inputSize = jpeg.size();
  IFFImageInfo info{};
  int32_t h = IFFOpen(&host, IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
  if (h <= 0) return false;
  int32_t size[2] = {0, 0};
  int32_t rc = IFFControl(h, IFF_CTL_SCALE, scale, 0, size);
  std::vector<uint8_t> out(static_cast<size_t>(size[0]) * size[1] * info.planes);
  if (rc == 0) rc = IFFGetLine(h, static_cast<uint32_t>(size[1]), out.data());
  return IFFClose(h) == 0 && rc == 0;
}

bool IffEncode(const Image& image, int quality, std::vector<uint8_t>& out, int32_t option) {
  HostFile host = MemoryHost();
  out.clear();
  host.output = &out;
  IFFImageInfo info{};
  info.width = image.width;
  info.height = image.height;
  info.planes = image.planes;
  info.bitsPerSample = 8;
  int32_t h = IFFOpen(&host, IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  if (h <= 0) return false;
  int32_t rc = IFFControl(h, IFF_CTL_QUALITY, quality, 0, nullptr);
  if (rc == 0 && option != 0) rc = IFFControl(h, option, 1, 0, nullptr);
  if (rc == 0) rc = IFFPutLine(h, static_cast<uint32_t>(image.height), image.pixels.data());
  int32_t closeRc = IFFClose(h);
  return rc == 0 && closeRc == 0;
}

}  // namespace iffjpeg_bench
