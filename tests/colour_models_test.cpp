// The colour models of extended reading: the Adobe APP14 segment, the
// 'R', 'G', 'B' identifiers and four-component CMYK and YCCK files, through
// the public entry points. The oracle is the library's own sequential
// decoding of twins that hold the same quantized coefficients: greyscale
// files of each component for three components at 1x1, three-component
// files for the planes of four-component ones; the CMYK formula is applied
// to those planes here. The default mode is checked on the same files: it
// reads them as it always did.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "decoder/colour_deconvert.h"
#include "driver/stages.h"
#include "iffjpeg.h"
#include "support/decoder_fixture.h"
#include "support/images.h"
#include "support/jpeg_builder.h"
#include "support/memory_file.h"

namespace {

using namespace iffjpeg_test;
using Bytes = std::vector<uint8_t>;

constexpr int32_t kDefault = IFF_MODE_READ;
constexpr int32_t kExtended = IFF_MODE_READ | IFF_MODE_EXTENDED;

struct Decoded {
  int32_t open = 0;  // IFFOpen's value
  int32_t planes = 0;
  std::vector<int32_t> lineCodes;
  Image image;
};

Decoded Decode(const Bytes& jpeg, int32_t mode) {
  Decoded d;
  MemoryFile file(jpeg);
  IFFImageInfo info{};
  d.open = IFFOpen(file.source(), mode | IFF_MODE_CALLBACKS, &info);
  if (d.open <= 0) return d;
  d.planes = info.planes;
  d.image.width = info.width;
  d.image.height = info.height;
  d.image.channels = info.planes;
  d.image.pixels.assign(static_cast<std::size_t>(info.width) * info.height * info.planes, 0);
  for (int32_t y = 0; y < info.height; ++y)
    d.lineCodes.push_back(IFFGetLine(d.open, 1, d.image.row(y)));
  EXPECT_EQ(IFFClose(d.open), 0);
  return d;
}

// The lines of a file that must decode, with every line code 0.
Image Lines(const Bytes& jpeg, int32_t mode) {
  Decoded d = Decode(jpeg, mode);
  EXPECT_GT(d.open, 0);
  for (int32_t code : d.lineCodes) EXPECT_EQ(code, 0);
  return d.image;
}

uint8_t Ink(int x, int k) { return static_cast<uint8_t>((x * k + 127) / 255); }

Image Channel(const Image& image, int c) {
  Image out{image.width, image.height, 1, {}};
  for (std::size_t i = c; i < image.pixels.size(); i += image.channels) {
    out.pixels.push_back(image.pixels[i]);
  }
  return out;
}

// Channel i of the result is channel picks[i] of the source.
Image Pick(const Image& image, const std::vector<int>& picks) {
  Image out{image.width, image.height, static_cast<int>(picks.size()), {}};
  for (std::size_t p = 0; p < image.pixels.size(); p += image.channels) {
    for (int c : picks) out.pixels.push_back(image.pixels[p + c]);
  }
  return out;
}

// Four independent photograph-like channels.
Image FourChannels(int width, int height, uint32_t seed) {
  Image colour = MakeTestImage(width, height, 3, seed);
  Image grey = MakeTestImage(width, height, 1, seed + 11);
  Image out{width, height, 4, {}};
  for (std::size_t i = 0; i < grey.pixels.size(); ++i) {
    out.pixels.insert(out.pixels.end(), {colour.pixels[3 * i], colour.pixels[3 * i + 1],
                                         colour.pixels[3 * i + 2], grey.pixels[i]});
  }
  return out;
}

JpegBuildOptions Options(const std::vector<BuilderComponent>& components, bool jfif, int adobe) {
  JpegBuildOptions o;
  o.components = components;
  o.jfif = jfif;
  o.convertToYcc = false;  // the samples coded are the image's channels
  if (adobe >= 0) o.extraSegments.push_back(AdobeSegment(adobe));
  return o;
}

// Three components at 1x1 with the given identifiers.
std::vector<BuilderComponent> ThreeComponents(int id0, int id1, int id2) {
  return {{id0, 1, 1, 0, 0, 0}, {id1, 1, 1, 1, 1, 1}, {id2, 1, 1, 1, 1, 1}};
}

enum class Model { kRgb, kYcc, kRefused };

// Three-component files whose colour model the two modes see differently.
// Every file codes the same samples with the same tables; only the
// identifiers and the JFIF and Adobe segments differ.
TEST(ColourModels, ThreeComponentFiles) {
  struct Case {
    const char* name;
    int ids[3];
    bool jfif;
    int adobe;  // transform, -1 for no segment
    Model extended, standard;
  } cases[] = {
      {"Adobe 0", {1, 2, 3}, false, 0, Model::kRgb, Model::kYcc},
      {"Adobe 0 beside JFIF", {1, 2, 3}, true, 0, Model::kRgb, Model::kYcc},
      {"Adobe 0 with RGB ids", {'R', 'G', 'B'}, false, 0, Model::kRgb, Model::kYcc},
      {"RGB ids", {'R', 'G', 'B'}, false, -1, Model::kRgb, Model::kYcc},
      {"RGB ids beside JFIF", {'R', 'G', 'B'}, true, -1, Model::kYcc, Model::kYcc},
      {"RGB ids, Adobe 1", {'R', 'G', 'B'}, false, 1, Model::kYcc, Model::kYcc},
      {"Adobe 1", {1, 2, 3}, false, 1, Model::kYcc, Model::kYcc},
      // Transform 2 does not fit three components: the rules without a
      // segment decide.
      {"Adobe 2", {1, 2, 3}, false, 2, Model::kYcc, Model::kYcc},
      {"Adobe 2 with RGB ids", {'R', 'G', 'B'}, false, 2, Model::kRgb, Model::kYcc},
      {"ids 1 4 5", {1, 4, 5}, false, -1, Model::kRefused, Model::kRefused},
      {"ids 1 4 5, Adobe 0", {1, 4, 5}, false, 0, Model::kRgb, Model::kRefused},
      {"ids 1 4 5, Adobe 1", {1, 4, 5}, false, 1, Model::kYcc, Model::kRefused},
      {"no segment", {1, 2, 3}, false, -1, Model::kYcc, Model::kYcc},
  };
  const Image source = MakeTestImage(37, 29, 3, 5);
  const std::vector<BuilderComponent> plain = ThreeComponents(1, 2, 3);
  // The YCbCr reading of these samples, as the default mode gives it.
  const Image ycc = Lines(BuildJpeg(source, Options(plain, true, -1)), kDefault);
  // The samples themselves: each component as a greyscale file of its own,
  // with the same quantization table.
  Image rgb{source.width, source.height, 3, {}};
  std::vector<Image> planes;
  for (int c = 0; c < 3; ++c) {
    JpegBuildOptions grey = GreyOptions();
    grey.components[0] = plain[static_cast<std::size_t>(c)];
    grey.components[0].id = 1;
    planes.push_back(Lines(BuildJpeg(Channel(source, c), grey), kDefault));
  }
  for (std::size_t i = 0; i < planes[0].pixels.size(); ++i) {
    for (const Image& p : planes) rgb.pixels.push_back(p.pixels[i]);
  }
  ASSERT_GT(MaxAbsDiff(rgb, ycc), 20) << "the two readings must be told apart";

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes jpeg =
        BuildJpeg(source, Options(ThreeComponents(c.ids[0], c.ids[1], c.ids[2]), c.jfif, c.adobe));
    for (int32_t mode : {kExtended, kDefault}) {
      SCOPED_TRACE(mode == kExtended ? "extended" : "default");
      Model model = mode == kExtended ? c.extended : c.standard;
      Decoded d = Decode(jpeg, mode);
      if (model == Model::kRefused) {
        EXPECT_EQ(d.open, -IFF_ERR_BAD_DATA);
        continue;
      }
      ASSERT_GT(d.open, 0);
      EXPECT_EQ(d.planes, 3);
      EXPECT_EQ(d.lineCodes, std::vector<int32_t>(source.height, 0));
      EXPECT_EQ(MaxAbsDiff(d.image, model == Model::kRgb ? rgb : ycc), 0);
    }
  }
}

