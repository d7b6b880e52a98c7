#include "support/progressive_cases.h"

namespace iffjpeg_test {

std::vector<ProgressiveLayout> ProgressiveLayouts() {
  return {{"grey", GreyOptions(), 1},
          {"grey 2x2", GreyOptions(2, 2), 1},
          {"4:4:4", ColourOptions(1, 1), 3},
          {"4:2:2", ColourOptions(2, 1), 3},
          {"4:2:0", ColourOptions(2, 2), 3},
          {"4:1:1", ColourOptions(4, 1), 3},
          {"4:4:0", ColourOptions(1, 2), 3},
          {"4:1:0", ColourOptions(4, 2), 3},
          {"2x2,1x2,1x2", ColourOptions(2, 2, 1, 2), 3}};
}

std::vector<std::pair<int, int>> ProgressiveSizes() {
  return {{1, 1}, {7, 9}, {33, 17}, {100, 75}, {16, 16}};
}

std::vector<ProgressiveScript> ProgressiveScripts(int components) {
  std::vector<ProgressiveScript> scripts = {
      {"band selection", BandSelectionScript(components)},
      {"successive approximation", SuccessiveApproximationScript(components)},
      {"single-component DC", SingleComponentDcScript(components)},
      {"narrow bands", NarrowBandsScript(components)},
      {"Al 3", DeepApproximationScript(components, 3)},
      {"Al 5", DeepApproximationScript(components, 5)},
      {"successive approximation, restart 1", SuccessiveApproximationScript(components), 1},
      {"successive approximation, restart 3", SuccessiveApproximationScript(components), 3},
      {"narrow bands, restart 2", NarrowBandsScript(components), 2},
      {"Al 3, restart 5", DeepApproximationScript(components, 3), 5},
  };
  return scripts;
}

JpegBuildOptions WithScript(JpegBuildOptions options, const ProgressiveScript& script) {
  options.progressiveScans = script.scans;
  options.restartInterval = script.restartInterval;
  return options;
}

}  // namespace iffjpeg_test
