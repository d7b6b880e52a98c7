// Reading whole files through the public entry points, for the decoder's
// whole-file tests.
#pragma once

#include <cstdint>
#include <vector>

#include "support/images.h"

namespace iffjpeg_test {

struct DecodeResult {
  int32_t openResult = 0;  // IFFOpen's value (negative: the failure code)
  int32_t width = 0, height = 0, planes = 0;
  std::vector<int32_t> lineCodes;  // IFFGetLine's result for each line
  int32_t closeResult = 0;
  Image image;  // the lines read, one IFFGetLine call per line
};

// Opens jpeg from memory (mode 0, with the given flags OR-ed in, e.g.
// IFF_MODE_EXTENDED), reads every line one call at a time and closes. On a
// failed open only openResult is set.
DecodeResult DecodeWithLibrary(const std::vector<uint8_t>& jpeg, int32_t modeFlags = 0);

// Encodes with stb_image_write (an independent encoder): channels 1 or 3;
// quality above 90 keeps full-resolution chroma, else 2x2 subsampling.
std::vector<uint8_t> StbEncode(const Image& image, int quality);

}  // namespace iffjpeg_test
