// The reading extras through the public entry points: IFF_CTL_JPEG_INFO
// against the markers the test builder wrote, and IFF_CTL_METADATA's items
// (ICC chunks in and out of order, EXIF in both byte orders with every
// orientation, XMP, joined comments) against the bytes put into the file,
// in both reading modes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "iffjpeg.h"
#include "support/images.h"
#include "support/jpeg_builder.h"
#include "support/memory_file.h"

namespace {

using namespace iffjpeg_test;
using Bytes = std::vector<uint8_t>;

constexpr int32_t kModes[] = {IFF_MODE_READ, IFF_MODE_READ | IFF_MODE_EXTENDED};

// A handle over an in-memory copy of jpeg, closed at the end of the scope.
class OpenFile {
 public:
  OpenFile(const Bytes& jpeg, int32_t mode) : file_(jpeg) {
    handle_ = IFFOpen(file_.source(), mode | IFF_MODE_CALLBACKS, &info_);
  }
  ~OpenFile() {
    if (handle_ > 0) IFFClose(handle_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int32_t handle() const { return handle_; }
  const IFFImageInfo& info() const { return info_; }

  IFFJpegInfo Describe() const {
    IFFJpegInfo d;
    std::memset(&d, 0x5A, sizeof d);
    d.size = sizeof d;
    EXPECT_EQ(IFFControl(handle_, IFF_CTL_JPEG_INFO, 0, 0, &d), 0);
    return d;
  }
  // The item, sized from the description; empty when absent.
  Bytes Item(int32_t which) const {
    IFFJpegInfo d = Describe();
    const int32_t sizes[] = {d.iccBytes, d.exifBytes, d.xmpBytes, d.commentBytes};
    Bytes out(static_cast<std::size_t>(sizes[which - 1]));
    EXPECT_EQ(
        IFFControl(handle_, IFF_CTL_METADATA, which, static_cast<int32_t>(out.size()), out.data()),
        0);
    return out;
  }

 private:
  MemoryFile file_;
  IFFImageInfo info_{};
  int32_t handle_ = 0;
};

Bytes Segment(int marker, const Bytes& payload) {
  Bytes out;
  AppendSegment(out, marker, payload);
  return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Pattern(std::size_t size, uint32_t seed) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    out[i] = static_cast<uint8_t>(seed >> 16);
  }
  return out;
}

Bytes IccChunk(int sequence, int count, const Bytes& data) {
  return Segment(0xE2, Concat({Text(std::string("ICC_PROFILE") + '\0'),
                               {static_cast<uint8_t>(sequence), static_cast<uint8_t>(count)},
                               data}));
}

// One IFD entry: tag, type, count, value (a SHORT sits in the first bytes).
struct Entry {
  uint16_t tag, type;
  uint32_t count, value;
};

// A TIFF structure with IFD0 at offset 8 holding entries, in either order.
Bytes Tiff(bool bigEndian, const std::vector<Entry>& entries) {
  Bytes out;
  auto word = [&](uint32_t v) {
    if (bigEndian) {
      out.push_back(static_cast<uint8_t>(v >> 8));
      out.push_back(static_cast<uint8_t>(v));
    } else {
      out.push_back(static_cast<uint8_t>(v));
      out.push_back(static_cast<uint8_t>(v >> 8));
    }
  };
  auto dword = [&](uint32_t v) {
    if (bigEndian) {
      word(v >> 16);
      word(v & 0xFFFF);
    } else {
      word(v & 0xFFFF);
      word(v >> 16);
    }
  };
  out.push_back(bigEndian ? 'M' : 'I');
  out.push_back(bigEndian ? 'M' : 'I');
  word(42);
  dword(8);
  word(static_cast<uint32_t>(entries.size()));
  for (const Entry& e : entries) {
    word(e.tag);
    word(e.type);
    dword(e.count);
    if (e.type == 3 && e.count == 1) {
      word(e.value);
      word(0);
    } else {
      dword(e.value);
    }
  }
  dword(0);  // no IFD1
  return out;
}

Bytes ExifSegment(const Bytes& tiff) {
  return Segment(0xE1, Concat({{'E', 'x', 'i', 'f', 0, 0}, tiff}));
}

Bytes GreyFile(std::vector<Bytes> segments) {
  JpegBuildOptions o = GreyOptions();
  o.extraSegments = std::move(segments);
  return BuildJpeg(MakeTestImage(16, 16, 1, 7), o);
}

TEST(ReadingExtras, DescriptionOfLayoutsAndColourModels) {
  struct Case {
    const char* name;
    JpegBuildOptions options;
    int channels;
    int32_t mode;
    int32_t frameMarker, colourModel, adobeTransform, restartInterval, jfifVersion;
  };
  JpegBuildOptions grey = GreyOptions();
  JpegBuildOptions c420 = ColourOptions(2, 2);
  c420.frameMarker = 0xC1;
  c420.restartInterval = 5;
  c420.jfifMinor = 2;
  c420.densityUnit = 1;
  c420.xDensity = 72;
  c420.yDensity = 96;
  JpegBuildOptions c422 = ColourOptions(2, 1);
  c422.progressiveScans = SuccessiveApproximationScript(3);
  c422.scanRestartInterval = {{0, 3}, {1, 9}};
  JpegBuildOptions c444 = ColourOptions(1, 1);
  JpegBuildOptions rgbAdobe = ColourOptions(1, 1);
  rgbAdobe.convertToYcc = false;
  rgbAdobe.jfif = false;
  rgbAdobe.extraSegments = {AdobeSegment(0), AdobeSegment(1)};
  JpegBuildOptions rgbIds = rgbAdobe;
  rgbIds.extraSegments.clear();
  rgbIds.components = {{'R', 1, 1, 0, 0, 0}, {'G', 1, 1, 1, 1, 1}, {'B', 1, 1, 1, 1, 1}};
  JpegBuildOptions cmyk = ColourOptions(1, 1);
  cmyk.jfif = false;
  cmyk.components = {
      {1, 2, 2, 0, 0, 0}, {2, 1, 1, 1, 1, 1}, {3, 1, 1, 1, 1, 1}, {4, 2, 2, 0, 0, 0}};
  cmyk.extraSegments = {AdobeSegment(0)};
  JpegBuildOptions ycck = cmyk;
  ycck.extraSegments = {AdobeSegment(2)};
  constexpr int32_t kDefault = IFF_MODE_READ, kExtended = IFF_MODE_READ | IFF_MODE_EXTENDED;
  const Case cases[] = {
      {"grey", grey, 1, kDefault, 0xC0, 1, -1, 0, 0x0101},
      {"grey extended", grey, 1, kExtended, 0xC0, 1, -1, 0, 0x0101},
      {"4:2:0 SOF1", c420, 3, kDefault, 0xC1, 3, -1, 5, 0x0102},
      {"4:2:2 progressive", c422, 3, kExtended, 0xC2, 3, -1, 3, 0x0101},
      {"4:4:4 no-seek mode", c444, 3, IFF_MODE_READ_NOSEEK, 0xC0, 3, -1, 0, 0x0101},
      {"Adobe RGB", rgbAdobe, 3, kExtended, 0xC0, 2, 0, 0, 0},
      {"Adobe RGB, default mode", rgbAdobe, 3, kDefault, 0xC0, 3, 0, 0, 0},
      {"R G B identifiers", rgbIds, 3, kExtended, 0xC0, 2, -1, 0, 0},
      {"CMYK", cmyk, 4, kExtended, 0xC0, 5, 0, 0, 0},
      {"YCCK", ycck, 4, kExtended, 0xC0, 6, 2, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenFile f(BuildJpeg(MakeTestImage(33, 17, c.channels < 3 ? c.channels : 3, 3), c.options),
               c.mode);
    ASSERT_GT(f.handle(), 0);
    const IFFJpegInfo d = f.Describe();
    EXPECT_EQ(d.size, static_cast<int32_t>(sizeof d));
    EXPECT_EQ(d.frameMarker, c.frameMarker);
    EXPECT_EQ(d.precision, 8);
    EXPECT_EQ(d.colourModel, c.colourModel);
    EXPECT_EQ(d.adobeTransform, c.adobeTransform);
    EXPECT_EQ(d.restartInterval, c.restartInterval);
    EXPECT_EQ(d.jfifVersion, c.jfifVersion);
    const std::vector<BuilderComponent>& comps = c.options.components;
    const int n = static_cast<int>(comps.size());
    EXPECT_EQ(d.components, n);
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(i);
      const BuilderComponent none{0, 0, 0, 0, 0, 0};
      const BuilderComponent& want = i < n ? comps[static_cast<std::size_t>(i)] : none;
      EXPECT_EQ(d.componentIds[i], want.id);
      EXPECT_EQ(d.hSampling[i], want.h);
      EXPECT_EQ(d.vSampling[i], want.v);
    }
    if (c.jfifVersion != 0) {
      EXPECT_EQ(d.densityUnit, c.options.densityUnit);
      EXPECT_EQ(d.xDensity, c.options.xDensity);
      EXPECT_EQ(d.yDensity, c.options.yDensity);
    } else {
      EXPECT_EQ(d.densityUnit | d.xDensity | d.yDensity, 0);
    }
    EXPECT_EQ(d.orientation, 0);
    EXPECT_EQ(d.iccBytes | d.exifBytes | d.xmpBytes | d.commentBytes, 0);
  }
}

TEST(ReadingExtras, DescriptionRecordSize) {
  OpenFile f(GreyFile({}), IFF_MODE_READ);
  ASSERT_GT(f.handle(), 0);
  // A record that names 8 bytes gets those 8 only; below 8 is refused.
  int32_t slots[4] = {8, -1, -1, -1};
  EXPECT_EQ(IFFControl(f.handle(), IFF_CTL_JPEG_INFO, 0, 0, slots), 0);
  EXPECT_EQ(slots[0], 8);
  EXPECT_EQ(slots[1], 0xC0);
  EXPECT_EQ(slots[2], -1);
  slots[0] = 7;
  EXPECT_EQ(IFFControl(f.handle(), IFF_CTL_JPEG_INFO, 0, 0, slots), 2);
  EXPECT_EQ(IFFControl(f.handle(), IFF_CTL_JPEG_INFO, 0, 0, nullptr), 2);
  // A later, larger record: the bytes this version knows, and their count.
  std::vector<int32_t> larger(64, -1);
  larger[0] = static_cast<int32_t>(larger.size() * sizeof(int32_t));
  EXPECT_EQ(IFFControl(f.handle(), IFF_CTL_JPEG_INFO, 0, 0, larger.data()), 0);
  EXPECT_EQ(larger[0], static_cast<int32_t>(sizeof(IFFJpegInfo)));
  EXPECT_EQ(larger[sizeof(IFFJpegInfo) / sizeof(int32_t)], -1);

  MemoryFile out;
  IFFImageInfo info{0, 8, 8, 1, 8, 0, 0};
  int32_t w = IFFOpen(out.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  ASSERT_GT(w, 0);
  IFFJpegInfo d{};
  d.size = sizeof d;
  EXPECT_EQ(IFFControl(w, IFF_CTL_JPEG_INFO, 0, 0, &d), 2);
  // On a write handle the metadata code sets a segment to write: length 0
  // removes one, here none.
  EXPECT_EQ(IFFControl(w, IFF_CTL_METADATA, IFF_META_ICC, 0, nullptr), 0);
  IFFClose(w);
}

TEST(ReadingExtras, IccChunksJoinedBySequenceNumber) {
  const Bytes a = Pattern(65519, 1), b = Pattern(1000, 2), c = Pattern(3, 3);
  const Bytes profile = Concat({a, b, c});
  struct Case {
    const char* name;
    std::vector<Bytes> segments;
    Bytes expected;
  } cases[] = {
      {"in order", {IccChunk(1, 3, a), IccChunk(2, 3, b), IccChunk(3, 3, c)}, profile},
      {"out of order", {IccChunk(3, 3, c), IccChunk(1, 3, a), IccChunk(2, 3, b)}, profile},
      {"one chunk among others",
       {Segment(0xE2, Text("OTHER")), IccChunk(1, 1, b), Segment(0xE2, {})},
       b},
      {"missing", {IccChunk(1, 3, a), IccChunk(3, 3, c)}, {}},
      {"repeated",
       {IccChunk(1, 3, a), IccChunk(2, 3, b), IccChunk(2, 3, b), IccChunk(3, 3, c)},
       {}},
      {"counts disagree", {IccChunk(1, 2, a), IccChunk(2, 3, b)}, {}},
      {"number zero", {IccChunk(0, 1, a)}, {}},
      {"number above the count", {IccChunk(1, 2, a), IccChunk(3, 2, b)}, {}},
      {"count zero", {IccChunk(0, 0, a)}, {}},
      {"header cut short", {Segment(0xE2, Text(std::string("ICC_PROFILE") + '\0'))}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int32_t mode : kModes) {
      OpenFile f(GreyFile(c.segments), mode);
      ASSERT_GT(f.handle(), 0);
      EXPECT_EQ(f.Describe().iccBytes, static_cast<int32_t>(c.expected.size()));
      EXPECT_EQ(f.Item(IFF_META_ICC), c.expected);
    }
  }
  // 255 chunks of one count, then a 256th: more than a count can name.
  std::vector<Bytes> many;
  for (int i = 1; i <= 255; ++i) many.push_back(IccChunk(i, 255, {static_cast<uint8_t>(i)}));
  OpenFile full(GreyFile(many), IFF_MODE_READ);
  EXPECT_EQ(full.Describe().iccBytes, 255);
  many.push_back(IccChunk(1, 255, {1}));
  OpenFile over(GreyFile(many), IFF_MODE_READ);
  EXPECT_EQ(over.Describe().iccBytes, 0);
}

TEST(ReadingExtras, ExifPayloadAndOrientation) {
  for (bool big : {false, true}) {
    for (uint32_t orientation = 1; orientation <= 8; ++orientation) {
      SCOPED_TRACE(testing::Message() << (big ? "MM " : "II ") << orientation);
      const Bytes tiff =
          Tiff(big, {{0x010F, 2, 4, 0}, {0x0112, 3, 1, orientation}, {0x0131, 2, 4, 0}});
      for (int32_t mode : kModes) {
        OpenFile f(GreyFile({ExifSegment(tiff)}), mode);
        ASSERT_GT(f.handle(), 0);
        IFFJpegInfo d = f.Describe();
        EXPECT_EQ(d.orientation, static_cast<int32_t>(orientation));
        EXPECT_EQ(f.Item(IFF_META_EXIF), tiff);
      }
    }
  }
}

TEST(ReadingExtras, HostileExifGivesNoOrientation) {
  Bytes good = Tiff(false, {{0x0112, 3, 1, 6}});
  auto patched = [&](std::size_t at, std::initializer_list<uint8_t> bytes) {
    Bytes t = good;
    std::copy(bytes.begin(), bytes.end(), t.begin() + static_cast<long>(at));
    return t;
  };
  Bytes cut = good;
  cut.resize(good.size() - 8);  // the entry's value runs past the end
  struct Case {
    const char* name;
    Bytes tiff;
    int32_t orientation;
  } cases[] = {
      {"readable", good, 6},
      {"value 0", Tiff(false, {{0x0112, 3, 1, 0}}), 0},
      {"value 9", Tiff(true, {{0x0112, 3, 1, 9}}), 0},
      {"type LONG", Tiff(false, {{0x0112, 4, 1, 6}}), 0},
      {"count 2", Tiff(false, {{0x0112, 3, 2, 6}}), 0},
      {"no such tag", Tiff(true, {{0x0100, 3, 1, 6}}), 0},
      {"bad byte order", patched(0, {'I', 'M'}), 0},
      {"bad magic", patched(2, {43, 0}), 0},
      {"IFD offset past the end", patched(4, {0xF0, 0xFF, 0xFF, 0xFF}), 0},
      {"IFD offset at the end", patched(4, {static_cast<uint8_t>(good.size()), 0, 0, 0}), 0},
      {"entry count past the end", patched(8, {0xFF, 0xFF}), 0},
      {"entry cut off", cut, 0},
      {"header only", Bytes(good.begin(), good.begin() + 7), 0},
      {"empty", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenFile f(GreyFile({ExifSegment(c.tiff)}), IFF_MODE_READ);
    ASSERT_GT(f.handle(), 0);
    EXPECT_EQ(f.Describe().orientation, c.orientation);
    EXPECT_EQ(f.Item(IFF_META_EXIF), c.tiff);
  }
}

TEST(ReadingExtras, XmpCommentsAndFirstSegmentsOnly) {
  const Bytes xmpId = Text(std::string("http://ns.adobe.com/xap/1.0/") + '\0');
  const Bytes xmp = Text("<x:xmpmeta>packet</x:xmpmeta>");
  const Bytes tiff1 = Tiff(false, {{0x0112, 3, 1, 3}}), tiff2 = Tiff(true, {{0x0112, 3, 1, 8}});
  const Bytes big = Pattern(60000, 9);
  const std::vector<Bytes> segments = {
      Segment(0xFE, Text("first, ")),
      Segment(0xE1, Concat({xmpId, xmp})),
      ExifSegment(tiff1),
      Segment(0xFE, {}),
      Segment(0xE1, Text("Exif")),  // too short for the identifier
      Segment(0xE1, Concat({xmpId, Text("second packet")})),
      ExifSegment(tiff2),
      Segment(0xFE, big),
      Segment(0xFE, Text("last")),
  };
  for (int32_t mode : kModes) {
    SCOPED_TRACE(mode);
    OpenFile f(GreyFile(segments), mode);
    ASSERT_GT(f.handle(), 0);
    EXPECT_EQ(f.Item(IFF_META_XMP), xmp);
    EXPECT_EQ(f.Item(IFF_META_EXIF), tiff1);
    EXPECT_EQ(f.Describe().orientation, 3);
    EXPECT_EQ(f.Item(IFF_META_COMMENT), Concat({Text("first, "), big, Text("last")}));

    // A buffer one byte short: 2 and nothing copied; absent items copy
    // nothing; an unknown item is refused.
    Bytes shortBuffer(xmp.size() - 1, 0xEE);
    EXPECT_EQ(IFFControl(f.handle(), IFF_CTL_METADATA, IFF_META_XMP,
                         static_cast<int32_t>(shortBuffer.size()), shortBuffer.data()),
              2);
    EXPECT_EQ(shortBuffer, Bytes(xmp.size() - 1, 0xEE));
    EXPECT_EQ(IFFControl(f.handle(), IFF_CTL_METADATA, IFF_META_XMP, 1000, nullptr), 2);
    Bytes untouched(16, 0xEE);
    EXPECT_EQ(IFFControl(f.handle(), IFF_CTL_METADATA, IFF_META_ICC, 16, untouched.data()), 0);
    EXPECT_EQ(untouched, Bytes(16, 0xEE));
    for (int32_t item : {0, 5, -1}) {
      EXPECT_EQ(IFFControl(f.handle(), IFF_CTL_METADATA, item, 16, untouched.data()), 2);
    }
  }
}

// Segments after the first scan header do not count, in a multi-scan file of
// either mode; after a backward seek the items are the same.
TEST(ReadingExtras, SegmentsAfterTheFirstScanAndRewinds) {
  JpegBuildOptions o = ColourOptions(2, 2);
  o.scans = {{0}, {1, 2}};
  o.extraSegments = {Segment(0xFE, Text("before")), ExifSegment(Tiff(false, {{0x0112, 3, 1, 5}}))};
  Bytes jpeg = BuildJpeg(MakeTestImage(40, 24, 3, 5), o);
  long second = FindMarker(jpeg, 0xDA, static_cast<std::size_t>(FindMarker(jpeg, 0xDA)) + 2);
  ASSERT_GT(second, 0);
  const Bytes later = Concat({Segment(0xFE, Text("after")), IccChunk(1, 1, Text("late")),
                              ExifSegment(Tiff(false, {{0x0112, 3, 1, 2}}))});
  jpeg.insert(jpeg.begin() + second, later.begin(), later.end());
  for (int32_t mode : kModes) {
    SCOPED_TRACE(mode);
    OpenFile f(jpeg, mode);
    ASSERT_GT(f.handle(), 0);
    for (int pass = 0; pass < 2; ++pass) {
      EXPECT_EQ(f.Item(IFF_META_COMMENT), Text("before"));
      EXPECT_EQ(f.Describe().iccBytes, 0);
      EXPECT_EQ(f.Describe().orientation, 5);
      std::vector<uint8_t> lines(static_cast<std::size_t>(f.info().width) * 3 * 24);
      EXPECT_EQ(IFFGetLine(f.handle(), 24, lines.data()), 0);
      EXPECT_EQ(IFFSeek(f.handle(), 0), 0);
    }
  }
}

// Comments are joined up to 16 MiB; one byte more and they are absent.
TEST(ReadingExtras, ItemsAbove16MiBAreAbsent) {
  const std::size_t limit = std::size_t{16} << 20;
  const Bytes block = Pattern(65533, 4);
  std::vector<Bytes> segments(limit / block.size(), Segment(0xFE, block));
  const std::size_t rest = limit - segments.size() * block.size();
  segments.push_back(Segment(0xFE, Pattern(rest, 5)));
  OpenFile exact(GreyFile(segments), IFF_MODE_READ);
  ASSERT_GT(exact.handle(), 0);
  EXPECT_EQ(exact.Describe().commentBytes, static_cast<int32_t>(limit));
  segments.push_back(Segment(0xFE, {1}));
  OpenFile over(GreyFile(segments), IFF_MODE_READ);
  ASSERT_GT(over.handle(), 0);
  EXPECT_EQ(over.Describe().commentBytes, 0);
}

}  // namespace