struct FourLayout {
  const char* name;
  int factors[4][2];  // h, v of C (or Y), M (Cb), Y (Cr), K; the first holds the maxima
};

const FourLayout kFourLayouts[] = {
    {"1x1 everywhere", {{1, 1}, {1, 1}, {1, 1}, {1, 1}}},
    {"2x2,1x1,1x1,2x2", {{2, 2}, {1, 1}, {1, 1}, {2, 2}}},
    {"2x1,1x1,1x1,2x1", {{2, 1}, {1, 1}, {1, 1}, {2, 1}}},
    {"1x2,1x2,1x1,1x1", {{1, 2}, {1, 2}, {1, 1}, {1, 1}}},
    {"2x2,1x1,1x1,1x1", {{2, 2}, {1, 1}, {1, 1}, {1, 1}}},
    {"4x1,1x1,1x1,4x1", {{4, 1}, {1, 1}, {1, 1}, {4, 1}}},
};

std::vector<BuilderComponent> FourComponents(const FourLayout& layout) {
  std::vector<BuilderComponent> comps;
  for (int c = 0; c < 4; ++c) {
    int slot = c == 1 || c == 2 ? 1 : 0;  // the first and the last as luminance
    comps.push_back({c + 1, layout.factors[c][0], layout.factors[c][1], slot, slot, slot});
  }
  return comps;
}

