// iffjpeg driven as a host drives it: the five file callbacks supplied by
// the caller, over a block of memory (or a stdio file for the memory runs).
#include <cstdio>
#include <cstring>

#include "bench.h"
#include "iffjpeg.h"

namespace iffjpeg_bench {
namespace {

// The host's record: the five callbacks first, its own data after them.
struct HostFile {
  IFFFileOps ops;
  const uint8_t* input = nullptr;
  size_t inputSize = 0;
  size_t position = 0;
  std::vector<uint8_t>* output = nullptr;
};

// One file is open at a time in this program.
HostFile* g_open = nullptr;

int32_t OpenMemory(const void* source, int32_t, int32_t) {
  g_open = static_cast<HostFile*>(const_cast<void*>(source));
  g_open->position = 0;
  return 1;
}
int32_t CloseMemory(int32_t) {
  g_open = nullptr;
  return 0;
}
int32_t ReadMemory(int32_t, void* buffer, int32_t count) {
  size_t left = g_open->inputSize - g_open->position;
  size_t n = left < static_cast<size_t>(count) ? left : static_cast<size_t>(count);
  std::memcpy(buffer, g_open->input + g_open->position, n);
  g_open->position += n;
  return static_cast<int32_t>(n);
}
int32_t WriteMemory(int32_t, const void* buffer, int32_t count) {
  auto* bytes = static_cast<const uint8_t*>(buffer);
  g_open->output->insert(g_open->output->end(), bytes, bytes + count);
  return count;
}
int32_t SeekMemory(int32_t, int32_t offset, int32_t) {
  g_open->position = static_cast<size_t>(offset);
  return offset;
}

}  // namespace

bool IffDecode(const std::vector<uint8_t>& jpeg, std::vector<uint8_t>& out) {
  HostFile host{{OpenMemory, CloseMemory, ReadMemory, WriteMemory, SeekMemory}};
  host.input = jpeg.data();
  host.inputSize = jpeg.size();
  IFFImageInfo info{};
  int32_t h = IFFOpen(&host, IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
  if (h <= 0) return false;
  size_t bytes = static_cast<size_t>(info.width) * info.height * info.planes;
  if (out.size() < bytes) out.resize(bytes);
  int32_t rc = IFFGetLine(h, static_cast<uint32_t>(info.height), out.data());
  return IFFClose(h) == 0 && rc == 0;
}

bool IffEncode(const Image& image, int quality, std::vector<uint8_t>& out) {
  HostFile host{{OpenMemory, CloseMemory, ReadMemory, WriteMemory, SeekMemory}};
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
  if (rc == 0) rc = IFFPutLine(h, static_cast<uint32_t>(image.height), image.pixels.data());
  int32_t closeRc = IFFClose(h);
  return rc == 0 && closeRc == 0;
}

}  // namespace iffjpeg_bench
