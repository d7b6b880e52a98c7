// Writing with parameters and pixels from the input: size, planes, quality,
// resolution, how the lines are grouped into calls, and a write callback
// that may store fewer bytes than asked or a close that may fail. A file
// that lost bytes must never be reported complete; a file reported complete
// must read back with its geometry and every line.
#include <algorithm>
#include <vector>

#include "fuzz_file.h"
#include "iffjpeg.h"

using iffjpeg_fuzz::FuzzFile;
using iffjpeg_fuzz::FuzzInput;

namespace {

// Written images stay below this many pixels; one input in four may go up
// to the larger bound, enough for a flush of the 262140-byte stream buffer
// with noisy pixels at high quality.
constexpr long kMaxWritePixels = 1L << 14;
constexpr long kMaxLargeWritePixels = 1L << 18;

struct WriteRequest {
  int32_t width, height, planes;
  bool setQuality;
  int16_t quality;
  int32_t resolutionFlags;  // -1: no resolution call
  int32_t densities[2];
  uint8_t groupPattern;  // line counts per IFFPutLine call
};

WriteRequest ParseRequest(FuzzInput& in) {
  WriteRequest r{};
  uint8_t flags = in.U8();
  r.planes = (flags & 1) ? 3 : 1;
  r.width = 1 + in.U16() % 1024;
  r.height = 1 + in.U16() % 1024;
  long budget = (flags & 0x48) == 0x48 ? kMaxLargeWritePixels : kMaxWritePixels;
  r.height = static_cast<int32_t>(std::max<long>(1, std::min<long>(r.height, budget / r.width)));
  r.setQuality = (flags & 2) != 0;
  r.quality = static_cast<int16_t>(in.U16());
  r.resolutionFlags = (flags & 4) ? (flags >> 4) & 3 : -1;
  r.densities[0] = static_cast<int32_t>(in.U16());
  r.densities[1] = static_cast<int32_t>(in.U16());
  r.groupPattern = in.U8();
  return r;
}

void SetFailures(FuzzInput& in, FuzzFile& file) {
  uint8_t f = in.U8();
  if (f & 1) file.shortWriteAtCall = 1 + (f >> 4) % 6;
  if (f & 2) file.failWriteFromCall = 1 + (f >> 4) % 6;
  file.shortWriteBy = 1 + in.U8();
  file.failClose = (f & 4) != 0;
}

// A file reported complete must open with the geometry it was written with
// and deliver every line without a code.
void CheckReadsBack(const FuzzFile& written, const WriteRequest& r) {
  FuzzFile file(written.data);
  IFFImageInfo info{};
  int32_t h = IFFOpen(file.source(), IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
  FUZZ_CHECK(h > 0, h, static_cast<long>(written.data.size()));
  FUZZ_CHECK(info.width == r.width && info.height == r.height, info.width, info.height);
  FUZZ_CHECK(info.planes == r.planes, info.planes, r.planes);
  std::vector<uint8_t> line(static_cast<std::size_t>(info.width) * info.planes);
  for (int32_t y = 0; y < info.height; ++y) {
    int32_t rc = IFFGetLine(h, 1, line.data());
    FUZZ_CHECK(rc == 0, rc, y);
  }
  FUZZ_CHECK(IFFClose(h) == 0, h, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  WriteRequest r = ParseRequest(in);
  FuzzFile file;
  SetFailures(in, file);

  // The pixels: the rest of the input, repeated to fill the image.
  std::vector<uint8_t> pixels(static_cast<std::size_t>(r.width) * r.height * r.planes);
  std::size_t rest = in.Remaining();
  for (std::size_t i = 0; i < pixels.size() && rest > 0; ++i) {
    pixels[i] = static_cast<uint8_t>(in.Rest()[i % rest] + i / rest);
  }

  IFFImageInfo info{};
  info.width = r.width;
  info.height = r.height;
  info.planes = r.planes;
  info.bitsPerSample = 8;
  int32_t h = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  FUZZ_CHECK(h > 0, h, 0);
  if (r.setQuality) {
    int32_t rc = IFFControl(h, IFF_CTL_QUALITY, r.quality, 0, nullptr);
    FUZZ_CHECK(rc == 0 || rc == IFF_ERR_INVALID, rc, r.quality);
  }
  if (r.resolutionFlags >= 0) {
    int32_t slots[2] = {r.densities[0], r.densities[1]};
    FUZZ_CHECK(IFFControl(h, IFF_CTL_RESOLUTION, r.resolutionFlags, 0, slots) == 0, h, 0);
  }

  const std::size_t stride = static_cast<std::size_t>(r.width) * r.planes;
  int32_t y = 0;
  int32_t failedAt = -1;
  for (int call = 0; y < r.height; ++call) {
    int32_t count = (r.groupPattern >> ((call % 4) * 2)) & 3;  // 0..3 lines per call
    if (r.groupPattern == 0 && call > 0) count = 1;  // all zeros: one empty call, then lines
    count = std::min(count, r.height - y);
    int32_t rc = IFFPutLine(h, static_cast<uint32_t>(count), pixels.data() + stride * y);
    y += count;
    FUZZ_CHECK(rc == 0 || rc == IFF_ERR_WRITE, rc, y);
    if (failedAt >= 0) FUZZ_CHECK(rc == IFF_ERR_WRITE, rc, y);  // a lost byte stays lost
    if (rc == IFF_ERR_WRITE && failedAt < 0) failedAt = y;
    if (rc == 0) FUZZ_CHECK(!file.lostBytes, y, 0);
  }
  int32_t rc = IFFClose(h);
  FUZZ_CHECK(!file.isOpen, h, 0);
  if (file.failClose) {
    FUZZ_CHECK(rc == IFF_ERR_CLOSE, rc, 0);
  } else if (file.lostBytes) {
    FUZZ_CHECK(rc == IFF_ERR_WRITE, rc, failedAt);
  } else {
    FUZZ_CHECK(rc == 0, rc, 0);
    CheckReadsBack(file, r);
  }
  return 0;
}