// Components picks of the four as a three-component file of their own:
// same factors, same tables, so the same coefficients.
Bytes ThreeOfFour(const Image& source, const FourLayout& layout, const std::vector<int>& picks,
                  bool jfif, int adobe) {
  std::vector<BuilderComponent> four = FourComponents(layout), three;
  for (int c : picks) three.push_back(four[static_cast<std::size_t>(c)]);
  return BuildJpeg(Pick(source, picks), Options(three, jfif, adobe));
}

// Four-component files in every layout, model and scan arrangement: the
// extended mode gives the formula's RGB of the planes, the default mode
// refuses them as it always did.
TEST(ColourModels, FourComponentFiles) {
  struct ModelCase {
    const char* name;
    bool jfif;
    int adobe;
    bool ycck;
  } models[] = {
      {"Adobe 0: CMYK", false, 0, false}, {"no segment: CMYK", false, -1, false},
      {"JFIF: CMYK", true, -1, false},    {"Adobe 1: CMYK", false, 1, false},
      {"Adobe 2: YCCK", false, 2, true},  {"Adobe 2 beside JFIF: YCCK", true, 2, true},
  };
  struct Arrangement {
    const char* name;
    std::vector<std::vector<int>> scans;
    int restartInterval;
  } arrangements[] = {
      {"one scan", {}, 0},
      {"one scan, restarts every 2 MCUs", {}, 2},
      {"a scan each", {{0}, {1}, {2}, {3}}, 0},
      {"K first, then the rest", {{3}, {0, 1, 2}}, 3},
  };
  const Image source = FourChannels(45, 27, 3);
  for (const FourLayout& layout : kFourLayouts) {
    SCOPED_TRACE(layout.name);
    // The planes as the extended mode's RGB pass-through gives them (proved
    // against greyscale twins above), and (R', G', B') from the default
    // mode's YCbCr reading.
    Image cmy = Lines(ThreeOfFour(source, layout, {0, 1, 2}, false, 0), kExtended);
    Image k = Channel(Lines(ThreeOfFour(source, layout, {0, 1, 3}, false, 0), kExtended), 2);
    Image rgbPrime = Lines(ThreeOfFour(source, layout, {0, 1, 2}, true, -1), kDefault);
    Image fromCmyk = cmy, fromYcck = rgbPrime;
    for (std::size_t i = 0; i < cmy.pixels.size(); ++i) {
      int ink = k.pixels[i / 3];
      fromCmyk.pixels[i] = Ink(cmy.pixels[i], ink);
      fromYcck.pixels[i] = Ink(255 - rgbPrime.pixels[i], ink);
    }
    for (const ModelCase& m : models) {
      for (const Arrangement& a : arrangements) {
        SCOPED_TRACE(std::string(m.name) + ", " + a.name);
        JpegBuildOptions o = Options(FourComponents(layout), m.jfif, m.adobe);
        o.scans = a.scans;
        o.restartInterval = a.restartInterval;
        Bytes jpeg = BuildJpeg(source, o);
        Decoded d = Decode(jpeg, kExtended);
        ASSERT_GT(d.open, 0);
        EXPECT_EQ(d.planes, 3);
        EXPECT_EQ(d.lineCodes, std::vector<int32_t>(source.height, 0));
        EXPECT_EQ(MaxAbsDiff(d.image, m.ycck ? fromYcck : fromCmyk), 0);
        EXPECT_EQ(Decode(jpeg, kDefault).open, -IFF_ERR_BAD_DATA);
      }
    }
  }
}

