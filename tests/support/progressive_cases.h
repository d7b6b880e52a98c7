// The matrix shared by the progressive tests: sampling layouts, odd sizes and
// named scan scripts for the test builder, so that the builder's own check
// (against stb_image) and the library's twin tests cover the same files.
#pragma once

#include <string>
#include <vector>

#include "support/jpeg_builder.h"

namespace iffjpeg_test {

struct ProgressiveLayout {
  const char* name;
  JpegBuildOptions options;  // the sequential twin's options
  int channels;              // of the source image
};

struct ProgressiveScript {
  std::string name;
  std::vector<ProgressiveScan> scans;
  int restartInterval = 0;
};

// grey, grey 2x2, 4:4:4, 4:2:2, 4:2:0, 4:1:1, 4:4:0, 4:1:0, 2x2/1x2/1x2.
std::vector<ProgressiveLayout> ProgressiveLayouts();

// Width x height pairs from 1x1 up, most of them not multiples of 8 or 16.
std::vector<std::pair<int, int>> ProgressiveSizes();

// Every ready-made script for a frame of that many components, plus
// restart-interval variants (1 and 3 MCUs, and a DRI that changes between
// scans).
std::vector<ProgressiveScript> ProgressiveScripts(int components);

// The options of the progressive file of a twin pair.
JpegBuildOptions WithScript(JpegBuildOptions options, const ProgressiveScript& script);

}  // namespace iffjpeg_test
