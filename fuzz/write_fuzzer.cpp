// Writing with parameters and pixels from the input: size, planes, quality,
// resolution, the writing options (subsampling, restart interval, tables
// built for the image, progressive output, metadata items), how the lines are grouped into
// calls, and a write callback that may store fewer bytes than asked or a
// close that may fail. A file that lost bytes must never be reported
// complete; a file reported complete must read back with its geometry and
// every line, and with options its pixels must equal those of the plain
// file of the same quality and subsampling.
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
  int32_t subsampling;   // 0: no call
  int32_t restart;       // -1: no call
  bool optimize;
  bool progressive;            // read back in extended mode
  uint32_t metadataLength[4];  // IFF_CTL_METADATA kinds 1..4; 0: no call
};

constexpr int32_t kSubsamplings[] = {0x420, 0x422, 0x440, 0x444, 0x411, 0x421};

WriteRequest ParseRequest(FuzzInput& in) {
  WriteRequest r{};
  uint8_t flags = in.U8();
  r.planes = (flags & 1) ? 3 : 1;
  r.width = 1 + in.U16() % 1024;
  r.height = 1 + in.U16() % 1024;
  long budget = (flags & 0x48) == 0x48 ? kMaxLargeWritePixels : kMaxWritePixels;
  r.height = static_cast<int32_t>(std::max<long>(1, std::min<long>(r.height, budget / r.width)));
  r.setQuality = (flags & 2) != 0;
  r.progressive = (flags & 0x80) != 0;
  r.quality = static_cast<int16_t>(in.U16());
  r.resolutionFlags = (flags & 4) ? (flags >> 4) & 3 : -1;
  r.densities[0] = static_cast<int32_t>(in.U16());
  r.densities[1] = static_cast<int32_t>(in.U16());
  r.groupPattern = in.U8();
  uint8_t options = in.U8();
  if (options & 1) r.subsampling = kSubsamplings[in.U8() % 6];
  r.restart = (options & 2) ? in.U16() % 300 : -1;
  r.optimize = (options & 4) != 0;
  for (int kind = 0; kind < 4; ++kind) {
    if (options & (16 << kind)) r.metadataLength[kind] = in.U16();
  }
  // Now and then an ICC profile of several chunks.
  if ((options & 0x18) == 0x18) r.metadataLength[0] = 65519 + in.U16() * 2u;
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
// and deliver every line without a code; returns the lines.
std::vector<uint8_t> CheckReadsBack(const FuzzFile& written, const WriteRequest& r) {
  FuzzFile file(written.data);
  IFFImageInfo info{};
  int32_t mode = IFF_MODE_READ | IFF_MODE_CALLBACKS | (r.progressive ? IFF_MODE_EXTENDED : 0);
  int32_t h = IFFOpen(file.source(), mode, &info);
  FUZZ_CHECK(h > 0, h, static_cast<long>(written.data.size()));
  FUZZ_CHECK(info.width == r.width && info.height == r.height, info.width, info.height);
  FUZZ_CHECK(info.planes == r.planes, info.planes, r.planes);
  const std::size_t stride = static_cast<std::size_t>(info.width) * info.planes;
  std::vector<uint8_t> lines(stride * static_cast<std::size_t>(info.height));
  for (int32_t y = 0; y < info.height; ++y) {
    int32_t rc = IFFGetLine(h, 1, lines.data() + stride * static_cast<std::size_t>(y));
    FUZZ_CHECK(rc == 0, rc, y);
  }
  FUZZ_CHECK(IFFClose(h) == 0, h, 0);
  return lines;
}

bool HasOptions(const WriteRequest& r) {
  bool any = r.subsampling != 0 || r.restart >= 0 || r.optimize || r.progressive;
  for (uint32_t length : r.metadataLength) any = any || length != 0;
  return any;
}

// The writing options before the first line. Only a subsampling value
// outside the list and metadata too long for its segment are refused.
void SetOptions(int32_t h, const WriteRequest& r, std::vector<uint8_t>& metadata) {
  if (r.subsampling != 0) {
    int32_t rc = IFFControl(h, IFF_CTL_SUBSAMPLING, r.subsampling, 0, nullptr);
    FUZZ_CHECK(rc == (r.subsampling == 0x421 ? IFF_ERR_INVALID : 0), rc, r.subsampling);
  }
  if (r.restart >= 0) FUZZ_CHECK(IFFControl(h, IFF_CTL_RESTART, r.restart, 0, nullptr) == 0, h, 0);
  if (r.optimize) FUZZ_CHECK(IFFControl(h, IFF_CTL_OPTIMIZE, 1, 0, nullptr) == 0, h, 0);
  if (r.progressive) {
    FUZZ_CHECK(IFFControl(h, IFF_CTL_PROGRESSIVE, 1, 0, nullptr) == 0, h, 0);
  }
  static constexpr uint32_t kLimits[4] = {255u * 65519, 65527, 65504, 65533};
  for (int kind = 0; kind < 4; ++kind) {
    uint32_t length = r.metadataLength[kind];
    if (length == 0) continue;
    if (metadata.size() < length) metadata.resize(length, static_cast<uint8_t>(kind));
    int32_t rc =
        IFFControl(h, IFF_CTL_METADATA, kind + 1, static_cast<int32_t>(length), metadata.data());
    FUZZ_CHECK(rc == (length > kLimits[kind] ? IFF_ERR_INVALID : 0), rc, length);
  }
}

// The plain file of the same quality and subsampling, written without
// failures, read back.
std::vector<uint8_t> PlainPixels(const WriteRequest& r, const std::vector<uint8_t>& pixels) {
  FuzzFile file;
  IFFImageInfo info{};
  info.width = r.width;
  info.height = r.height;
  info.planes = r.planes;
  info.bitsPerSample = 8;
  int32_t h = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  FUZZ_CHECK(h > 0, h, 0);
  if (r.setQuality) IFFControl(h, IFF_CTL_QUALITY, r.quality, 0, nullptr);
  if (r.subsampling != 0) IFFControl(h, IFF_CTL_SUBSAMPLING, r.subsampling, 0, nullptr);
  int32_t rc = IFFPutLine(h, static_cast<uint32_t>(r.height), pixels.data());
  FUZZ_CHECK(rc == 0, rc, 0);
  FUZZ_CHECK(IFFClose(h) == 0, h, 0);
  return CheckReadsBack(file, r);
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
  std::vector<uint8_t> metadata;
  SetOptions(h, r, metadata);

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
    std::vector<uint8_t> lines = CheckReadsBack(file, r);
    if (HasOptions(r)) FUZZ_CHECK(lines == PlainPixels(r, pixels), 0, 0);
  }
  return 0;
}
