// Arbitrary bytes as a JPEG file: open for reading (extended reading for an
// odd length, at times scaled), every line (within the pixel budget; huge
// multi-scan frames, decoded whole at open, are skipped), a backward seek
// that must reproduce the first lines, a forward seek, the property
// queries, close. Any crash, sanitizer report, unlisted code or file left
// open is a finding.
#include <cstring>
#include <vector>

#include "fuzz_file.h"
#include "iffjpeg.h"

using iffjpeg_fuzz::FuzzFile;

namespace {

bool IsLineCode(int32_t rc) { return rc == 0 || rc == IFF_ERR_DATA_ENDED; }

bool IsOpenFailure(int32_t rc) {
  return rc == -IFF_ERR_INVALID || rc == -IFF_ERR_VARIANT || rc == -IFF_ERR_MEMORY ||
         rc == -IFF_ERR_BAD_DATA;
}

// The description and every metadata item: sizes that fit the limit, copies
// that succeed into a buffer of exactly that size and are refused one byte
// short.
void QueryExtras(int32_t h, const IFFImageInfo& info) {
  IFFJpegInfo d{};
  d.size = sizeof d;
  FUZZ_CHECK(IFFControl(h, IFF_CTL_JPEG_INFO, 0, 0, &d) == 0, h, 0);
  FUZZ_CHECK(d.size == static_cast<int32_t>(sizeof d), d.size, 0);
  FUZZ_CHECK(d.frameMarker >= 0xC0 && d.frameMarker <= 0xC2, d.frameMarker, 0);
  FUZZ_CHECK((d.components == 1) == (info.planes == 1), d.components, info.planes);
  FUZZ_CHECK(d.colourModel >= 1 && d.colourModel <= 6, d.colourModel, 0);
  FUZZ_CHECK(d.orientation >= 0 && d.orientation <= 8, d.orientation, 0);
  const int32_t sizes[] = {d.iccBytes, d.exifBytes, d.xmpBytes, d.commentBytes};
  for (int32_t item = IFF_META_ICC; item <= IFF_META_COMMENT; ++item) {
    int32_t bytes = sizes[item - IFF_META_ICC];
    FUZZ_CHECK(bytes >= 0 && bytes <= (16 << 20), bytes, item);
    std::vector<uint8_t> buffer(static_cast<std::size_t>(bytes) + 1);
    FUZZ_CHECK(IFFControl(h, IFF_CTL_METADATA, item, bytes, buffer.data()) == 0, item, bytes);
    if (bytes > 0) {
      int32_t rc = IFFControl(h, IFF_CTL_METADATA, item, bytes - 1, buffer.data());
      FUZZ_CHECK(rc == IFF_ERR_INVALID, rc, item);
    }
  }
  FUZZ_CHECK(IFFControl(h, IFF_CTL_METADATA, 5, 0, nullptr) == IFF_ERR_INVALID, h, 0);
}

void QueryProperties(int32_t h, const IFFImageInfo& info) {
  int32_t slots[2] = {0, 0};
  FUZZ_CHECK(IFFControl(h, IFF_CTL_LAST_ERROR, 0, 0, slots) == 0, h, 0);
  FUZZ_CHECK(IsLineCode(slots[0]), slots[0], 0);
  uint16_t lineBytes = 0;
  FUZZ_CHECK(IFFControl(h, IFF_CTL_LINE_BYTES, 0, 0, &lineBytes) == 0, h, 0);
  FUZZ_CHECK(lineBytes == static_cast<uint16_t>(info.width * info.planes), lineBytes, info.width);
  for (int32_t which = 0; which <= 3; ++which) {
    int32_t rc = IFFControl(h, IFF_CTL_RESOLUTION, which, 0, slots);
    FUZZ_CHECK(rc == 0 || rc == IFF_ERR_VARIANT, rc, which);
  }
  int32_t rc = IFFControl(h, IFF_CTL_QUALITY, 50, 0, slots);
  FUZZ_CHECK(rc != 0, rc, 0);  // quality belongs to writing
  FUZZ_CHECK(IFFControl(h, 2, 0, 0, slots) == IFF_ERR_UNSUPPORTED, h, 0);
  FUZZ_CHECK(IFFControl(h, IFF_CTL_LAST_ERROR, 0, 0, nullptr) == IFF_ERR_INVALID, h, 0);
  QueryExtras(h, info);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (iffjpeg_fuzz::DeclaresHugeWholeImageDecode(data, size)) return 0;
  FuzzFile file(std::vector<uint8_t>(data, data + size));
  IFFImageInfo info{};
  // The input's length chooses extended reading (odd) or the default.
  int32_t extended = (size & 1) != 0 ? IFF_MODE_EXTENDED : 0;
  int32_t h = IFFOpen(file.source(), IFF_MODE_READ | IFF_MODE_CALLBACKS | extended, &info);
  if (h <= 0) {
    FUZZ_CHECK(IsOpenFailure(h), h, 0);
    FUZZ_CHECK(!file.isOpen, h, 0);
    return 0;
  }
  FUZZ_CHECK(info.width > 0 && info.width <= 65535, info.width, 0);
  FUZZ_CHECK(info.height > 0 && info.height <= 65535, info.height, 0);
  FUZZ_CHECK(info.planes == 1 || info.planes == 3, info.planes, 0);
  FUZZ_CHECK(info.bitsPerSample == 8 && info.compression == 1, info.bitsPerSample, 0);
  // Extended reading also decodes scaled, by a denominator the length
  // chooses (bits 1 to 3; 1 for five of the eight), so that the reduced
  // transforms meet damaged data too.
  static constexpr int32_t kScales[8] = {1, 1, 1, 1, 1, 2, 4, 8};
  const int32_t scale = extended != 0 ? kScales[(size >> 1) & 7] : 1;
  if (scale > 1) {
    int32_t scaled[2] = {0, 0};
    int32_t rc = IFFControl(h, IFF_CTL_SCALE, scale, 0, scaled);
    FUZZ_CHECK(rc == 0, rc, scale);
    FUZZ_CHECK(scaled[0] == (info.width + scale - 1) / scale, scaled[0], info.width);
    FUZZ_CHECK(scaled[1] == (info.height + scale - 1) / scale, scaled[1], info.height);
    info.width = scaled[0];
    info.height = scaled[1];
  }

  const std::size_t stride = static_cast<std::size_t>(info.width) * info.planes;
  const int32_t lines = iffjpeg_fuzz::LinesWithinBudget(info.width, info.height);
  const int32_t kept = lines < 3 ? lines : 3;
  std::vector<uint8_t> first(stride * kept), line(stride);
  std::vector<int32_t> firstCodes(kept);
  for (int32_t y = 0; y < lines; ++y) {
    int32_t rc = IFFGetLine(h, 1, line.data());
    FUZZ_CHECK(IsLineCode(rc), rc, y);
    if (y < kept) {
      std::memcpy(first.data() + stride * y, line.data(), stride);
      firstCodes[y] = rc;
    }
  }

  QueryExtras(h, info);
  // Back to the top: the same lines with the same codes.
  int32_t rc = IFFSeek(h, 0);
  FUZZ_CHECK(rc == 0, rc, 0);
  for (int32_t y = 0; y < kept; ++y) {
    rc = IFFGetLine(h, 1, line.data());
    FUZZ_CHECK(rc == firstCodes[y], rc, y);
    FUZZ_CHECK(std::memcmp(line.data(), first.data() + stride * y, stride) == 0, y, 0);
  }
  rc = IFFSeek(h, lines - 1);
  FUZZ_CHECK(IsLineCode(rc), rc, lines);

  QueryProperties(h, info);
  rc = IFFClose(h);
  FUZZ_CHECK(IsLineCode(rc), rc, 0);
  FUZZ_CHECK(!file.isOpen, h, 0);
  FUZZ_CHECK(IFFClose(h) == IFF_ERR_INVALID, h, 0);
  return 0;
}