// Progressive four-component files decode to the lines of their sequential
// twins (which the test above checks against the formula).
TEST(ColourModels, ProgressiveFourComponentFiles) {
  struct Script {
    const char* name;
    std::vector<ProgressiveScan> scans;
    int restartInterval;
  } scripts[] = {
      {"successive approximation", SuccessiveApproximationScript(4), 0},
      {"single-component DC, restarts every 3 MCUs", SingleComponentDcScript(4), 3},
      {"narrow bands", NarrowBandsScript(4), 0},
  };
  const Image source = FourChannels(45, 27, 6);
  for (const FourLayout& layout : {kFourLayouts[0], kFourLayouts[1], kFourLayouts[4]}) {
    for (int adobe : {0, 2}) {
      JpegBuildOptions o = Options(FourComponents(layout), false, adobe);
      for (const Script& script : scripts) {
        SCOPED_TRACE(std::string(layout.name) + (adobe == 0 ? " CMYK, " : " YCCK, ") + script.name);
        o.restartInterval = script.restartInterval;
        o.progressiveScans = {};
        Image sequential = Lines(BuildJpeg(source, o), kExtended);
        o.progressiveScans = script.scans;
        Bytes jpeg = BuildJpeg(source, o);
        EXPECT_EQ(MaxAbsDiff(Lines(jpeg, kExtended), sequential), 0);
        EXPECT_EQ(Decode(jpeg, kDefault).open, -IFF_ERR_BAD_DATA);
      }
    }
  }
}

// An independent reading of the Adobe files: stb_image converts CMYK and
// YCCK with its own transform and upsampling, so only closeness is asked.
TEST(ColourModels, AdobeFilesAgreeWithStbImage) {
  const Image source = FourChannels(64, 48, 8);
  for (const FourLayout& layout : {kFourLayouts[0], kFourLayouts[1]}) {
    for (int transform : {0, 2}) {
      SCOPED_TRACE(std::string(layout.name) + (transform == 0 ? " CMYK" : " YCCK"));
      Bytes jpeg = BuildJpeg(source, Options(FourComponents(layout), false, transform));
      Image reference;
      ASSERT_TRUE(StbDecode(jpeg, &reference));
      Image got = Lines(jpeg, kExtended);
      double psnr = Psnr(got, reference);
      std::printf("[ colour   ] %s %s: PSNR against stb_image %.2f dB\n", layout.name,
                  transform == 0 ? "CMYK" : "YCCK", psnr);
      EXPECT_GT(psnr, 38.0);
    }
  }
}

