// The test builder's progressive files (T.81 Annex G), proven before the
// library reads them: an independent decoder (stb_image) must make of every
// progressive file exactly the picture it makes of the sequential twin that
// holds the same quantized coefficients.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/images.h"
#include "support/jpeg_builder.h"
#include "support/progressive_cases.h"

namespace {

using namespace iffjpeg_test;

void ExpectTwinsDecodeAlike(const Image& image, const JpegBuildOptions& sequential,
                            const JpegBuildOptions& progressive, const std::string& what) {
  Image reference, decoded;
  ASSERT_TRUE(StbDecode(BuildJpeg(image, sequential), &reference)) << what;
  ASSERT_TRUE(StbDecode(BuildJpeg(image, progressive), &decoded)) << what << ": refused";
  ASSERT_EQ(decoded.pixels.size(), reference.pixels.size()) << what;
  if (decoded.pixels == reference.pixels) return;
  for (int y = 0; y < reference.height; ++y) {
    std::size_t row = static_cast<std::size_t>(reference.width) * reference.channels;
    if (!std::equal(reference.row(y), reference.row(y) + row, decoded.row(y))) {
      ADD_FAILURE() << what << ": first differing line " << y;
      return;
    }
  }
}

TEST(ProgressiveBuilderStb, EveryLayoutSizeAndScriptMatchesTheSequentialTwin) {
  for (const ProgressiveLayout& layout : ProgressiveLayouts()) {
    int components = static_cast<int>(layout.options.components.size());
    for (auto [width, height] : ProgressiveSizes()) {
      Image image = MakeTestImage(width, height, layout.channels, 21);
      for (int quality : {75, 98}) {
        JpegBuildOptions sequential = layout.options;
        sequential.quality = quality;
        for (const ProgressiveScript& script : ProgressiveScripts(components)) {
          ExpectTwinsDecodeAlike(image, sequential, WithScript(sequential, script),
                                 std::string(layout.name) + " " + std::to_string(width) + "x" +
                                     std::to_string(height) + " q" + std::to_string(quality) +
                                     ", " + script.name);
        }
      }
    }
  }
}

// Options that change bytes but not coefficients: a DRI that changes between
// scans (and goes away), tables in one segment, fill bytes, 16-bit DQT.
TEST(ProgressiveBuilderStb, ByteLevelOptionsKeepThePicture) {
  struct Variant {
    const char* name;
    void (*apply)(JpegBuildOptions&);
  };
  const Variant variants[] = {
      {"DRI changes between scans",
       [](JpegBuildOptions& o) {
         o.scanRestartInterval = {{0, 2}, {2, 0}, {3, 1}, {5, 7}};
       }},
      {"one DHT per scan", [](JpegBuildOptions& o) { o.tablesInOneSegment = true; }},
      {"fill bytes, restart 4",
       [](JpegBuildOptions& o) {
         o.fillBytes = true;
         o.restartInterval = 4;
       }},
      {"16-bit DQT", [](JpegBuildOptions& o) { o.sixteenBitQuant = true; }},
  };
  for (const ProgressiveLayout& layout : ProgressiveLayouts()) {
    Image image = MakeTestImage(45, 37, layout.channels, 5);
    int components = static_cast<int>(layout.options.components.size());
    for (const Variant& variant : variants) {
      JpegBuildOptions sequential = layout.options;
      variant.apply(sequential);
      JpegBuildOptions progressive = sequential;
      progressive.progressiveScans = SuccessiveApproximationScript(components);
      sequential.scanRestartInterval.clear();
      ExpectTwinsDecodeAlike(image, sequential, progressive,
                             std::string(layout.name) + ", " + variant.name);
    }
  }
}

// EOB runs stop at 32767 blocks (EOB14 with 14 extra bits): a flat picture of
// more blocks than that codes its AC scans as a few maximal runs.
TEST(ProgressiveBuilderStb, EobRunsLongerThanTheLongestCode) {
  Image image;
  image.width = 1600;
  image.height = 1320;  // 200 x 165 = 33000 blocks
  image.channels = 1;
  image.pixels.assign(static_cast<std::size_t>(image.width) * image.height, 140);
  for (int y = 0; y < image.height; y += 97) image.row(y)[(y * 13) % image.width] = 20;
  for (const auto& scans : {BandSelectionScript(1), DeepApproximationScript(1, 2)}) {
    JpegBuildOptions progressive = GreyOptions();
    progressive.progressiveScans = scans;
    ExpectTwinsDecodeAlike(image, GreyOptions(), progressive, "33000 blocks");
  }
}

// The stream itself: SOF2, each scan header as the script gives it, a DHT
// before every scan that codes symbols (none before a DC refinement), and
// tables that are prefix codes of at most 16 bits without the all-ones code.
TEST(ProgressiveBuilderStructure, ScansTablesAndHeaders) {
  Image image = MakeTestImage(60, 44, 3, 9);
  JpegBuildOptions options = ColourOptions(2, 1);
  options.progressiveScans = SuccessiveApproximationScript(3);
  auto segments = ListSegments(BuildJpeg(image, options));
  std::vector<int> frames;
  for (const auto& s : segments) {
    if (s.marker >= 0xC0 && s.marker <= 0xCF && s.marker != 0xC4) frames.push_back(s.marker);
  }
  EXPECT_EQ(frames, std::vector<int>{0xC2});
  std::size_t scan = 0;
  bool tablesSinceLastScan = false;
  for (const auto& s : segments) {
    if (s.marker == 0xC4) {
      tablesSinceLastScan = true;
      const auto& p = s.payload;
      long space = 1;
      int total = 0;
      for (int length = 1; length <= 16; ++length) {
        space = space * 2 - p[length];
        total += p[length];
        EXPECT_GE(space, 1) << "scan " << scan << ", length " << length;
      }
      EXPECT_EQ(p.size(), 17u + total);
      EXPECT_EQ(std::set<int>(p.begin() + 17, p.end()).size(), static_cast<std::size_t>(total));
      continue;
    }
    if (s.marker != 0xDA) continue;
    ASSERT_LT(scan, options.progressiveScans.size());
    const ProgressiveScan& expected = options.progressiveScans[scan];
    const auto& p = s.payload;
    ASSERT_EQ(p.size(), 4u + 2 * expected.components.size());
    EXPECT_EQ(p[0], expected.components.size());
    for (std::size_t i = 0; i < expected.components.size(); ++i) {
      EXPECT_EQ(p[1 + 2 * i], options.components[expected.components[i]].id);
    }
    std::size_t tail = 1 + 2 * expected.components.size();
    EXPECT_EQ(p[tail], expected.ss) << "scan " << scan;
    EXPECT_EQ(p[tail + 1], expected.se) << "scan " << scan;
    EXPECT_EQ(p[tail + 2], expected.ah << 4 | expected.al) << "scan " << scan;
    bool dcRefinement = expected.ss == 0 && expected.ah > 0;
    EXPECT_EQ(tablesSinceLastScan, !dcRefinement) << "scan " << scan;
    tablesSinceLastScan = false;
    ++scan;
  }
  EXPECT_EQ(scan, options.progressiveScans.size());
}

}  // namespace
