// Why the driver refused a JPEG file, told from the file's own markers: a
// small walk from SOI to the first scan header that the tool runs only
// after a refusal, so that the message can say what the file is instead
// of only the driver's code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace iffjpeg_cli {

// What the walk found before the first scan header (T.81 B.2).
struct JpegOutline {
  bool startsWithSoi = false;
  bool endedEarly = false;  // the file ended before the first scan header was whole
  bool eoiBeforeScan = false;
  bool hierarchical = false;  // a DHP segment (T.81 B.3.2) came before the frame
  int frameMarker = 0;        // 0xC0..0xCF, 0 when no frame header was reached
  int precision = 0;
  int components = 0;
  bool scanReached = false;
  int scanComponents = 0;
  int ss = 0, se = 0, ah = 0, al = 0;
};

// Walks path's markers; reads at most a bounded number of bytes and
// segments, whatever the file holds.
JpegOutline OutlineJpeg(const std::string& path);
// The same walk over a file held in memory.
JpegOutline OutlineJpeg(const std::vector<uint8_t>& bytes);

// The reason a file with this outline is refused, as the tool prints it
// ("not a JPEG file", "unsupported JPEG: progressive (...)", ...), or an
// empty string when the markers do not tell. strict: the file was read
// without extended reading (progressive and four-component files refused).
std::string RefusalReason(const JpegOutline& outline, bool strict);

}  // namespace iffjpeg_cli