// Where the Adobe segment stands: between the frame header and the first
// scan it counts; after the first scan it no longer changes the model.
TEST(ColourModels, AdobeSegmentPlacement) {
  const Image source = MakeTestImage(24, 16, 3, 2);
  JpegBuildOptions o = Options(ThreeComponents(1, 2, 3), false, -1);
  o.scans = {{0}, {1}, {2}};
  Bytes plain = BuildJpeg(source, o);
  long firstSos = FindMarker(plain, 0xDA);
  long secondSos = FindMarker(plain, 0xDA, static_cast<std::size_t>(firstSos) + 2);
  ASSERT_GT(secondSos, firstSos);
  Bytes adobe = AdobeSegment(0);
  Bytes early = plain, late = plain;
  early.insert(early.begin() + firstSos, adobe.begin(), adobe.end());
  late.insert(late.begin() + secondSos, adobe.begin(), adobe.end());
  o.extraSegments = {adobe};
  Image rgb = Lines(BuildJpeg(source, o), kExtended);
  Image ycc = Lines(plain, kExtended);
  ASSERT_GT(MaxAbsDiff(rgb, ycc), 20);
  EXPECT_EQ(MaxAbsDiff(Lines(early, kExtended), rgb), 0);
  EXPECT_EQ(MaxAbsDiff(Lines(late, kExtended), ycc), 0);
  EXPECT_EQ(MaxAbsDiff(Lines(early, kDefault), ycc), 0);
}

// What the marker reader records of the segments, read up to the first scan.
TEST(ColourModels, RecordedSegments) {
  const Image grey = MakeTestImage(8, 8, 1, 1);
  auto read = [&](std::vector<Bytes> segments, bool jfif, int32_t extended) {
    JpegBuildOptions o = GreyOptions();
    o.jfif = jfif;
    o.extraSegments = std::move(segments);
    auto h = std::make_unique<StreamHandle>(BuildJpeg(grey, o));
    h->dec().extendedReading = extended;
    iffjpeg::SetDecompressDefaults(h->dec());
    EXPECT_EQ(iffjpeg::ReadFileHeader(h->handle().stream, h->dec()), 0);
    EXPECT_EQ(iffjpeg::ReadToFirstScan(h->handle().stream, h->dec()), 0);
    return h;
  };
  Bytes shortSegment = {0xFF, 0xEE, 0x00, 0x0D, 'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0};
  Bytes otherId = AdobeSegment(1);
  otherId[8] = 'x';
  struct Case {
    const char* name;
    std::vector<Bytes> segments;
    bool jfif;
    int32_t extended;
    int32_t transform, version, flags0, flags1, jfifSeen;
  } cases[] = {
      {"one segment", {AdobeSegment(2, 101, 0xC000, 0x0001)}, true, 1, 2, 101, 0xC000, 1, 1},
      {"the first of two", {AdobeSegment(0, 100), AdobeSegment(2, 101)}, false, 1, 0, 100, 0, 0, 0},
      {"too short", {shortSegment}, false, 1, -1, 0, 0, 0, 0},
      {"another identifier", {otherId}, false, 1, -1, 0, 0, 0, 0},
      {"default mode", {AdobeSegment(0, 100)}, true, 0, -1, 0, 0, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto h = read(c.segments, c.jfif, c.extended);
    const iffjpeg::DecoderState& dec = h->dec();
    EXPECT_EQ(dec.adobeTransform, c.transform);
    if (c.transform >= 0) {
      EXPECT_EQ(dec.adobeVersion, c.version);
      EXPECT_EQ(dec.adobeFlags0, c.flags0);
      EXPECT_EQ(dec.adobeFlags1, c.flags1);
    }
    EXPECT_EQ(dec.jfifSeen, c.jfifSeen);
    EXPECT_EQ(dec.jpegColourSpace, iffjpeg::kColourGrey);
  }
}

// The conversion rows on every pair of bytes: CMYK against the formula,
// YCCK against the YCbCr row followed by the formula. Widths run through the
// fast YCbCr kernel's groups and the scalar tail.
class InkRows : public ::testing::Test {
 protected:
  void SetUp() override {
    dec.methods = &methods;
    dec.outputColourSpace = iffjpeg::kColourRgb;
    for (int i = 0; i < 256; ++i) limit[256 + i] = static_cast<uint8_t>(i);
    std::memset(limit + 512, 255, 256);
    dec.rangeLimit = limit + 256;
    for (int c = 0; c < 4; ++c) {
      samples[c].resize(kPairs);
      rows[c] = samples[c].data();
      input[c] = &rows[c];
    }
    // Component 3 (K) is the high byte of the pair, the others vary with
    // the low byte in different orders.
    for (int i = 0; i < kPairs; ++i) {
      samples[0][i] = static_cast<uint8_t>(i);
      samples[1][i] = static_cast<uint8_t>(255 - i);
      samples[2][i] = static_cast<uint8_t>(i * 37 + 11);
      samples[3][i] = static_cast<uint8_t>(i >> 8);
    }
  }
  void TearDown() override {
    for (int32_t* table : dec.pool.heapTables) free(table);
  }
  std::vector<uint8_t> Run(int32_t space, int32_t width) {
    dec.jpegColourSpace = space;
    dec.numComponents = space == iffjpeg::kColourYcc ? 3 : 4;
    EXPECT_EQ(iffjpeg::SelectColourDeconverter(dec), 0);
    EXPECT_EQ(dec.outputComponents, 3);
    std::vector<uint8_t> out(3 * static_cast<std::size_t>(width));
    iffjpeg::SampleRow output[1] = {out.data()};
    methods.convertColour(dec, 0, width, input, output);
    return out;
  }
  static constexpr int kPairs = 65536;
  iffjpeg::DecoderState dec{};
  iffjpeg::DecoderMethods methods{};
  uint8_t limit[768] = {};
  std::vector<uint8_t> samples[4];
  iffjpeg::SampleRow rows[4];
  iffjpeg::SampleArray input[4];
};

TEST_F(InkRows, CmykEveryPair) {
  std::vector<uint8_t> out = Run(iffjpeg::kColourCmyk, kPairs);
  EXPECT_EQ(methods.convertColour, iffjpeg::ConvertCmykToRgb);
  int wrong = 0;
  for (int i = 0; i < kPairs; ++i) {
    for (int c = 0; c < 3; ++c) {
      wrong += out[3 * i + c] != Ink(samples[c][i], samples[3][i]);
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST_F(InkRows, YcckIsTheYccRowThenTheFormula) {
  for (int32_t width : {kPairs, 1, 15, 16, 17, 47}) {
    SCOPED_TRACE(width);
    std::vector<uint8_t> out = Run(iffjpeg::kColourYcck, width);
    EXPECT_EQ(methods.convertColour, iffjpeg::ConvertYcckToRgb);
    std::vector<uint8_t> prime = Run(iffjpeg::kColourYcc, width);
    int wrong = 0;
    for (int i = 0; i < width; ++i) {
      for (int c = 0; c < 3; ++c)
        wrong += out[3 * i + c] != Ink(255 - prime[3 * i + c], samples[3][i]);
    }
    EXPECT_EQ(wrong, 0);
  }
}

TEST_F(InkRows, SelectionRefusals) {
  struct Case {
    int32_t space, components, output, expected;
  } cases[] = {{iffjpeg::kColourCmyk, 3, iffjpeg::kColourRgb, 2},
               {iffjpeg::kColourYcck, 3, iffjpeg::kColourRgb, 2},
               {iffjpeg::kColourCmyk, 4, iffjpeg::kColourGrey, 7},
               {iffjpeg::kColourYcck, 4, iffjpeg::kColourGrey, 7},
               {iffjpeg::kColourYcck + 1, 4, iffjpeg::kColourRgb, 2}};
  for (const Case& c : cases) {
    dec.jpegColourSpace = c.space;
    dec.numComponents = static_cast<int16_t>(c.components);
    dec.outputColourSpace = c.output;
    EXPECT_EQ(iffjpeg::SelectColourDeconverter(dec), c.expected) << c.space << " " << c.components;
  }
}

}  // namespace
